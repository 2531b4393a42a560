#include "app/uHistrel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/uHistrelConstants.h"
#include "app/uHistrelInternal.h"
#include "platform/AtomicFile.h"
#include "platform/Exception.h"
#include "platform/TextFile.h"
#include "support/uStringRoutines.h"
#include "text/Ansi.h"
#include "text/TextScan.h"

using histrel_internal::EndsWithBackslash;
using histrel_internal::FindAnsiText;
using histrel_internal::TemporaryPathOf;
using histrel_internal::TrimRange;

namespace {

const char kBraceMarker[] = "{CVS*";
const char kMarker[] = "CVS*";

// Bounds on what the collection notes for the rewrite of one source; beyond
// them the rest of it is rewritten line by line.
constexpr std::size_t kMaxPlainStretches = 4096;
constexpr std::size_t kMaxUnplannedStops = 1024;

// Reads the next line of a source; a read failure becomes the tool's message
// naming the file, because the platform's message does not name it.
bool ReadSourceLine(platform::TextReader& reader, std::string& line, const std::string& shown) {
  try {
    return reader.ReadLine(line);
  } catch (const Exception&) {
    throw Exception(FormatText(SCannotEditFile, shown));
  }
}

// Whether the source may hold "CVS*". A read failure says yes: the reading
// line by line then reports it, naming the file.
bool MayHoldMarker(platform::TextReader& reader) {
  try {
    return reader.MayHold(kMarker);
  } catch (const Exception&) {
    return true;
  }
}

// Passes over lines as ReadSourceLine would read them.
bool SkipSourceLines(platform::TextReader& reader, const text::LineStops& stops,
                     const std::string& shown) {
  try {
    return reader.SkipLines(stops);
  } catch (const Exception&) {
    throw Exception(FormatText(SCannotEditFile, shown));
  }
}

// Whether a line can hold the upper-cased insert text: no line holds an LF
// or a Ctrl-Z, and an empty text is never found.
bool InsertTextCanBeFound(const std::string& upperInsertText) {
  return !upperInsertText.empty() && upperInsertText.find_first_of("\n\x1A") == std::string::npos;
}

// The line end that the source's first line has, which the rewrite gives
// every line it writes: LF when that line ends in LF alone, else CR LF.
const char* SourceLineEnd(platform::TextReader& reader, const std::string& shown) {
  try {
    return reader.FirstLineEnd() == platform::LineEnd::kLf ? "\n" : "\r\n";
  } catch (const Exception&) {
    throw Exception(FormatText(SCannotEditFile, shown));
  }
}

// The line end of lines appended to a log: that of the log, or, for a log
// that is new or empty, that of its source.
std::string LogLineEnd(const platform::Directory& directory, const std::string& logName,
                       const std::string& sourceLineEnd) {
  platform::TextReader log;
  log.SetBufferSize(4096);
  if (!log.Open(directory, logName) || log.Size() == 0) return sourceLineEnd;
  try {
    return log.FirstLineEnd() == platform::LineEnd::kLf ? "\n" : "\r\n";
  } catch (const Exception&) {
    return sourceLineEnd;  // appending then reports what is wrong with it
  }
}

// Notes stretches of plain lines for the rewrite: joined when they meet,
// left out when empty.
template <class TStretches>
void AddPlainStretch(TStretches& stretches, std::uint64_t from, std::uint64_t to) {
  if (to <= from) return;
  if (!stretches.empty() && stretches.back().To == from) {
    stretches.back().To = to;
    return;
  }
  stretches.push_back({from, to});
}

// Where the text of a comment stands in its line: the bytes [Begin, End);
// Open when the comment goes on in the next line; Marker is the position of
// its marker.
struct TCommentRange {
  std::size_t Marker = 0;
  std::size_t Begin = 0;
  std::size_t End = 0;
  bool Open = false;
};

// The brace form "{CVS*": false when the line holds none.
bool FindBraceComment(const std::string& ALine, TCommentRange& ARange) {
  const std::string::size_type at = ALine.find(kBraceMarker);
  if (at == std::string::npos) return false;
  // The character after the asterisk separates and is not part of the text:
  // "{CVS*note}" gives "ote", and in "{CVS*}" the brace itself is dropped.
  std::size_t begin = std::min(at + 6, ALine.size());
  std::size_t end = ALine.size();
  TrimRange(ALine, begin, end);
  const std::string::size_type close = ALine.find('}', begin);
  if (close == std::string::npos) {
    ARange = {at, begin, end, true};
  } else {
    ARange = {at, begin, close, false};
  }
  return true;
}

// Whether AText before AEnd, trimmed, is exactly "//": the head of a line
// comment of its own.
bool IsLineCommentHead(const std::string& AText, std::size_t AEnd) {
  std::size_t first = 0;
  while (first < AEnd && static_cast<unsigned char>(AText[first]) <= 32) ++first;
  while (AEnd > first && static_cast<unsigned char>(AText[AEnd - 1]) <= 32) --AEnd;
  return AText.compare(first, AEnd - first, "//") == 0;
}

// The line form "// CVS*": false when the line holds none.
bool FindLineComment(const std::string& ALine, TCommentRange& ARange) {
  const std::string::size_type at = ALine.find(kMarker);
  // Only a line comment of its own counts: "x := 1; // CVS* note" does not.
  if (at == std::string::npos || !IsLineCommentHead(ALine, at)) return false;
  std::size_t begin = std::min(at + 5, ALine.size());
  std::size_t end = ALine.size();
  TrimRange(ALine, begin, end);
  ARange = {at, begin, end, false};
  return true;
}

// Writes AText without the characters of code 0 to 32 at both ends, as a
// line.
void WriteTrimmedLine(platform::TextWriter& AWriter, const std::string& AText,
                      const std::string& ALineEnd) {
  std::size_t first = 0;
  std::size_t last = AText.size();
  TrimRange(AText, first, last);
  AWriter.Write(AText.data() + first, last - first);
  AWriter.Write(ALineEnd);
}

// Writes AText with "{" as "(" and "}" as ")": a history line under a brace
// comment's marker must neither end that comment nor open a nested one.
void WriteWithoutBraces(platform::TextWriter& AWriter, const std::string& AText) {
  std::size_t from = 0;
  for (std::size_t at = AText.find_first_of("{}"); at != std::string::npos;
       at = AText.find_first_of("{}", from)) {
    AWriter.Write(AText.data() + from, at - from);
    AWriter.Write(AText[at] == '{' ? "(" : ")", 1);
    from = at + 1;
  }
  AWriter.Write(AText.data() + from, AText.size() - from);
}

// Converts the marked comment that the collection takes from a line: a brace
// form "{CVS*" becomes "{" or "{CVS" followed by the middle; otherwise a line
// form "CVS*" becomes nothing or "CVS" followed by the middle. A line comment
// behind a collected brace comment keeps its marker, so that the next run
// still takes its text. Markers are looked for in AView, which is ALine
// itself or ALine with its part inside the history comment blanked; both are
// converted alike, in place, so that a long line is not copied.
void ConvertLine(std::string& ALine, std::string& AView, bool AKeepCVS,
                 const std::string& AMiddle) {
  const auto splice = [&](std::size_t at, std::size_t count) {
    ALine.replace(at, count, AMiddle);
    if (&AView != &ALine) AView.replace(at, count, AMiddle);
  };
  TCommentRange range;
  if (FindBraceComment(AView, range)) {
    const std::size_t kept = AKeepCVS ? 4 : 1;
    splice(range.Marker + kept, 5 - kept);
    // A brace comment with text was collected: the line holds no other.
    if (range.Open || range.End > range.Begin) return;
  }
  const std::string::size_type marker = AView.find(kMarker);
  if (marker != std::string::npos && IsLineCommentHead(AView, marker)) {
    const std::size_t kept = AKeepCVS ? 3 : 0;
    splice(marker + kept, 4 - kept);
  }
}

// While the history comment is open, only what follows its closing "}" is
// looked at: nullptr when the line lies inside it entirely; else the line
// with what stands before that "}" blanked, in AView, and the comment closed.
// What the tool wrote into the history is thus never collected again.
std::string* OutsideHistory(const std::string& ALine, bool& AHistoryOpen, std::string& AView) {
  const std::string::size_type close = ALine.find('}');
  if (close == std::string::npos) return nullptr;
  AHistoryOpen = false;
  AView.assign(ALine);
  std::fill_n(AView.begin(), close, ' ');
  return &AView;
}

// What a converted comment carries after "{", "//", or "CVS" kept.
std::string ConversionMiddle(bool AKeepCVS, bool AKeepDate, const std::string& AHeader) {
  if (AKeepCVS) return AKeepDate ? ": " + AHeader : ":";
  return AKeepDate ? AHeader : "";
}

// Lines no longer than this are kept from file to file in the worker's line
// buffer; a longer one's memory is given back before the next file.
constexpr std::size_t kKeptLineCapacity = std::size_t{1} << 20;

// Closes a reader kept by the worker when a file's processing ends, a
// failure included.
class TReaderClosing {
 public:
  explicit TReaderClosing(platform::TextReader& AReader) : FReader(AReader) {}
  ~TReaderClosing() { FReader.Close(); }
  TReaderClosing(const TReaderClosing&) = delete;
  TReaderClosing& operator=(const TReaderClosing&) = delete;

 private:
  platform::TextReader& FReader;
};

}  // namespace

// ---------------------------------------------------------------------------
// Collecting and rewriting one source

const std::string& THistrel::SourcePath() {
  FSourcePath.assign(FPath);
  if (!FPath.empty() && !EndsWithBackslash(FPath)) FSourcePath += '\\';
  return FSourcePath.append(FFileName);
}

void THistrel::GetCommentText(const std::string& ALine, const std::string& APattern,
                              std::string& AText) {
  AText.clear();
  TCommentRange range;
  if (APattern == kBraceMarker) {
    if (!FindBraceComment(ALine, range)) return;
    AText.assign(ALine, range.Begin, range.End - range.Begin);
    if (range.Open) AText += kHistoryMark;
  } else if (APattern == "}") {
    const std::string::size_type close = ALine.find('}');
    if (close == std::string::npos) {
      AText = ALine + kHistoryMark;
    } else if (close == 0) {
      // Not empty, so that a "}" in column 1 still ends an open comment.
      AText = " ";
    } else {
      AText = ALine.substr(0, close);
    }
  } else if (APattern == "//") {
    if (FindLineComment(ALine, range)) AText.assign(ALine, range.Begin, range.End - range.Begin);
  }
}

// As GetCommentText and AddHistoryText would do it, on the positions of the
// texts in the line, so that a long note is not copied on its way.
void THistrel::CollectLine(const std::string& ALine, bool& ACommentOpen) {
  if (ACommentOpen) {
    const std::string::size_type close = ALine.find('}');
    if (close == std::string::npos) {
      AddHistoryPiece(ALine, 0, ALine.size(), false);
    } else {
      ACommentOpen = false;
      AddHistoryPiece(ALine, 0, close, true);
    }
  }
  // Both forms hold "CVS*"; most lines do not.
  if (ALine.find(kMarker) == std::string::npos) return;
  TCommentRange range;
  const bool brace = FindBraceComment(ALine, range) && (range.Open || range.End > range.Begin);
  if (!brace && (!FindLineComment(ALine, range) || range.End == range.Begin)) return;
  // A text whose last character is the mark reads as not closed.
  if (!range.Open && ALine[range.End - 1] == kHistoryMark) {
    range.Open = true;
    --range.End;
  }
  ACommentOpen = range.Open;
  AddHistoryPiece(ALine, range.Begin, range.End, !range.Open);
}

bool THistrel::IsLogOfAFileBeside() {
  static const char kLogExtension[] = ".cvs";
  const std::size_t extension = sizeof kLogExtension - 1;
  if (FFileName.size() <= extension ||
      FFileName.compare(FFileName.size() - extension, extension, kLogExtension) != 0) {
    return false;
  }
  // In a walk the file beside is asked for in the directory being listed,
  // which works at any depth.
  if (FDirectory != nullptr) {
    return FDirectory->KindOf(FFileName.substr(0, FFileName.size() - extension)) ==
           platform::EntryKind::kFile;
  }
  const std::string& path = SourcePath();
  return platform::IsFile(path.substr(0, path.size() - extension));
}

void THistrel::ProcessFile() {
  FHistoryLines.clear();
  FPlainStretches.clear();
  if (FLine.capacity() > kKeptLineCapacity) std::string().swap(FLine);
  // A log beside its source holds what the tool wrote; "*.pas" selects
  // "a.pas.cvs" too, but it is never collected from.
  if (IsLogOfAFileBeside()) return;
  const bool lineByLine = FSourceReading.LineByLine;
  platform::TextReader& reader = FReader;
  const TReaderClosing closing(reader);
  if (!OpenSource()) throw Exception(FormatText(SCannotEditFile, ShownSourcePath()));
  // A file without "CVS*" cannot hold a marked comment: most files of a tree
  // are of this kind, and they are searched, not split into lines.
  if (!lineByLine) {
    if (!MayHoldMarker(reader)) return;
    if (!reader.Seek(0)) throw Exception(FormatText(SCannotEditFile, ShownSourcePath()));
  }
  // A NUL byte makes it no Pascal source but, say, an editor's swap file,
  // which would lose what it keeps: it is left as it is. The bytes are
  // looked at while the comments are collected, so a big file is not read
  // once more for it.
  reader.WatchForNul();
  CollectComments(reader, ShownSourcePath());
  if (FHistoryLines.empty()) return;
  bool binary = true;
  try {
    binary = reader.HoldsNul();
  } catch (const Exception&) {
    throw Exception(FormatText(SCannotEditFile, ShownSourcePath()));
  }
  if (binary) {
    FHistoryLines.clear();
    return;
  }
  RewriteFile();
}

struct THistrel::TCollecting {
  std::string Middle;
  std::string UpperInsertText;
  std::string UpperBraceInsertText;
  bool InsertCanBeFound = false;
  bool MarkerFound = false;
  bool HistoryOpen = false;
};

void THistrel::FindMarkerLine(const std::string& ALine, TCollecting& ACollecting) {
  const std::string* converted = &ALine;
  if (ALine.find(kMarker) != std::string::npos) {
    FConverted.assign(ALine);
    ConvertLine(FConverted, FConverted, FKeepCVS, ACollecting.Middle);
    converted = &FConverted;
  }
  if (FindAnsiText(*converted, ACollecting.UpperInsertText) == std::string::npos) return;
  ACollecting.MarkerFound = true;
  // As the rewrite writes it: a brace comment's marker without a "}" behind
  // it leaves the history comment open below.
  const std::string::size_type brace = FindAnsiText(*converted, ACollecting.UpperBraceInsertText);
  ACollecting.HistoryOpen =
      brace != std::string::npos &&
      converted->find('}', brace + ACollecting.UpperBraceInsertText.size()) == std::string::npos;
}

bool THistrel::OpenSource() {
  const std::size_t holdLimit = FSourceReading.LineByLine ? 0 : FSourceReading.HoldLimit;
  FHome = nullptr;
  FHomeName.clear();
  if (FDirectory == nullptr) {
    // Called on its own: the directory is FPath, or that and the directory
    // part of a file name that has one.
    const std::string::size_type slash = FFileName.rfind('\\');
    const std::string directory =
        slash == std::string::npos ? FPath : SourcePath().substr(0, SourcePath().rfind('\\') + 1);
    if (!FOwnDirectory.Open(directory.empty() ? "." : directory)) return false;
    FLogName = slash == std::string::npos ? FFileName : FFileName.substr(slash + 1);
  } else {
    FOwnDirectory.Close();
    FLogName = FFileName;
  }
  const platform::Directory& directory = FDirectory != nullptr ? *FDirectory : FOwnDirectory;
  // Most sources are files of their own, opened where they are listed; a
  // link is followed to the file it names, whose directory is then where
  // the rewrite happens.
  if (FReader.Open(directory, FLogName, holdLimit)) {
    FHome = &directory;
    FHomeName = FLogName;
  } else if (platform::LocateFile(directory, FLogName, FHomeDirectory, FHomeName) &&
             FReader.Open(FHomeDirectory, FHomeName, holdLimit)) {
    FHome = &FHomeDirectory;
  }
  FLogName += ".cvs";
  return FHome != nullptr;
}

void THistrel::CollectComments(platform::TextReader& AReader, const std::string& AShown) {
  const bool skipping = !FSourceReading.LineByLine;
  FLineEnd = SourceLineEnd(AReader, AShown);
  if (!AReader.Seek(0)) throw Exception(FormatText(SCannotEditFile, AShown));
  TCollecting collecting;
  collecting.Middle = ConversionMiddle(FKeepCVS, FKeepDate, FUser + " " + Today());
  collecting.UpperInsertText = text::AnsiUpperCase(FInsertText);
  collecting.UpperBraceInsertText = "{" + collecting.UpperInsertText;
  collecting.InsertCanBeFound = InsertTextCanBeFound(collecting.UpperInsertText);
  // Lines are passed over, not read, while no comment is open, as long as
  // they hold no "CVS*" and, until the line that takes the history is
  // found, not the insert text either; inside the history comment, as long
  // as they hold no "}". While the passed lines are also plain (their text
  // and the line end the rewrite writes), they are noted for the rewrite to
  // copy.
  bool planning = skipping;
  std::size_t unplannedStops = 0;
  using Plain = text::LineStops::Plain;
  const Plain plainEnd = FLineEnd == "\n" ? Plain::kLf : Plain::kCrLf;
  const std::string& upperInsertText = collecting.UpperInsertText;
  const text::LineStops plainOrInsert(kMarker, upperInsertText, plainEnd);
  const text::LineStops plain(kMarker, "", plainEnd);
  const text::LineStops plainInHistory("}", "", plainEnd);
  const text::LineStops markerOrInsert(kMarker, upperInsertText, Plain::kAny);
  const text::LineStops marker(kMarker, "", Plain::kAny);
  const text::LineStops inHistory("}", "", Plain::kAny);

  bool commentOpen = false;
  std::string& line = FLine;
  for (;;) {
    bool stopped = false;
    const bool insertSearch = !collecting.MarkerFound && collecting.InsertCanBeFound;
    if (skipping && !commentOpen) {
      const text::LineStops& stops = collecting.HistoryOpen
                                         ? (planning ? plainInHistory : inHistory)
                                     : planning ? (insertSearch ? plainOrInsert : plain)
                                                : (insertSearch ? markerOrInsert : marker);
      const std::uint64_t from = AReader.Offset();
      const bool more = SkipSourceLines(AReader, stops, AShown);
      if (planning) AddPlainStretch(FPlainStretches, from, AReader.Offset());
      if (!more) break;
      stopped = true;
    }
    if (!ReadSourceLine(AReader, line, AShown)) break;
    const std::string* view = &line;
    if (collecting.HistoryOpen) view = OutsideHistory(line, collecting.HistoryOpen, FView);
    const bool marked = view != nullptr && view->find(kMarker) != std::string::npos;
    if (view != nullptr) CollectLine(*view, commentOpen);
    // The first line with the insert text, once converted, takes the history.
    if (insertSearch) FindMarkerLine(line, collecting);
    // Sources with mixed line ends have few plain lines to copy: their
    // rewrite writes every line, and the collection no longer notes.
    if (stopped && !marked) ++unplannedStops;
    if (unplannedStops > kMaxUnplannedStops || FPlainStretches.size() >= kMaxPlainStretches) {
      planning = false;
    }
  }
  // A source that ends inside an open comment: end the entry here, so that
  // its last line is written like every other. Its comment is converted and
  // would never be collected again.
  if (commentOpen) AddHistoryText(std::string(1, kHistoryMark));
}

struct THistrel::TRewriting {
  platform::TextWriter& Out;
  // What a converted comment carries after "{", "//", or "CVS" kept.
  std::string Middle;
  std::string UpperInsertText;
  std::string UpperBraceInsertText;
  std::size_t LastEntryLine;
  bool Inserted;
  bool HistoryOpen;
};

void THistrel::RewriteLine(std::string& ALine, platform::LineEnd AEnd, TRewriting& ARewriting) {
  platform::TextWriter& out = ARewriting.Out;
  // A line that a Ctrl-Z ended is followed by the Ctrl-Z and what comes after
  // it, as they are.
  static const std::string kNoLineEnd;
  const std::string& lineEnd = AEnd == platform::LineEnd::kCtrlZ ? kNoLineEnd : FLineEnd;
  std::string* view = &ALine;
  if (ARewriting.HistoryOpen) view = OutsideHistory(ALine, ARewriting.HistoryOpen, FView);
  if (view == nullptr) {
    out.Write(ALine);
    out.Write(lineEnd);
    return;
  }
  ConvertLine(ALine, *view, FKeepCVS, ARewriting.Middle);

  const std::string::size_type column =
      ARewriting.Inserted ? std::string::npos : FindAnsiText(ALine, ARewriting.UpperInsertText);
  if (column == std::string::npos) {
    out.Write(ALine);
    out.Write(lineEnd);
    return;
  }
  ARewriting.Inserted = true;
  const std::string indentation(column + 2, ' ');
  const std::string::size_type brace = FindAnsiText(ALine, ARewriting.UpperBraceInsertText);
  if (brace == std::string::npos) {
    // A marker line that opens no brace comment is written as it is.
    out.Write(ALine);
    for (std::size_t k = 1; k < ARewriting.LastEntryLine; ++k) {
      out.Write(FLineEnd);
      out.Write(indentation);
      out.Write(FHistoryLines[k]);
    }
    if (ALine.find('}') != std::string::npos) {
      out.Write(FLineEnd);
      out.Write("}");
    }
    out.Write(lineEnd);
    return;
  }
  // The marker line is rebuilt as "{" and the marker text, behind whatever
  // stood before them; the history follows, and what stood behind the first
  // "}" after the marker goes behind the "}" that closes it. Without such a
  // "}" the history comment goes on below, closed further down.
  out.Write(ALine.data(), brace);
  out.Write(FHistoryLines[0]);
  out.Write(FInsertText);
  for (std::size_t k = 1; k < ARewriting.LastEntryLine; ++k) {
    out.Write(FLineEnd);
    out.Write(indentation);
    WriteWithoutBraces(out, FHistoryLines[k]);
  }
  const std::string::size_type close =
      ALine.find('}', brace + ARewriting.UpperBraceInsertText.size());
  if (close != std::string::npos) {
    out.Write(FLineEnd);
    out.Write(ALine.data() + close, ALine.size() - close);
  } else {
    ARewriting.HistoryOpen = true;
  }
  out.Write(lineEnd);
}

void THistrel::RewriteFile() {
  const std::string shown = ShownSourcePath();
  // A source that is a link stays one: the file it names is replaced, in its
  // own directory. The log stays beside the name that was selected.
  const platform::Directory& home = *FHome;
  const platform::Directory& selected = FDirectory != nullptr ? *FDirectory : FOwnDirectory;
  const bool linked = FHome != &selected;
  const std::string temporaryName = TemporaryPathOf(FHomeName);
  const std::string shownTemporary =
      linked ? TemporaryPathOf(platform::FinalTarget(SourcePath())) : TemporaryPathOf(shown);

  // A source named like its temporary file would be its own temporary file.
  if (temporaryName == FHomeName) {
    throw Exception(FormatText(STemporaryFileExists, shownTemporary));
  }
  platform::TextReader& reader = FReader;
  if (!reader.StillAt(home, FHomeName)) throw Exception(FormatText(SSourceChanged, shown));
  // Nothing is written unless the source can be replaced afterwards:
  // otherwise the log would gain lines for comments that stay marked.
  if (!platform::CanReplaceFile(home, FHomeName)) {
    throw Exception(FormatText(SCannotEditFile, shown));
  }

  // The source is read again from the reader that collected it; it stays
  // open until it is replaced, so that only the file that was read is.
  if (!reader.Seek(0)) throw Exception(FormatText(SCannotEditFile, shown));
  platform::AtomicFile replacement;
  // A preview makes the same bytes in memory and hands them on instead; it
  // stops where the run would at a taken temporary file name.
  platform::TextWriter preview;
  std::string previewText;
  platform::FileStatus status = platform::FileStatus::kOk;
  if (FOutput == nullptr) {
    status = replacement.Open(home, FHomeName, temporaryName, reader, shownTemporary);
    // A temporary file that a killed run left behind is removed, and the log
    // lines of that run with it; anything else of that name is left alone.
    if (status == platform::FileStatus::kExists &&
        platform::RemoveLeftoverTemporary(home, temporaryName, FHomeName, selected, FLogName)) {
      status = replacement.Open(home, FHomeName, temporaryName, reader, shownTemporary);
    }
  } else if (home.KindOf(temporaryName) != platform::EntryKind::kUnknown) {
    status = platform::FileStatus::kExists;
  } else {
    preview.OpenMemory(previewText);
  }
  switch (status) {
    case platform::FileStatus::kOk:
      break;
    case platform::FileStatus::kExists:
      throw Exception(FormatText(STemporaryFileExists, shownTemporary));
    case platform::FileStatus::kChanged:
    case platform::FileStatus::kFailed:
      throw Exception(FormatText(SCannotEditFile, shown));
  }
  platform::TextWriter& rewrittenSourceBytes = FOutput != nullptr ? preview : replacement.Writer();

  TRewriting rewriting{rewrittenSourceBytes,
                       ConversionMiddle(FKeepCVS, FKeepDate, FUser + " " + Today()),
                       text::AnsiUpperCase(FInsertText),
                       "",
                       FHistoryLines.size() - 1,
                       false,
                       false};
  rewriting.UpperBraceInsertText = "{" + rewriting.UpperInsertText;
  std::string& line = FLine;
  for (const TPlainStretch& stretch : FPlainStretches) {
    while (reader.Offset() < stretch.From && ReadSourceLine(reader, line, shown)) {
      RewriteLine(line, reader.LastLineEnd(), rewriting);
    }
    // A source changed since it was collected is read on line by line.
    if (reader.Offset() != stretch.From) break;
    if (!rewrittenSourceBytes.CopyFrom(reader, stretch.From, stretch.To) ||
        !reader.Seek(stretch.To)) {
      throw Exception(FormatText(reader.Unchanged() ? SCannotEditFile : SSourceChanged, shown));
    }
  }
  while (ReadSourceLine(reader, line, shown)) RewriteLine(line, reader.LastLineEnd(), rewriting);
  // What follows a Ctrl-Z is no text of the source, but it is kept.
  if (reader.AtCtrlZ() && !rewrittenSourceBytes.CopyFrom(reader, reader.Offset(), reader.Size())) {
    throw Exception(FormatText(reader.Unchanged() ? SCannotEditFile : SSourceChanged, shown));
  }
  // Without a marker line the log also receives the empty line that ends the
  // last entry.
  const std::size_t logEnd =
      rewriting.Inserted ? rewriting.LastEntryLine : rewriting.LastEntryLine + 1;
  const std::string logLineEnd = LogLineEnd(selected, FLogName, FLineEnd);
  const auto writeLogLines = [&](platform::TextWriter& ALog) {
    for (std::size_t k = 1; k < logEnd; ++k) WriteTrimmedLine(ALog, FHistoryLines[k], logLineEnd);
  };
  if (FOutput != nullptr) {
    preview.Close();
    std::string logLines;
    preview.OpenMemory(logLines);
    writeLogLines(preview);
    preview.Close();
    const std::string source = SourcePath();
    FOutput->SourceRewritten(source, linked ? platform::FinalTarget(source) : source, previewText);
    FOutput->LogAppended(source + ".cvs", logLines);
    return;
  }
  // The new source is completely written before the log is touched, so that
  // a full disk fails here and leaves the log as it was.
  replacement.Complete();

  // A new log is readable by no one who may not read the source.
  platform::TextWriter& log = FLog;
  if (!log.OpenAppend(selected, FLogName, reader.Permissions() & 0666)) {
    throw Exception(FormatText(SCannotEditFile, shown));
  }
  // The log is written before the source is replaced and cut back when that
  // fails, so that the log holds the entry exactly when the source does. A
  // run killed in between leaves its temporary file, and the next run cuts
  // the log back when it removes it.
  replacement.NoteLog(log);
  try {
    writeLogLines(log);
    log.Flush();
  } catch (const Exception&) {
    log.Undo();
    log.Abandon();
    throw;
  }

  status = replacement.Commit();
  if (status != platform::FileStatus::kOk) {
    log.Undo();
    log.Abandon();
    throw Exception(FormatText(
        status == platform::FileStatus::kChanged ? SSourceChanged : SCannotEditFile, shown));
  }
  log.Close();
}
