#include "app/uHistrel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <thread>

#include "app/uHistrelConstants.h"
#include "app/uHistrelInternal.h"
#include "app/uHistrelRunKind.h"
#include "base/Exception.h"
#include "platform/FileSystem.h"
#include "support/uStringRoutines.h"
#include "text/Ansi.h"
#include "text/TextLines.h"
#include "text/Utf8.h"

using histrel_internal::TrimRange;

namespace {

// A line is word-wrapped while its length plus the next word stays within
// this; with the blank before the word a line then holds at most 80.
constexpr std::size_t kWrapLimit = 79;
// The date "yyyy.mm.dd" is always this long.
constexpr std::size_t kDateLength = 10;

}  // namespace

unsigned DefaultReadThreads() {
  // Reading many files is bound by the disk or the memory before eight
  // threads; 0 means the count is not known.
  return std::min(std::max(std::thread::hardware_concurrency(), 1U), 8U);
}

std::string FormatHistoryDate(const platform::LocalDate& ADate) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d.%02d.%02d", ADate.year, ADate.month, ADate.day);
  return text;
}

THistrel::THistrel(TDateSource ADateSource)
    : FDateSource(std::move(ADateSource)), FRunKind(std::make_unique<TRunInFiles>()) {
  SetInsertText("CVSLOG");
  SetRecursive(true);
  SetKeepCVS(false);
  SetKeepDate(true);
  SetReadThreads(DefaultReadThreads());
  SetSourceExtensions(ReadSourceExtensions(""));
  FReader.SetLinePart(FSourceReading.LinePart);
}

THistrel::~THistrel() = default;

void THistrel::SetPath(const std::string& AValue) { FPath = AValue; }
void THistrel::SetFileName(const std::string& AValue) { FFileName = AValue; }
void THistrel::SetUser(const std::string& AValue) {
  FUser = AValue;
  FSource.User = histrel_internal::TextForSource(FUser, FSource.Utf8);
}
void THistrel::SetInsertText(const std::string& AValue) { FInsertText = AValue; }
void THistrel::SetKeepCVS(bool AValue) { FKeepCVS = AValue; }
void THistrel::SetKeepDate(bool AValue) { FKeepDate = AValue; }
void THistrel::SetRecursive(bool AValue) { FRecursive = AValue; }
void THistrel::SetSourceReading(const TSourceReading& AValue) {
  FSourceReading = AValue;
  FReader.SetBufferSize(AValue.BufferSize);
  FReader.SetLinePart(AValue.LinePart);
}
void THistrel::SetReadThreads(unsigned AValue) { FReadThreads = std::max(AValue, 1U); }
void THistrel::SetOutput(THistrelOutput* AOutput) {
  if (AOutput != nullptr) {
    FRunKind = std::make_unique<TRunInPreview>(*AOutput);
  } else {
    FRunKind = std::make_unique<TRunInFiles>();
  }
}
void THistrel::SetFileList(std::vector<TListedFile> AFiles) { FFileList = std::move(AFiles); }
void THistrel::SetProgress(std::function<void(const TTally&)> AProgress) {
  FProgress = std::move(AProgress);
}
void THistrel::SetSourceExtensions(std::vector<std::string> AValue) {
  FSourceExtensions = std::move(AValue);
}
void THistrel::SetKeepGoing(TRefusalReport AReport) { FReportRefusal = std::move(AReport); }
void THistrel::SetSourceUtf8(bool AValue) {
  FSource.Utf8 = AValue;
  FSource.User = histrel_internal::TextForSource(FUser, FSource.Utf8);
}

std::string THistrel::Today() const { return FormatHistoryDate(FDateSource()); }

// The column of the date in the first entry line, which always starts with
// the user as written into the source and a blank. Continuation words stand
// 11 columns further on, under the first word after the date. Taken from the
// user's length rather than by looking for the date, so that a user name
// holding a date, or a date that changes at midnight between two pieces,
// cannot shift the columns.
std::size_t THistrel::DateColumn() const {
  return (FSource.Utf8 ? text::Utf8Columns(FSource.User) : FSource.User.size()) + 2;
}

// ---------------------------------------------------------------------------
// History entries

void THistrel::AddHistoryText(const std::string& AText) {
  AddHistoryPiece(AText, 0, AText.size(), false);
}

void THistrel::AddHistoryPiece(const std::string& AText, std::size_t ABegin, std::size_t AEnd,
                               bool AWithMark, bool AMarkInText) {
  if (FUser.empty()) throw Exception(SUserMissing);
  // The text trimmed; a mark behind it is its last character, which ends
  // the entry and goes.
  bool endOfEntry = AWithMark;
  if (AWithMark || !AMarkInText) {
    while (ABegin < AEnd && text::IsBlankByte(AText[ABegin])) ++ABegin;
  } else {
    TrimRange(AText, ABegin, AEnd);
    if (ABegin < AEnd && AText[AEnd - 1] == kHistoryMark) {
      endOfEntry = true;
      --AEnd;
    }
  }
  const std::string date = Today();
  std::string line;
  std::size_t index;
  bool columnsKnown = false;
  if (FHistoryLines.empty()) {
    FHistoryLines.insert(0, "{");
    index = 1;
    line = FSource.User + " " + date;
    FLastLine = TLastLineColumns();
  } else {
    index = FHistoryLines.size() - 1;
    line = FHistoryLines.pop_back();
    // An empty last line closed the previous entry: this piece begins a new
    // one, whose first word goes under the first word after the date.
    if (line.empty()) {
      line.assign(DateColumn() + kDateLength - 1, ' ');
    } else {
      columnsKnown = FLastLine.Lines == index + 1 && FLastLine.Bytes == line.size();
    }
  }
  // The columns of a line are counted once, when it is begun, and then kept
  // up with its words: a line of combining marks, which take none, may hold
  // any number of bytes and still take the words of many more pieces.
  std::size_t columns = FLastLine.Columns;
  if (!columnsKnown) columns = FSource.Utf8 ? text::Utf8Columns(line) : line.size();
  WrapWords(AText, ABegin, AEnd, std::move(line), columns, endOfEntry, index);
}

void THistrel::WrapWords(const std::string& AText, std::size_t ABegin, std::size_t AEnd,
                         std::string ALine, std::size_t ALineColumns, bool AEndOfEntry,
                         std::size_t AIndex) {
  // The words are taken where they stand, never by cutting the front off
  // the rest of the text, so that a note of any length is wrapped in one pass.
  // In a UTF-8 source lengths are columns rather than bytes; words are still
  // cut at blanks only, which never split a character.
  TrimRange(AText, ABegin, AEnd);
  const auto width = [this](std::string_view APart) {
    return FSource.Utf8 ? text::Utf8Columns(APart) : APart.size();
  };
  const std::size_t indent = DateColumn() + kDateLength;
  std::size_t lineWidth = ALineColumns;
  const auto insertLine = [&] {
    if (AIndex == FHistoryLines.size()) {
      FLastLine = {AIndex + 1, ALine.size(), lineWidth};
      FHistoryLines.push_back(std::move(ALine));
    } else {
      FHistoryLines.insert(AIndex, ALine);
    }
    ALine.clear();
    ++AIndex;
  };
  if (ABegin == AEnd) {
    FLastLine = {FHistoryLines.size() + 1, ALine.size(), lineWidth};
    FHistoryLines.push_back(std::move(ALine));
  } else {
    for (std::size_t at = ABegin;;) {
      while (text::IsBlankByte(AText[at])) ++at;
      const void* blank = std::memchr(AText.data() + at, ' ', AEnd - at);
      const bool last = blank == nullptr;
      const std::size_t next =
          last ? AEnd : static_cast<std::size_t>(static_cast<const char*>(blank) - AText.data());
      std::size_t wordEnd = next;
      while (wordEnd > at && text::IsBlankByte(AText[wordEnd - 1])) --wordEnd;
      const std::string_view word(AText.data() + at, wordEnd - at);
      const std::size_t wordWidth = width(word);
      // A word is never split: one longer than the room of a line stands
      // alone on it, and the line may then exceed 80 characters.
      if (lineWidth + wordWidth <= kWrapLimit) {
        ALine.append(1, ' ').append(word);
        lineWidth += 1 + wordWidth;
      } else {
        insertLine();
        ALine.assign(indent, ' ').append(word);
        lineWidth = indent + wordWidth;
      }
      // The last word: the line enters the list once, with it or after it.
      if (last) {
        insertLine();
        break;
      }
      at = next + 1;
    }
  }
  if (AEndOfEntry) FHistoryLines.push_back(std::string_view());
}

// ---------------------------------------------------------------------------

void ApplyFileSwitch(THistrel& AHistrel, const std::string& AFile) {
  if (AFile.empty()) throw Exception(SFileSwitchMissing);
  std::string rest;
  for (char c : AFile) {
    if (c != '"') rest += c;
  }
  // Everything up to and including the last backslash is the path; only the
  // backslash separates directories.
  for (std::string::size_type slash = rest.find('\\'); slash != std::string::npos;
       slash = rest.find('\\')) {
    AHistrel.SetPath(AHistrel.Path() + rest.substr(0, slash + 1));
    rest.erase(0, slash + 1);
  }
  // A last part with a full stop is a file name or mask, even when a
  // directory of that name exists; one without names a directory.
  if (rest.find('.') != std::string::npos) {
    AHistrel.SetFileName(rest);
  } else {
    AHistrel.SetPath(AHistrel.Path() + rest);
    AHistrel.SetFileName("");
  }
  if (!AHistrel.FileName().empty() && AHistrel.Path().empty()) AHistrel.SetPath(".\\");
}

TListedFile ListedFileOf(const std::string& ANative) {
  std::string path;
  if (!platform::SystemPathOf(ANative, path)) return {"", ANative, ANative, false};
  // As FILE splits a file name off: the directory keeps its last backslash,
  // and a name without one is in ".\\".
  const std::string::size_type slash = path.rfind('\\');
  if (slash == std::string::npos) return {".\\", path, path, true};
  return {path.substr(0, slash + 1), path.substr(slash + 1), path, true};
}

const char* const kPascalSourceExtensions = ".pas .pp .p .inc .dpr .lpr .dpk";

std::vector<std::string> ReadSourceExtensions(const std::string& AText) {
  std::vector<std::string> extensions;
  std::string::size_type start = 0;
  while (start < AText.size()) {
    std::string::size_type end = AText.find_first_of(" \t,;", start);
    if (end == std::string::npos) end = AText.size();
    std::string word = AText.substr(start, end - start);
    start = end + 1;
    word.erase(0, word.find_first_not_of('*'));
    if (word.empty() || word == ".") continue;
    if (word[0] != '.') word.insert(0, ".");
    extensions.push_back(text::AnsiUpperCase(word));
  }
  if (extensions.empty() && AText != kPascalSourceExtensions) {
    return ReadSourceExtensions(kPascalSourceExtensions);
  }
  return extensions;
}

void ApplyFileList(THistrel& AHistrel, const std::vector<std::string>& ANatives) {
  std::vector<TListedFile> files;
  files.reserve(ANatives.size());
  for (const std::string& native : ANatives) files.push_back(ListedFileOf(native));
  AHistrel.SetFileList(std::move(files));
}
