#include "app/uHistrel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/uHistrelConstants.h"
#include "app/uHistrelInternal.h"
#include "app/uHistrelPascal.h"
#include "app/uHistrelRunKind.h"
#include "base/Exception.h"
#include "platform/Console.h"
#include "platform/Process.h"
#include "platform/SourceReplacement.h"
#include "platform/TextFile.h"
#include "support/uStringRoutines.h"
#include "text/Ansi.h"
#include "text/PascalScan.h"
#include "text/ShownName.h"
#include "text/TextScan.h"
#include "text/Utf8.h"

using histrel_internal::EndsWithBackslash;
using histrel_internal::TemporaryPathOf;
using histrel_internal::TrimRange;

namespace {

using histrel_internal::kBraceNote;
using histrel_internal::kLogExtension;
using histrel_internal::kNoteMarker;

// Bounds on what the collection notes for the rewrite of one source; beyond
// them the rest of it is rewritten line by line.
constexpr std::size_t kMaxPlainStretches = 4096;

// The line of a note piece that stands for no line.
constexpr std::uint64_t kNoLine = ~std::uint64_t{0};

// The refusal of the source shown as AShown, which cannot be edited because
// of AProblem of the file shown as AConcerned.
ERefusal CannotEdit(const std::string& AShown, platform::FileProblem AProblem,
                    const std::string& AConcerned) {
  return ERefusal(FormatText(SCannotEditFile, AShown), RefusalReason(AProblem, AConcerned));
}

// The refusal of a source that could not be read: the system's message is
// its reason.
ERefusal CannotRead(const std::string& AShown, const Exception& AFailure) {
  return ERefusal(FormatText(SCannotEditFile, AShown),
                  FormatText(SReasonSystem, AFailure.Message()));
}

// The refusal of a source that changed after it was read.
ERefusal SourceChanged(const std::string& AShown) {
  return ERefusal(FormatText(SSourceChanged, AShown), FormatText(SReasonChanged, AShown));
}

// The refusal after a copy from a source that could not give its bytes:
// it changed, or reading it failed.
ERefusal CopyFailed(const platform::TextReader& AReader, const std::string& AShown) {
  return AReader.Unchanged() ? CannotEdit(AShown, platform::FileProblem::kFailed, AShown)
                             : SourceChanged(AShown);
}

// Reads the next line of a source; a read failure becomes the tool's message
// naming the file, because the platform's message does not name it.
bool ReadSourceLine(platform::TextReader& reader, std::string& line, const std::string& shown) {
  try {
    return reader.ReadLine(line);
  } catch (const Exception& failure) {
    throw CannotRead(shown, failure);
  }
}

// Whether the source may hold "CVS*". A read failure says yes: the reading
// line by line then reports it, naming the file.
bool MayHoldMarker(platform::TextReader& reader) {
  try {
    return reader.MayHold(kNoteMarker);
  } catch (const Exception&) {
    return true;
  }
}

// Passes over lines as ReadSourceLine would read them, showing them to
// APassed.
bool SkipSourceLines(platform::TextReader& AReader, const text::LineStops& AStops,
                     const std::function<void(const char*, std::size_t)>& APassed,
                     const std::string& AShown) {
  try {
    return AReader.SkipLines(AStops, APassed);
  } catch (const Exception& failure) {
    throw CannotRead(AShown, failure);
  }
}

// The number, counted from 1, of the line that starts at AOffset.
std::uint64_t LineNumberAt(platform::TextReader& AReader, std::uint64_t AOffset) {
  std::uint64_t number = 1;
  std::string line;
  if (!AReader.Seek(0)) return 0;
  while (AReader.Offset() < AOffset && AReader.ReadLine(line)) {
    if (AReader.LastLineEnd() != platform::LineEnd::kPart) ++number;
  }
  return number;
}

// Every byte of the file that AReader has open, into AText.
bool CopyAll(const platform::TextReader& AReader, std::string& AText) {
  AText.reserve(static_cast<std::size_t>(AReader.Size()));
  platform::TextWriter copy;
  copy.OpenMemory(AText);
  const bool copied = copy.CopyFrom(AReader, 0, AReader.Size());
  copy.Close();
  return copied;
}

// Whether a line can hold the upper-cased insert text: no line holds an LF
// or a Ctrl-Z, and an empty text is never found.
bool InsertTextCanBeFound(const std::string& upperInsertText) {
  return !upperInsertText.empty() && upperInsertText.find_first_of("\n\x1A") == std::string::npos;
}

// Whether the insert text is written otherwise in a UTF-8 source than in a
// Windows-1252 one: it holds a byte outside ASCII.
bool MarkerReadsApart(const std::string& AInsertText) {
  return std::any_of(AInsertText.begin(), AInsertText.end(),
                     [](char AByte) { return static_cast<unsigned char>(AByte) >= 0x80; });
}

// The insert text as a source holds it, upper-cased: read as UTF-8 when it
// is valid UTF-8 holding a byte outside ASCII, else as Windows-1252 (as the
// user name is), and written in the source's encoding.
std::string UpperInsertText(const std::string& AInsertText, bool AUtf8Source) {
  const std::string inSource = histrel_internal::TextForSource(AInsertText, AUtf8Source);
  return AUtf8Source ? text::Utf8UpperCase(inSource) : text::AnsiUpperCase(inSource);
}

// The line end that the source's first line has, which the rewrite gives
// every line it writes: LF when that line ends in LF alone, else CR LF.
const char* SourceLineEnd(platform::TextReader& reader, const std::string& shown) {
  try {
    return reader.FirstLineEnd() == platform::LineEnd::kLf ? "\n" : "\r\n";
  } catch (const Exception& failure) {
    throw CannotRead(shown, failure);
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

// The bytes of a line end as the reader reports it; a line that the file's
// end or a Ctrl-Z ends has none.
std::string_view LineEndBytes(platform::LineEnd AEnd) {
  switch (AEnd) {
    case platform::LineEnd::kLf:
      return "\n";
    case platform::LineEnd::kCrLf:
      return "\r\n";
    case platform::LineEnd::kNone:
    case platform::LineEnd::kCtrlZ:
    case platform::LineEnd::kPart:
      break;
  }
  return "";
}

// What a converted comment carries after "{", "//", or "CVS" kept.
std::string ConversionMiddle(bool AKeepCVS, bool AKeepDate, const std::string& AHeader) {
  if (AKeepCVS) return AKeepDate ? ": " + AHeader : ":";
  return AKeepDate ? AHeader : "";
}

// Writes the new source and lets the comparison see every byte of it.
class TCheckedOutput {
 public:
  TCheckedOutput(platform::TextWriter& AWriter, text::PascalCodeComparison& ACheck)
      : FWriter(AWriter), FCheck(ACheck) {}
  void Write(const char* AData, std::size_t ASize) {
    if (ASize == 0) return;
    FWriter.Write(AData, ASize);
    FCheck.FeedAfter(std::string_view(AData, ASize));
  }
  void Write(std::string_view AText) { Write(AText.data(), AText.size()); }
  platform::TextWriter& Writer() { return FWriter; }

 private:
  platform::TextWriter& FWriter;
  text::PascalCodeComparison& FCheck;
};

// Lines no longer than this are kept from file to file in the worker's line
// buffer; a longer one's memory is given back before the next file.
constexpr std::size_t kKeptLineCapacity = std::size_t{1} << 20;

// Names the source being processed until its processing ends without a
// failure; after a failure the name stays, for the message that reports it.
class TFailedSourceNaming {
 public:
  TFailedSourceNaming(std::string& AName, std::string AShown)
      : FName(AName), FFailures(std::uncaught_exceptions()) {
    FName = std::move(AShown);
  }
  ~TFailedSourceNaming() {
    if (std::uncaught_exceptions() == FFailures) FName.clear();
  }
  TFailedSourceNaming(const TFailedSourceNaming&) = delete;
  TFailedSourceNaming& operator=(const TFailedSourceNaming&) = delete;

 private:
  std::string& FName;
  int FFailures;
};

// Runs AAction when the scope ends, a failure included.
template <typename TAction>
class TAtScopeEnd {
 public:
  explicit TAtScopeEnd(TAction AAction) : FAction(std::move(AAction)) {}
  ~TAtScopeEnd() { FAction(); }
  TAtScopeEnd(const TAtScopeEnd&) = delete;
  TAtScopeEnd& operator=(const TAtScopeEnd&) = delete;

 private:
  TAction FAction;
};

}  // namespace

// ---------------------------------------------------------------------------
// Collecting and rewriting one source

const std::string& THistrel::SourcePath() {
  FSourcePath.assign(FPath);
  if (!FPath.empty() && !EndsWithBackslash(FPath)) FSourcePath += '\\';
  return FSourcePath.append(FFileName);
}

// Reads one line as a line of its own, without knowing the lines around it:
// the text a pattern yields, with the mark when the comment goes on.
void THistrel::GetCommentText(const std::string& ALine, const std::string& APattern,
                              std::string& AText) {
  AText.clear();
  if (APattern == kBraceNote) {
    const std::string::size_type at = ALine.find(kBraceNote);
    if (at == std::string::npos) return;
    std::size_t begin = std::min(at + 6, ALine.size());
    std::size_t end = ALine.size();
    TrimRange(ALine, begin, end);
    const std::string::size_type close = ALine.find('}', begin);
    if (close == std::string::npos) {
      AText.assign(ALine, begin, end - begin);
      AText += kHistoryMark;
    } else {
      AText.assign(ALine, begin, close - begin);
    }
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
    const std::string::size_type at = ALine.find(kNoteMarker);
    if (at == std::string::npos ||
        text::TrimBlanks(std::string_view(ALine).substr(0, at)) != "//") {
      return;
    }
    std::size_t begin = std::min(at + 5, ALine.size());
    std::size_t end = ALine.size();
    TrimRange(ALine, begin, end);
    AText.assign(ALine, begin, end - begin);
  }
}

bool THistrel::IsLogOfAFileBeside() {
  const std::size_t extension = histrel_internal::LengthOf(kLogExtension);
  if (FFileName.size() <= extension ||
      FFileName.compare(FFileName.size() - extension, extension, kLogExtension) != 0) {
    return false;
  }
  // In a walk the file beside is asked for in the directory being listed,
  // which works at any depth.
  if (FSource.Directory != nullptr) {
    return FSource.Directory->KindOf(FFileName.substr(0, FFileName.size() - extension)) ==
           platform::EntryKind::kFile;
  }
  const std::string& path = SourcePath();
  return platform::IsFile(path.substr(0, path.size() - extension));
}

void THistrel::StartSource(const platform::Directory* ADirectory) {
  TSourceInProcess fresh;
  fresh.Directory = ADirectory;
  // Their memory goes on to the next source, so that a walk over thousands
  // of sources does not allocate it anew for each.
  fresh.PlainStretches = std::move(FSource.PlainStretches);
  fresh.PlainStretches.clear();
  fresh.NotePieces = std::move(FSource.NotePieces);
  fresh.NotePieces.clear();
  // Windows-1252 until the collection has read the source; USER as written
  // into such a source is taken over from the last one when it was one too,
  // rather than converted again for every file.
  const bool lastUtf8 = FSource.Utf8;
  fresh.User = std::move(FSource.User);
  FSource = std::move(fresh);
  if (lastUtf8) SetSourceUtf8(false);
  FHistoryLines.clear();
  if (FLine.capacity() > kKeptLineCapacity) std::string().swap(FLine);
}

void THistrel::ProcessFile() { ProcessFileIn(nullptr); }

void THistrel::ProcessFileIn(const platform::Directory* ADirectory) {
  const TFailedSourceNaming naming(FFailedSource, ShownSourcePath());
  StartSource(ADirectory);
  // When the source's processing ends, a failure included, the kept reader
  // is closed and the walk's directory forgotten.
  const TAtScopeEnd ending([this] {
    FReader.Close();
    FSource.Directory = nullptr;
    FSource.Home = nullptr;
  });
  // Whatever fails in the system while one source is processed refuses
  // that source, which the rewrite leaves as it was: a full disk names the
  // file it could not write, any other failure its reason in its message.
  try {
    CollectAndRewrite();
  } catch (const ERefusal&) {
    throw;
  } catch (const EAssertionFailed&) {
    throw;
  } catch (const platform::FileError& failure) {
    const bool diskFull = failure.Problem() == platform::FileProblem::kDiskFull;
    throw ERefusal(failure.Message(),
                   diskFull ? RefusalReason(failure.Problem(), text::ShownName(failure.Shown()))
                            : std::string());
  } catch (const Exception& failure) {
    throw ERefusal(failure.Message(), "");
  }
}

void THistrel::CollectAndRewrite() {
  // A log beside its source holds what the tool wrote; "*.pas" selects
  // "a.pas.cvs" too, but it is never collected from.
  if (IsLogOfAFileBeside()) return;
  const bool lineByLine = FSourceReading.LineByLine;
  platform::TextReader& reader = FReader;
  const platform::FileProblem problem = OpenSource();
  if (problem != platform::FileProblem::kNone) {
    throw CannotEdit(ShownSourcePath(), problem, ShownSourcePath());
  }
  // A file without "CVS*" cannot hold a marked comment: most files of a tree
  // are of this kind, and they are searched, not split into lines.
  if (!lineByLine) {
    if (!MayHoldMarker(reader)) return;
    if (!reader.Seek(0)) {
      throw CannotEdit(ShownSourcePath(), platform::FileProblem::kFailed, ShownSourcePath());
    }
  }
  // A NUL byte makes it no Pascal source but, say, an editor's swap file,
  // which would lose what it keeps: it is left as it is. The bytes are
  // looked at while the comments are collected, so a big file is not read
  // once more for it.
  reader.WatchForNul();
  CollectComments(reader, ShownSourcePath(), false);
  // A marker text outside ASCII is written otherwise in UTF-8, and matches
  // there by characters: a UTF-8 source is read again for it.
  if (!FSource.NotePieces.empty() && FSource.Utf8 && MarkerReadsApart(FInsertText)) {
    FSource.NotePieces.clear();
    FSource.PlainStretches.clear();
    FSource.MarkerRefusalAt = kNoLine;
    FSource.HistoryAt = histrel_pascal::TLineContext::kNoOffset;
    CollectComments(reader, ShownSourcePath(), true);
  }
  if (FSource.NotePieces.empty()) return;
  bool binary = true;
  try {
    binary = reader.HoldsNul();
  } catch (const Exception& failure) {
    throw CannotRead(ShownSourcePath(), failure);
  }
  if (binary) {
    FSource.NotePieces.clear();
    return;
  }
  // A marker that cannot hold the history leaves the source as it is.
  if (FSource.MarkerRefusalAt != kNoLine) {
    throw ERefusal(FormatText(SMarkerCannotTakeHistory,
                              ShownSourcePath() + ":" +
                                  std::to_string(LineNumberAt(reader, FSource.MarkerRefusalAt))),
                   SReasonMarker);
  }
  const auto notes = std::count_if(FSource.NotePieces.begin(), FSource.NotePieces.end(),
                                   [](const TNotePiece& APiece) { return APiece.EndsEntry; });
  WrapNotes(reader, ShownSourcePath());
  RewriteFile();
  ++FTally.Rewritten;
  FTally.Notes += static_cast<std::uint64_t>(notes);
}

platform::FileProblem THistrel::OpenSource() {
  const std::size_t holdLimit = FSourceReading.LineByLine ? 0 : FSourceReading.HoldLimit;
  TSourceInProcess& source = FSource;
  if (source.Directory == nullptr) {
    // Called on its own: the directory is FPath, or that and the directory
    // part of a file name that has one.
    const std::string::size_type slash = FFileName.rfind('\\');
    const std::string directory =
        slash == std::string::npos ? FPath : SourcePath().substr(0, SourcePath().rfind('\\') + 1);
    const std::string opened = directory.empty() ? "." : directory;
    if (!source.OwnDirectory.Open(opened)) {
      return platform::IsDirectory(opened) ? platform::FileProblem::kFailed
                                           : platform::FileProblem::kMissing;
    }
    source.LogName = slash == std::string::npos ? FFileName : FFileName.substr(slash + 1);
  } else {
    source.LogName = FFileName;
  }
  const platform::Directory& directory = source.Selected();
  // Most sources are files of their own, opened where they are listed; a
  // link is followed to the file it names, whose directory is then where
  // the rewrite happens.
  if (FReader.Open(directory, source.LogName, holdLimit)) {
    source.Home = &directory;
    source.HomeName = source.LogName;
  } else if (platform::LocateFile(directory, source.LogName, source.HomeDirectory,
                                  source.HomeName) &&
             FReader.Open(source.HomeDirectory, source.HomeName, holdLimit)) {
    source.Home = &source.HomeDirectory;
  }
  // What kept it from being read, told by what the name is: a file that
  // cannot be opened is one this user may not read.
  platform::FileProblem problem = platform::FileProblem::kNone;
  if (source.Home == nullptr) {
    problem = platform::ReplaceProblem(directory, source.LogName);
    switch (problem) {
      case platform::FileProblem::kMissing:
      case platform::FileProblem::kDirectory:
      case platform::FileProblem::kLink:
      case platform::FileProblem::kFifo:
      case platform::FileProblem::kNotRegular:
      case platform::FileProblem::kFailed:
        break;
      default:
        problem = platform::FileProblem::kNotReadable;
        break;
    }
  }
  source.LogName += kLogExtension;
  return problem;
}

void THistrel::CollectComments(platform::TextReader& AReader, const std::string& AShown,
                               bool AUtf8Marker) {
  FSource.LineEnd = SourceLineEnd(AReader, AShown);
  if (!AReader.Seek(0)) throw CannotEdit(AShown, platform::FileProblem::kFailed, AShown);
  std::vector<TPlainStretch>& plainStretches = FSource.PlainStretches;
  std::vector<TNotePiece>& notePieces = FSource.NotePieces;
  const std::string upperInsertText = UpperInsertText(FInsertText, AUtf8Marker);
  const std::string& marker =
      InsertTextCanBeFound(upperInsertText) ? upperInsertText : std::string();
  // Lines that the rewrite writes as they are, which are most, are noted in
  // stretches for the rewrite to copy, with where the reading stands after
  // them.
  bool planning = !FSourceReading.LineByLine;
  histrel_pascal::TLineContext context;
  context.Utf8Marker = AUtf8Marker;
  histrel_pascal::TLineFacts facts;
  std::string& line = FLine;
  // Whether the source is UTF-8 is known once it is read: the entry is
  // wrapped after that.
  text::Utf8Check encoding;
  const auto addPlain = [&](std::uint64_t AFrom, std::uint64_t ATo) {
    if (!planning || ATo <= AFrom) return;
    if (!plainStretches.empty() && plainStretches.back().To == AFrom) {
      plainStretches.back().To = ATo;
      plainStretches.back().Context = context;
    } else {
      plainStretches.push_back({AFrom, ATo, context});
    }
    if (plainStretches.size() >= kMaxPlainStretches) planning = false;
  };
  // Lines that cannot begin a note or hold the marker (no "CVS*", no insert
  // text; inside the history comment, no closer) are passed over in runs
  // rather than read one by one; the scan and the encoding check still see
  // every byte of them. The lines of an open note are read, since they are
  // its text.
  // A marker matched by characters in any case has no bytes to stop at.
  const bool skipping = !FSourceReading.LineByLine && !(AUtf8Marker && !marker.empty());
  const text::LineStops notesOrMarker(kNoteMarker, marker, text::LineStops::Plain::kAny);
  const text::LineStops notes(kNoteMarker, "", text::LineStops::Plain::kAny);
  const text::LineStops braceHistory("}", "", text::LineStops::Plain::kAny);
  const text::LineStops parenHistory("*)", "", text::LineStops::Plain::kAny);
  const std::function<void(const char*, std::size_t)> passed = [&](const char* AData,
                                                                   std::size_t ASize) {
    encoding.Feed(AData, ASize);
    histrel_pascal::PassSourceLines(std::string_view(AData, ASize), context);
  };
  // A marker in a part of a long line whose comment goes on: the history
  // waits for the comment's closer or the line's end, in a later part.
  bool markerLineGoesOn = false;
  // The block that holds the note of the line form being read.
  std::uint64_t noteHolder = histrel_pascal::TLineContext::kNoOffset;
  bool partBefore = false;
  for (;;) {
    if (skipping && !context.NoteOpen && !context.LineNoteOpen && !markerLineGoesOn) {
      const text::LineStops& stops =
          context.HistoryOpen
              ? (context.Flat.State.Where == text::PascalContext::kParenComment ? parenHistory
                                                                                : braceHistory)
          : context.MarkerFound || marker.empty() ? notes
                                                  : notesOrMarker;
      const std::uint64_t skipFrom = AReader.Offset();
      const bool more = SkipSourceLines(AReader, stops, passed, AShown);
      addPlain(skipFrom, AReader.Offset());
      if (!more) break;
    }
    const std::uint64_t from = AReader.Offset();
    if (!ReadSourceLine(AReader, line, AShown)) break;
    const std::string_view lineEnd = LineEndBytes(AReader.LastLineEnd());
    encoding.Feed(line.data(), line.size());
    encoding.Feed(lineEnd.data(), lineEnd.size());
    const bool goesOn = AReader.LastLineEnd() == platform::LineEnd::kPart;
    histrel_pascal::ReadSourceLine(line, lineEnd, goesOn, marker, context, facts, FSpans);
    const bool markerPartBefore = markerLineGoesOn;
    if (facts.MarkerAt != std::string::npos) {
      markerLineGoesOn = goesOn && facts.MarkerCloser == std::string::npos;
    } else if (markerLineGoesOn) {
      markerLineGoesOn = goesOn && facts.HistoryCloser == std::string::npos;
    }
    if (facts.Continues) {
      notePieces.push_back({from, 0, facts.ContinuationEnd, facts.ContinuationEnds, noteHolder});
    }
    if (facts.Note != histrel_pascal::TNoteForm::kNone) noteHolder = facts.NoteHolderAt;
    // An empty note that ends in its line adds nothing, but is converted;
    // a separator of more bytes than one (in UTF-8) is not text.
    const std::size_t textBegin =
        facts.Note == histrel_pascal::TNoteForm::kNone
            ? facts.TextBegin
            : histrel_pascal::Utf8TextBegin(line, facts.TextBegin, facts.TextEnd);
    if (facts.Note != histrel_pascal::TNoteForm::kNone &&
        (facts.NoteGoesOn ||
         !text::TrimBlanks(std::string_view(line).substr(textBegin, facts.TextEnd - textBegin))
              .empty())) {
      notePieces.push_back({from, facts.TextBegin, facts.TextEnd, !facts.NoteGoesOn, noteHolder});
    }
    if (facts.MarkerAt != std::string::npos &&
        facts.MarkerComment == text::PascalContext::kLineComment) {
      FSource.MarkerRefusalAt = from;
    } else if (facts.MarkerAt != std::string::npos) {
      // Lines of the history comment above the marker hold no notes.
      const std::uint64_t history = facts.MarkerCommentAt;
      FSource.HistoryAt = history;
      notePieces.erase(
          std::remove_if(notePieces.begin(), notePieces.end(),
                         [history](const TNotePiece& APiece) { return APiece.Holder == history; }),
          notePieces.end());
    }
    // The parts of a long line are rewritten one after the other, so that
    // the rewrite knows the columns before a marker in a later one.
    if (facts.Note == histrel_pascal::TNoteForm::kNone && facts.MarkerAt == std::string::npos &&
        !markerPartBefore && !goesOn && !partBefore) {
      addPlain(from, AReader.Offset());
    }
    partBefore = goesOn;
  }
  // A source that ends inside an open note: end the entry here, so that its
  // last line is written like every other. Its note is converted and would
  // never be collected again.
  if (context.NoteOpen) notePieces.push_back({kNoLine, 0, 0, true});
  SetSourceUtf8(encoding.Utf8());
}

std::size_t THistrel::MarkerColumn(const std::string& ALine, std::size_t AAt) const {
  if (!FSource.Utf8) return AAt;
  // A byte order mark takes no column.
  std::string_view before = std::string_view(ALine).substr(0, AAt);
  if (before.substr(0, 3) == "\xEF\xBB\xBF") before.remove_prefix(3);
  return text::Utf8Columns(before);
}

void THistrel::WrapNotes(platform::TextReader& AReader, const std::string& AShown) {
  // The note's lines are read again rather than kept, so that a long note
  // is held once.
  std::string& line = FLine;
  std::uint64_t read = kNoLine;
  TNoteShown shown;
  THistrelOutput* const noteTaker = FRunKind->NoteTaker();
  const bool takesNotes = noteTaker != nullptr;
  for (const TNotePiece& piece : FSource.NotePieces) {
    if (takesNotes && !shown.Open && piece.Line != kNoLine) {
      shown.Open = true;
      shown.Text.clear();
      shown.Cut = false;
      shown.Number = CountLinesTo(AReader, shown, piece.Line, AShown);
      read = kNoLine;
    }
    if (piece.Line == kNoLine) {
      line.clear();
    } else if (piece.Line != read) {
      if (!AReader.Seek(piece.Line)) {
        throw CannotEdit(AShown, platform::FileProblem::kFailed, AShown);
      }
      ReadSourceLine(AReader, line, AShown);
      if (line.size() < piece.End) throw SourceChanged(AShown);
      read = piece.Line;
    }
    // In UTF-8 the separator after "CVS*" is one character of any length.
    const std::size_t begin =
        FSource.Utf8 ? histrel_pascal::Utf8TextBegin(line, piece.Begin, piece.End) : piece.Begin;
    if (takesNotes) {
      AddShownPiece(shown, std::string_view(line).substr(begin, piece.End - begin));
      if (piece.EndsEntry && shown.Open) {
        noteTaker->NoteRead(shown.First, shown.Number, std::move(shown.Text), shown.Cut);
        shown.First = false;
        shown.Open = false;
      }
    }
    AddHistoryPiece(line, begin, piece.End, piece.EndsEntry, false);
  }
  FSource.NotePieces.clear();
}

std::uint64_t THistrel::CountLinesTo(platform::TextReader& AReader, TNoteShown& AShown,
                                     std::uint64_t AOffset, const std::string& AName) {
  // The notes come in file order, so the lines are counted on from the
  // last note's: the source is read once more, not once per note.
  if (!AReader.Seek(AShown.CountedTo)) {
    throw CannotEdit(AName, platform::FileProblem::kFailed, AName);
  }
  while (AReader.Offset() < AOffset && AReader.ReadLine(FLine)) {
    if (AReader.LastLineEnd() != platform::LineEnd::kPart) ++AShown.CountedLines;
  }
  AShown.CountedTo = AReader.Offset();
  return AShown.CountedLines;
}

void THistrel::AddShownPiece(TNoteShown& AShown, std::string_view APiece) const {
  APiece = text::TrimBlanks(APiece);
  if (APiece.empty() || AShown.Cut) return;
  const std::size_t limit = THistrelOutput::kNoteShownBytes;
  const std::size_t used = AShown.Text.size() + (AShown.Text.empty() ? 0 : 1);
  std::size_t end = APiece.size();
  if (used + end > limit) {
    end = used < limit ? limit - used : 0;
    // A UTF-8 character is not cut in two.
    while (FSource.Utf8 && end > 0 && (static_cast<unsigned char>(APiece[end]) & 0xC0U) == 0x80U) {
      --end;
    }
    AShown.Cut = true;
  }
  if (end == 0) return;
  if (!AShown.Text.empty()) AShown.Text += ' ';
  AShown.Text.append(APiece.substr(0, end));
}

struct THistrel::TRewriting {
  TCheckedOutput Out;
  // The comparison of the code of the source read and the source written.
  text::PascalCodeComparison& Check;
  // What a converted comment carries after "{", "//", or "CVS" kept.
  std::string Middle;
  std::string UpperInsertText;
  std::size_t LastEntryLine;
  histrel_pascal::TLineContext Context;
  histrel_pascal::TLineFacts Facts;
  // A history line as written into the source, and the blanks before it.
  std::string Lines;
  std::string Indentation;
  // The marker stood in an earlier part of the line being read, in a
  // comment that went on; the columns of those parts.
  bool HistoryWaits = false;
  std::string HeldBlanks;
  std::size_t LineColumns = 0;
};

void THistrel::RewriteLine(std::string& ALine, platform::LineEnd AEnd, TRewriting& ARewriting) {
  TCheckedOutput& out = ARewriting.Out;
  histrel_pascal::TLineFacts& facts = ARewriting.Facts;
  const std::string_view ownEnd = LineEndBytes(AEnd);
  ARewriting.Check.FeedBefore(ALine);
  ARewriting.Check.FeedBefore(ownEnd);
  histrel_pascal::ReadSourceLine(ALine, ownEnd, AEnd == platform::LineEnd::kPart,
                                 ARewriting.UpperInsertText, ARewriting.Context, facts, FSpans);

  // The note is converted where it stands; what follows it moves by shift.
  std::size_t noteAt = std::string::npos;
  std::size_t shift = 0;
  if (facts.Note != histrel_pascal::TNoteForm::kNone) {
    const bool brace = facts.Note == histrel_pascal::TNoteForm::kBrace;
    const std::size_t kept = brace ? (FKeepCVS ? 4 : 1) : (FKeepCVS ? 3 : 0);
    const std::size_t replaced = (brace ? 5 : 4) - kept;
    // A "}" in what a brace note takes on would end it early: the rest of
    // the note would stay a comment of its own, not the text it was.
    if (brace && ARewriting.Middle.find('}') != std::string::npos) {
      throw ERefusal(FormatText(SRewriteChangesCode, ShownSourcePath()), SReasonCodeChange);
    }
    noteAt = facts.NoteAt;
    ALine.replace(noteAt + kept, replaced, ARewriting.Middle);
    shift = ARewriting.Middle.size() - replaced;
  }
  const bool goesOn = AEnd == platform::LineEnd::kPart;
  const auto moved = [&](std::size_t AAt) {
    return noteAt != std::string::npos && AAt > noteAt ? AAt + shift : AAt;
  };
  // Lines the run adds end as the marker line does, or, when it has no
  // line end of its own, as the first line.
  const std::string_view addedEnd = ownEnd.empty() ? std::string_view(FSource.LineEnd) : ownEnd;
  // A history line is escaped in slices, so that a long one is not held
  // twice.
  constexpr std::size_t kSlice = std::size_t{64} * 1024;
  const auto writeHistory = [&] {
    const std::string& indentation = ARewriting.Indentation;
    std::string& slice = ARewriting.Lines;
    for (std::size_t k = 1; k < ARewriting.LastEntryLine; ++k) {
      const std::string_view text = FHistoryLines[k];
      slice.assign(addedEnd);
      slice.append(indentation);
      for (std::size_t from = 0; from < text.size(); from += kSlice) {
        const std::size_t to = std::min(text.size(), from + kSlice);
        histrel_pascal::AppendHistoryLine(slice, text.substr(from, to - from),
                                          to < text.size() ? text[to] : '\0');
        out.Write(slice);
        slice.clear();
      }
      out.Write(slice);
    }
  };
  // The comment closes at ACloser: it is reopened. The line keeps what
  // stands before the closer; the history follows, then a line with the
  // closer and whatever followed it.
  const auto reopenAt = [&](std::size_t AHead, std::size_t ACloser) {
    std::size_t head = ACloser;
    while (head > AHead && (ALine[head - 1] == ' ' || ALine[head - 1] == '\t')) --head;
    out.Write(ALine.data(), head);
    writeHistory();
    out.Write(addedEnd);
    out.Write(ALine.data() + ACloser, ALine.size() - ACloser);
    out.Write(ownEnd);
  };
  // The columns of a long line's parts, for a marker in a later one.
  const std::size_t lineColumns = ARewriting.LineColumns;
  ARewriting.LineColumns =
      goesOn ? lineColumns + (FSource.Utf8 ? text::Utf8Columns(ALine) : ALine.size()) : 0;

  // The marker stood in an earlier part of this long line, in a comment
  // that went on: the history follows its closer's part, or the line. The
  // blanks at the end of a part wait, as they go when the closer follows.
  const auto writeWaiting = [&](std::size_t AFrom) {
    std::size_t end = ALine.size();
    if (goesOn) {
      while (end > AFrom && (ALine[end - 1] == ' ' || ALine[end - 1] == '\t')) --end;
    }
    out.Write(ALine.data(), end);
    ARewriting.HeldBlanks.assign(ALine, end, std::string::npos);
  };
  if (ARewriting.HistoryWaits) {
    const std::size_t closer = facts.HistoryCloser;
    if (closer == std::string::npos || closer > 0) out.Write(ARewriting.HeldBlanks);
    ARewriting.HeldBlanks.clear();
    if (closer != std::string::npos) {
      ARewriting.HistoryWaits = false;
      reopenAt(0, moved(closer));
    } else {
      writeWaiting(0);
      if (!goesOn) {
        ARewriting.HistoryWaits = false;
        writeHistory();
      }
      out.Write(ownEnd);
    }
    return;
  }
  if (facts.MarkerAt == std::string::npos) {
    out.Write(ALine);
    out.Write(ownEnd);
    return;
  }
  const std::size_t marker = moved(facts.MarkerAt);
  ARewriting.Indentation.assign(lineColumns + MarkerColumn(ALine, marker) + 2, ' ');
  if (facts.MarkerCloser == std::string::npos) {
    // The comment goes on below: the history follows the whole line.
    if (goesOn) {
      writeWaiting(marker + ARewriting.UpperInsertText.size());
      ARewriting.HistoryWaits = true;
    } else {
      out.Write(ALine);
      writeHistory();
    }
    out.Write(ownEnd);
    return;
  }
  reopenAt(marker + ARewriting.UpperInsertText.size(), moved(facts.MarkerCloser));
}

// What RewriteFile has found out about the source's place: the directory
// that holds the file (a link's target's, for a linked source), the one
// that holds the selected name and the log, the temporary file's name, and
// how messages show the source and the temporary file.
struct THistrel::TRewritePlace {
  const platform::Directory& Home;
  const platform::Directory& Selected;
  const std::string& TemporaryName;
  const std::string& Shown;
  const std::string& ShownTemporary;
};

// Where the new text of a source goes and what becomes of it: RewriteFile
// writes through either kind alike.
class THistrel::TNewText {
 public:
  virtual ~TNewText() = default;
  // Readies the place of the new text: kExists when the temporary file's
  // name is taken by anything but what a killed run left there.
  virtual platform::FileStatus Open() = 0;
  virtual platform::TextWriter& Writer() = 0;
  // Puts the new text and the log's entry AEntry in place, or hands them on.
  virtual void Finish(const TLogEntry& AEntry) = 0;
};

// A run: the new text takes the source's place and the entry goes to the
// log, both or neither.
class THistrel::TNewTextInFiles : public THistrel::TNewText {
 public:
  TNewTextInFiles(THistrel& AWorker, const TRewritePlace& APlace)
      : FWorker(AWorker), FPlace(APlace) {}
  platform::FileStatus Open() override;
  platform::TextWriter& Writer() override { return FReplacement.Writer(); }
  void Finish(const TLogEntry& AEntry) override;

 private:
  THistrel& FWorker;
  const TRewritePlace& FPlace;
  platform::SourceReplacement FReplacement;
};

// A preview: the same bytes in memory (or only counted, when the output
// keeps no texts), handed to the output with the texts before.
class THistrel::TNewTextInPreview : public THistrel::TNewText {
 public:
  TNewTextInPreview(THistrel& AWorker, const TRewritePlace& APlace, THistrelOutput& AOutput)
      : FWorker(AWorker), FPlace(APlace), FOutput(AOutput) {}
  platform::FileStatus Open() override;
  platform::TextWriter& Writer() override { return FWriter; }
  void Finish(const TLogEntry& AEntry) override {
    FWorker.PreviewRewrite(FOutput, FWriter, FText, AEntry);
  }

 private:
  THistrel& FWorker;
  const TRewritePlace& FPlace;
  THistrelOutput& FOutput;
  platform::TextWriter FWriter;
  std::string FText;
};

platform::FileStatus THistrel::TNewTextInFiles::Open() {
  THistrel& worker = FWorker;
  const auto open = [&] {
    return FReplacement.Open(FPlace.Home, worker.FSource.HomeName, FPlace.TemporaryName,
                             worker.FReader, FPlace.ShownTemporary);
  };
  platform::FileStatus status = open();
  // A temporary file that a killed run left behind is removed, and the log
  // lines of that run with it; anything else of that name is left alone.
  if (status == platform::FileStatus::kExists) {
    switch (platform::RemoveLeftoverTemporary(FPlace.Home, FPlace.TemporaryName,
                                              worker.FSource.HomeName, FPlace.Selected,
                                              worker.FSource.LogName)) {
      case platform::LeftoverStatus::kRemoved:
        status = open();
        break;
      case platform::LeftoverStatus::kLogLocked: {
        const std::string shownLog =
            text::ShownName(worker.FPath + worker.FFileName + kLogExtension);
        throw ERefusal(FormatText(SLogLocked, shownLog),
                       RefusalReason(platform::FileProblem::kLocked, shownLog));
      }
      case platform::LeftoverStatus::kKept:
        break;
    }
  }
  return status;
}

void THistrel::TNewTextInFiles::Finish(const TLogEntry& AEntry) {
  THistrel& worker = FWorker;
  const auto writeLogLines = [&](platform::TextWriter& ALog) {
    for (std::size_t k = 0; k < AEntry.Pieces(); ++k) {
      const std::string_view piece = AEntry.Piece(k);
      ALog.Write(piece.data(), piece.size());
    }
  };
  // The new source is completely written before the log is touched, so that
  // a full disk fails here and leaves the log as it was.
  FReplacement.Complete();

  // A new log is readable by no one who may not read the source. Messages
  // name it by its whole path, as they name the source.
  platform::TextWriter& log = worker.FLog;
  const std::string logPath = worker.FPath + worker.FFileName + kLogExtension;
  platform::FileProblem problem =
      log.OpenAppend(FPlace.Selected, worker.FSource.LogName, worker.FReader.Permissions() & 0666);
  if (problem != platform::FileProblem::kNone) {
    throw CannotEdit(FPlace.Shown, problem, text::ShownName(logPath));
  }
  log.SetName(logPath);
  problem = platform::LogProblem(log, worker.FReader);
  if (problem != platform::FileProblem::kNone) {
    log.Undo();
    throw CannotEdit(FPlace.Shown, problem, text::ShownName(logPath));
  }
  // The log is written before the source is replaced and cut back when that
  // fails, so that the log holds the entry exactly when the source does. A
  // run killed in between leaves its temporary file, and the next run cuts
  // the log back when it removes it. Where no mark tells it that (a file
  // system without extended attributes), the log's end does: an entry that
  // the log ends with already is not written twice there. Where marks are
  // kept, such an entry is a second one of the same text and day, and is
  // written.
  const auto logEndsWithEntry = [&] {
    TLogEntryComparison comparison(AEntry);
    return log.ReadEnd(AEntry.Size(), [&](std::string_view ASlice) {
      return comparison.Feed(ASlice);
    }) && comparison.Complete();
  };
  // The entry is on the disk before the source is replaced: after a power
  // loss, a replaced source has its entry in the log, and a run that did
  // not get that far left its marked temporary file, by which the next run
  // cuts the log back.
  try {
    const bool marked = FReplacement.NoteLog(log);
    if (marked || !logEndsWithEntry()) writeLogLines(log);
    log.Sync();
  } catch (...) {  // running out of memory half-way as well
    log.Undo();
    log.Abandon();
    throw;
  }

  const platform::FileStatus status = FReplacement.Commit();
  if (status != platform::FileStatus::kOk) {
    log.Undo();
    log.Abandon();
    if (status == platform::FileStatus::kChanged) throw SourceChanged(FPlace.Shown);
    throw ERefusal(FormatText(SCannotEditFile, FPlace.Shown),
                   FormatText(SReasonNotReplaced, FPlace.ShownTemporary));
  }
  log.Close();
}

platform::FileStatus THistrel::TNewTextInPreview::Open() {
  // It stops where the run would at a taken temporary file name.
  if (FPlace.Home.KindOf(FPlace.TemporaryName) != platform::EntryKind::kUnknown) {
    return platform::FileStatus::kExists;
  }
  if (!FOutput.KeepsTexts()) {
    FWriter.OpenDiscard();
    return platform::FileStatus::kOk;
  }
  // Room for the whole new text at once: a text that grows by doubling
  // would hold an old and a new copy at the step that passes its size.
  const THistoryLines& history = FWorker.FHistoryLines;
  std::size_t historyBytes = 0;
  for (std::size_t k = 1; k < history.size(); ++k) historyBytes += history[k].size();
  FText.reserve(static_cast<std::size_t>(FWorker.FReader.Size()) + historyBytes + historyBytes / 8 +
                history.size() * 32);
  FWriter.OpenMemory(FText);
  return platform::FileStatus::kOk;
}

void THistrel::RewriteFile() {
  const std::string shown = ShownSourcePath();
  // A source that is a link stays one: the file it names is replaced, in its
  // own directory. The log stays beside the name that was selected.
  const TSourceInProcess& source = FSource;
  const platform::Directory& home = *source.Home;
  const platform::Directory& selected = source.Selected();
  const bool linked = source.Home != &selected;
  const std::string temporaryName = TemporaryPathOf(source.HomeName);
  const std::string shownTemporary =
      text::ShownName(linked ? TemporaryPathOf(platform::FinalTarget(SourcePath()))
                             : TemporaryPathOf(FPath + FFileName));

  // A source named like its temporary file would be its own temporary file.
  if (temporaryName == source.HomeName) {
    throw ERefusal(FormatText(STemporaryFileExists, shownTemporary), SReasonOwnTemporary);
  }
  platform::TextReader& reader = FReader;
  if (!reader.StillAt(home, source.HomeName)) throw SourceChanged(shown);
  // Nothing is written unless the source can be replaced afterwards:
  // otherwise the log would gain lines for comments that stay marked. A
  // preview goes on, and says that the run would not.
  const platform::FileProblem problem = platform::ReplaceProblem(home, source.HomeName);
  if (problem != platform::FileProblem::kNone) {
    const std::string shownFile =
        linked ? text::ShownName(platform::FinalTarget(SourcePath())) : shown;
    FRunKind->CannotReplace(shown, CannotEdit(shown, problem, shownFile));
    FSource.RunWouldRefuse = true;
  }

  // The source is read again from the reader that collected it; it stays
  // open until it is replaced, so that only the file that was read is.
  if (!reader.Seek(0)) throw CannotEdit(shown, platform::FileProblem::kFailed, shown);
  // A run writes the new text in the source's place; a preview makes the
  // same bytes in memory and hands them on. Both stop where the other would.
  const TRewritePlace place{home, selected, temporaryName, shown, shownTemporary};
  const std::unique_ptr<TNewText> newTextOfKind = FRunKind->NewText(*this, place);
  TNewText& newText = *newTextOfKind;
  switch (newText.Open()) {
    case platform::FileStatus::kOk:
      break;
    case platform::FileStatus::kExists:
      throw ERefusal(FormatText(STemporaryFileExists, shownTemporary),
                     FormatText(SReasonTemporaryKept, shownTemporary));
    case platform::FileStatus::kChanged:
      throw SourceChanged(shown);
    case platform::FileStatus::kFailed:
      throw CannotEdit(shown, platform::FileProblem::kFailed, shownTemporary);
  }
  platform::TextWriter& rewrittenSourceBytes = newText.Writer();

  text::PascalCodeComparison check;
  // As the collection looked for the marker.
  const bool utf8Marker = source.Utf8 && MarkerReadsApart(FInsertText);
  TRewriting rewriting{TCheckedOutput(rewrittenSourceBytes, check),
                       check,
                       ConversionMiddle(FKeepCVS, FKeepDate, SourceUser() + " " + Today()),
                       UpperInsertText(FInsertText, utf8Marker),
                       FHistoryLines.size() - 1,
                       {},
                       {},
                       {},
                       {},
                       false,
                       {},
                       0};
  if (!InsertTextCanBeFound(rewriting.UpperInsertText)) rewriting.UpperInsertText.clear();
  rewriting.Context.HistoryAt = source.HistoryAt;
  rewriting.Context.Utf8Marker = utf8Marker;
  std::string& line = FLine;
  for (const TPlainStretch& stretch : source.PlainStretches) {
    while (reader.Offset() < stretch.From && ReadSourceLine(reader, line, shown)) {
      RewriteLine(line, reader.LastLineEnd(), rewriting);
    }
    // A source changed since it was collected is read on line by line.
    if (reader.Offset() != stretch.From) break;
    // Both texts stand in step here, and the stretch is the same in both:
    // it leads them both to where the collection found it to end.
    if (!check.SkipTo({stretch.Context.Flat, stretch.Context.Nested})) break;
    rewriting.Context = stretch.Context;
    rewriting.Context.HistoryAt = source.HistoryAt;
    // A stretch ends where a line begins.
    rewriting.LineColumns = 0;
    if (!rewrittenSourceBytes.CopyFrom(reader, stretch.From, stretch.To) ||
        !reader.Seek(stretch.To)) {
      throw CopyFailed(reader, shown);
    }
  }
  while (ReadSourceLine(reader, line, shown)) RewriteLine(line, reader.LastLineEnd(), rewriting);
  // The new text must hold the same code as the old one, token for token:
  // only comments may differ. Otherwise nothing is written.
  if (!check.Finish()) throw ERefusal(FormatText(SRewriteChangesCode, shown), SReasonCodeChange);
  // What follows a Ctrl-Z is no text of the source, but it is kept.
  if (reader.AtCtrlZ() && !rewrittenSourceBytes.CopyFrom(reader, reader.Offset(), reader.Size())) {
    throw CopyFailed(reader, shown);
  }
  // Without a marker line the log also receives the empty line that ends the
  // last entry.
  const std::size_t logEnd =
      rewriting.Context.MarkerFound ? rewriting.LastEntryLine : rewriting.LastEntryLine + 1;
  const TLogEntry entry(FHistoryLines, logEnd,
                        LogLineEnd(selected, source.LogName, source.LineEnd));
  newText.Finish(entry);
}

std::unique_ptr<THistrel::TNewText> THistrel::TRunInFiles::NewText(THistrel& AWorker,
                                                                   const TRewritePlace& APlace) {
  return std::make_unique<TNewTextInFiles>(AWorker, APlace);
}

std::unique_ptr<THistrel::TNewText> THistrel::TRunInPreview::NewText(THistrel& AWorker,
                                                                     const TRewritePlace& APlace) {
  return std::make_unique<TNewTextInPreview>(AWorker, APlace, FOutput);
}

void THistrel::PreviewRewrite(THistrelOutput& AOutput, platform::TextWriter& APreview,
                              std::string& ANewText, const TLogEntry& AEntry) {
  APreview.Close();
  // The line buffer may hold the whole of a source's longest line, which
  // the rewrite no longer needs: the texts before take its place.
  if (FLine.capacity() > kKeptLineCapacity) std::string().swap(FLine);
  const bool keepsTexts = AOutput.KeepsTexts();
  const std::string shown = ShownSourcePath();
  const platform::Directory& selected = FSource.Selected();
  platform::TextReader& reader = FReader;
  std::string logLines;
  if (keepsTexts) {
    APreview.OpenMemory(logLines);
    for (std::size_t k = 0; k < AEntry.Pieces(); ++k) {
      const std::string_view piece = AEntry.Piece(k);
      APreview.Write(piece.data(), piece.size());
    }
    APreview.Close();
  }
  const std::string source = SourcePath();
  const std::string target = FSource.Home != &selected ? platform::FinalTarget(source) : source;
  // The texts before are those the run would see: the source through the
  // descriptor it read, the log as appending opens it, so that a name
  // swapped meanwhile, a planted link or a FIFO shows nothing else and
  // blocks nothing. Each is handed over, never copied: a source may be
  // as large as the memory allows.
  std::string before;
  if (keepsTexts && !CopyAll(reader, before)) throw CopyFailed(reader, shown);
  AOutput.SourceRead(target, std::move(before));
  before.clear();
  platform::TextReader log;
  log.SetBufferSize(std::size_t{64} * 1024);
  const std::string shownLog = text::ShownName(source + kLogExtension);
  if (log.Open(selected, FSource.LogName)) {
    const platform::FileProblem problem = platform::LogProblem(log, reader);
    if (problem != platform::FileProblem::kNone) throw CannotEdit(shown, problem, shownLog);
    if (keepsTexts && !CopyAll(log, before)) {
      throw CannotEdit(shown, platform::FileProblem::kFailed, shownLog);
    }
    // A log that cannot be appended to: a run would refuse the source. Told
    // once, when the source itself could be replaced.
    if (!FSource.RunWouldRefuse && platform::ReplaceProblem(selected, FSource.LogName) ==
                                       platform::FileProblem::kNotWritable) {
      FRunKind->CannotReplace(shown,
                              CannotEdit(shown, platform::FileProblem::kNotWritable, shownLog));
    }
    AOutput.LogRead(source + kLogExtension, true, 0, std::move(before));
  } else if (selected.Holds(FSource.LogName)) {
    // A link, a FIFO or anything else that appending would refuse.
    platform::FileProblem problem = platform::ReplaceProblem(selected, FSource.LogName);
    if (problem == platform::FileProblem::kNone || problem == platform::FileProblem::kNotWritable) {
      problem = platform::FileProblem::kNotReadable;
    }
    throw CannotEdit(shown, problem, shownLog);
  } else {
    // As the run creates it (see RewriteFile).
    AOutput.LogRead(source + kLogExtension, false,
                    platform::CreatedFilePermissions(reader.Permissions() & 0666),
                    std::move(before));
  }
  AOutput.SourceRewritten(source, target, std::move(ANewText));
  AOutput.LogAppended(source + kLogExtension, std::move(logLines));
}

std::string RefusalReason(platform::FileProblem AProblem, const std::string& AShown) {
  using platform::FileProblem;
  const std::string* text = nullptr;
  switch (AProblem) {
    case FileProblem::kNone:
      return "";
    case FileProblem::kMissing:
      text = &SReasonMissing;
      break;
    case FileProblem::kDirectory:
      text = &SReasonDirectory;
      break;
    case FileProblem::kLink:
      text = &SReasonLink;
      break;
    case FileProblem::kFifo:
      text = &SReasonFifo;
      break;
    case FileProblem::kNotRegular:
      text = &SReasonNotRegular;
      break;
    case FileProblem::kSecondName:
      text = &SReasonSecondName;
      break;
    case FileProblem::kNotReadable:
      text = &SReasonNotReadable;
      break;
    case FileProblem::kNotWritable:
      text = &SReasonNotWritable;
      break;
    case FileProblem::kDirectoryNotWritable:
      text = &SReasonDirectoryNotWritable;
      break;
    case FileProblem::kStickyDirectory:
      text = &SReasonStickyDirectory;
      break;
    case FileProblem::kLocked:
      text = &SReasonLocked;
      break;
    case FileProblem::kOtherOwner:
      text = &SReasonOtherOwner;
      break;
    case FileProblem::kReadableByOthers:
      text = &SReasonReadableByOthers;
      break;
    case FileProblem::kDiskFull:
      text = &SReasonDiskFull;
      break;
    case FileProblem::kFailed:
      text = &SReasonFailed;
      break;
  }
  return text == nullptr ? "" : FormatText(*text, AShown);
}

// A run refuses a source it cannot replace.
void THistrel::TRunInFiles::CannotReplace(const std::string& AShown, const ERefusal& ARefusal) {
  (void)AShown;
  throw ARefusal;
}

// A preview goes on to show what the run would do, and says on standard
// error that the run would refuse the source, and why.
void THistrel::TRunInPreview::CannotReplace(const std::string& AShown, const ERefusal& ARefusal) {
  platform::WriteErrorLine(FormatText(SRunWouldRefuse, AShown));
  if (!ARefusal.Reason().empty()) platform::WriteErrorLine(ARefusal.Reason());
}
