// The history worker: walks the files that FILE selects and, for each file
// with marked comments ("{CVS* ...}" or "// CVS* ..."), writes their texts as
// one new history entry under the marker line and into the file's history log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/uHistrelLines.h"
#include "app/uHistrelPascal.h"
#include "base/Exception.h"
#include "platform/Date.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "text/ShownName.h"

class TReadAhead;

// The extensions of Pascal sources, by which a directory given in a file list
// selects its files: ".pas .pp .p .inc .dpr .lpr .dpk".
extern const char* const kPascalSourceExtensions;

// The extensions that AText lists (blanks, commas or semicolons between
// them), each with its leading "." ("pas" and "*.pas" give ".pas"), upper-
// cased; the default ones (kPascalSourceExtensions) when it lists none.
std::vector<std::string> ReadSourceExtensions(const std::string& AText);

// Where the worker takes today's date from; tests give a fixed one.
using TDateSource = std::function<platform::LocalDate()>;

// The number of threads a walk reads files with unless told otherwise: the
// number of cores, at most 8.
unsigned DefaultReadThreads();

// The date as written into history entries: "yyyy.mm.dd".
std::string FormatHistoryDate(const platform::LocalDate& ADate);

// How the worker reads a source. By default a source of at most HoldLimit
// bytes is read once into memory; what needs no attention (files without
// "CVS*", runs of plain lines) is searched rather than split into lines, and
// the rewrite copies it as it is. LineByLine reads and writes every line one
// by one instead; both ways give the same bytes, which the tests check.
struct TSourceReading {
  bool LineByLine = false;
  std::size_t HoldLimit = std::size_t{4} * 1024 * 1024;
  // How much one read takes from a source that is not held (tests make it
  // small, so that lines cross the reads).
  std::size_t BufferSize = std::size_t{256} * 1024;
  // A line longer than this is read in parts, each ending after a blank, so
  // that a long note is not held whole (see TextReader::SetLinePart).
  std::size_t LinePart = std::size_t{1} << 20;
};

// Byte 0xA7 at the end of a comment piece: the piece ends its entry (or, from
// GetCommentText, the comment goes on in the next line).
constexpr char kHistoryMark = '\xA7';

// Takes what the rewrite of a source makes in place of the files: a preview
// gives one to the worker, which then writes no file at all (no temporary
// file, no source, no log) and no file lines on standard output.
class THistrelOutput {
 public:
  virtual ~THistrelOutput() = default;
  // Whether the output takes the texts below. When it does not, the rewrite
  // still runs through every check of a run, but keeps no text: the new
  // source goes nowhere, the texts before are not read, and the calls
  // below get empty texts.
  virtual bool KeepsTexts() const { return true; }
  // The source selected as ASource would be replaced: the file ATarget (the
  // file a link names, else ASource) would hold ANewText. Every text is
  // handed over, so that an output that keeps it needs no copy.
  virtual void SourceRewritten(const std::string& ASource, const std::string& ATarget,
                               std::string&& ANewText) = 0;
  // The history log ALog would gain ALines (created when missing).
  virtual void LogAppended(const std::string& ALog, std::string&& ALines) = 0;
  // What the rewrite read, before the calls above: the file ATarget's bytes,
  // read through the same descriptor as the rewrite, and the log ALog's as
  // the run would open it (AExists false: there is none yet, and the run
  // would create it with the permission bits ANewMode). A preview shows
  // these as the text before, so it never opens a file by its path.
  virtual void SourceRead(const std::string& ATarget, std::string&& AText) {
    (void)ATarget;
    (void)AText;
  }
  virtual void LogRead(const std::string& ALog, bool AExists, unsigned ANewMode,
                       std::string&& AText) {
    (void)ALog;
    (void)AExists;
    (void)ANewMode;
    (void)AText;
  }
  // Whether the output takes each note of a source (NoteRead).
  virtual bool TakesNotes() const { return false; }
  // A note of the source about to be rewritten, before SourceRewritten, in
  // line order: it begins in the line ALine (counted from 1) and reads AText
  // as the history takes it, its lines joined by one blank, cut after
  // kNoteShownBytes when ACut. AFirst: the first note of its source.
  virtual void NoteRead(bool AFirst, std::uint64_t ALine, std::string&& AText, bool ACut) {
    (void)AFirst;
    (void)ALine;
    (void)AText;
    (void)ACut;
  }
  // The bytes of a note's text that NoteRead hands at most.
  static constexpr std::size_t kNoteShownBytes = 200;
};

// A file of a run's list (THistrel::SetFileList): its directory, a system
// path that ends with a backslash, and its name there. A directory of the
// list is walked for the sources that SetSourceExtensions names.
struct TListedFile {
  std::string Path;
  std::string FileName;
  // The whole system path as given ("src" for "src", not ".\\src"), so
  // that the files of a directory are named below it as it was given.
  std::string Given;
  // False when the name given cannot be written as a system path (on POSIX
  // it holds a backslash); FileName is then that name as it was given, and
  // the run stops there as at a file that cannot be edited.
  bool Nameable = true;
};

// A source that the worker refuses and leaves as it was: the message (the
// run's last line, "The file ... cannot be edited!") and, for a line of its
// own, the reason ("Reason: ... is not writable."); the reason is empty when
// the message is the system's own and names it.
class ERefusal : public Exception {
 public:
  ERefusal(const std::string& AMessage, std::string AReason)
      : Exception(AMessage), FReason(std::move(AReason)) {}
  const std::string& Reason() const { return FReason; }

 private:
  std::string FReason;
};

// The reason line for a file that AProblem keeps from being used, naming it
// as AShown (a path as messages show it); empty for FileProblem::kNone.
std::string RefusalReason(platform::FileProblem AProblem, const std::string& AShown);

// Takes a source that the worker refused and passes over (SetKeepGoing).
using TRefusalReport = std::function<void(const ERefusal& ARefusal)>;

class THistrel {
 public:
  // Empty path, file name and user; INSERT "CVSLOG", RECURSIVE on, KEEPCVS
  // off, KEEPDATE on.
  explicit THistrel(TDateSource ADateSource = platform::Today);
  virtual ~THistrel();
  THistrel(const THistrel&) = delete;
  THistrel& operator=(const THistrel&) = delete;

  // Each setter stores its argument as it is: no check, no trimming.
  void SetPath(const std::string& AValue);
  void SetFileName(const std::string& AValue);
  void SetUser(const std::string& AValue);
  void SetInsertText(const std::string& AValue);
  void SetKeepCVS(bool AValue);
  void SetKeepDate(bool AValue);
  void SetRecursive(bool AValue);
  void SetSourceReading(const TSourceReading& AValue);
  // How many threads read the files of a walk, the walk's own included:
  // 1 reads them one by one; more let AValue - 1 workers read ahead (at
  // least 1; the default is the number of cores, at most 8).
  void SetReadThreads(unsigned AValue);
  // The extensions (".pas", any letter case) by which a directory of the
  // file list selects its sources; by default those of Pascal sources,
  // kPascalSourceExtensions.
  void SetSourceExtensions(std::vector<std::string> AValue);
  // Where rewrites go: nullptr (the default) writes the files; AOutput
  // must outlive the worker's runs.
  void SetOutput(THistrelOutput* AOutput);
  // The files Execute processes instead of what the path and file name
  // select, in this order, each as a file named outside a recursive walk;
  // an empty list processes nothing.
  void SetFileList(std::vector<TListedFile> AFiles);
  // With a report, a source that is refused (ERefusal: a marker that cannot
  // hold the history, a rewrite that would change code, a log refused, a
  // file that cannot be edited or written) is handed to AReport and passed
  // over, left as it was, and Execute goes on with the next; without one
  // (the default) the refusal ends Execute. A failure that is no source's
  // (a directory that cannot be opened, memory) ends it either way.
  void SetKeepGoing(TRefusalReport AReport);

  const std::string& Path() const { return FPath; }
  const std::string& FileName() const { return FFileName; }
  const std::string& User() const { return FUser; }
  const std::string& InsertText() const { return FInsertText; }
  bool KeepCVS() const { return FKeepCVS; }
  bool KeepDate() const { return FKeepDate; }
  bool Recursive() const { return FRecursive; }
  unsigned ReadThreads() const { return FReadThreads; }

  // The lines gathered from the last file processed: "{", the entry lines,
  // and an empty line after an entry that has ended.
  std::vector<std::string> HistoryLines() const { return FHistoryLines.Copy(); }

  // Checks the settings (user, path, directory) and walks the selected files,
  // or takes the files of the list, writing each file's path on standard
  // output before processing it. Throws Exception on the first failure;
  // files processed before it stay rewritten.
  void Execute();

  // Collects the marked comments of the file FPath + FFileName and, when it
  // has any, rewrites it. Throws Exception (SCannotEditFile) when the file
  // cannot be read or replaced; a file without marked comments is not touched.
  void ProcessFile();

  // What the last Execute did so far, for the progress and the summary of
  // a run and to tell a selection that found nothing. In a preview,
  // Rewritten and Notes count what a run would do.
  struct TTally {
    // The settings were checked and the selection began.
    bool Began = false;
    // Sources selected (announced, or handed to ProcessFile), sources
    // rewritten, the notes collected into their entries, sources refused.
    std::uint64_t Selected = 0;
    std::uint64_t Rewritten = 0;
    std::uint64_t Notes = 0;
    std::uint64_t Refused = 0;
  };
  const TTally& Tally() const { return FTally; }
  // Called with the tally after each source selected (empty: not called).
  void SetProgress(std::function<void(const TTally&)> AProgress);
  // How many sources the last Execute refused: those passed over, and the
  // one whose refusal ended it.
  std::uint64_t RefusedSources() const { return FTally.Refused; }

  // The source, as messages name it, whose processing the last failure
  // (of any kind) ended; empty when the failure came outside one, as in the
  // walk between two sources.
  const std::string& FailedSource() const { return FFailedSource; }

  // The text that APattern ("{CVS*", "}" or "//") yields for ALine read on
  // its own, into AText; empty when the pattern yields none. A trailing
  // kHistoryMark says that the comment is not closed on this line. The
  // collection reads lines in their context instead (uHistrelPascal).
  static void GetCommentText(const std::string& ALine, const std::string& APattern,
                             std::string& AText);

  // Adds one piece of comment text to the entry being built in FHistoryLines;
  // a trailing kHistoryMark ends the entry. Throws Exception (SUserMissing)
  // when the user is empty.
  void AddHistoryText(const std::string& AText);
  // Whether the source being processed is UTF-8 (else Windows-1252): entries
  // are then wrapped by characters, and the user is written in that encoding.
  void SetSourceUtf8(bool AValue);
  // The user as written into the source being processed: USER converted to
  // the source's encoding.
  const std::string& SourceUser() const { return FSource.User; }

 protected:
  void ProcessDirectory();
  // Processes the files of FFileList in their order.
  void ProcessListedFiles();
  // Walks ADirectory, a directory of the file list, for the files whose
  // extension is one of FSourceExtensions.
  void WalkListedDirectory(const std::string& ADirectory);
  // The walk lists through ADirectoryHandle, the open directory ADirectory:
  // every file that the mask FSelection selects (AWildcard; an empty mask
  // selects them all), or the one file that it names.
  void SearchFiles(const platform::Directory& ADirectoryHandle, const std::string& ADirectory,
                   bool AWildcard);
  void RewriteFile();

 private:
  // What the rewrite of one source keeps from line to line.
  struct TRewriting;
  // Where RewriteFile puts the new text of a source: in the source's place
  // with the log's entry (TNewTextInFiles) or in a preview
  // (TNewTextInPreview), both behind TNewText.
  struct TRewritePlace;
  class TNewText;
  class TNewTextInFiles;
  class TNewTextInPreview;
  // What a run does besides reading: write the files (TRunInFiles), or hand
  // everything to a preview and write nothing at all (TRunInPreview), both
  // behind TRunKind. Chosen once, when the output is given (SetOutput); the
  // walk and the rewrite ask it and know no more of the difference.
  class TRunKind;
  class TRunInFiles;
  class TRunInPreview;
  // Bytes [From, To) of a source: whole lines that the rewrite writes as they
  // are (each is its text and the line end the rewrite writes, holds no
  // "CVS*" or, inside the history comment, no "}", and the history is placed
  // before them or nowhere).
  struct TPlainStretch {
    std::uint64_t From;
    std::uint64_t To;
    // Where the reading of the source stands after them.
    histrel_pascal::TLineContext Context;
  };
  // A piece of a note's text: the bytes [Begin, End) of the line at offset
  // Line of the source (none for the empty piece that ends a note left open
  // at the end), read again once the whole source is read, since its
  // encoding decides how the entry is wrapped; EndsEntry: the note ends.
  struct TNotePiece {
    std::uint64_t Line;
    std::size_t Begin;
    std::size_t End;
    bool EndsEntry;
    // The block that holds a note of the line form (TLineFacts::NoteHolderAt).
    std::uint64_t Holder = histrel_pascal::TLineContext::kNoOffset;
  };
  // What the worker holds of the one source in process (FPath + FFileName):
  // made fresh when its processing starts (StartSource), read by its
  // collection and rewrite, and worth nothing for the next source.
  struct TSourceInProcess {
    // The open directory that lists the source (nullptr: ProcessFile opens
    // FPath itself, as OwnDirectory).
    const platform::Directory* Directory = nullptr;
    platform::Directory OwnDirectory;
    // Where the file really is: a source that is a link is followed to the
    // file it names, HomeName in HomeDirectory.
    platform::Directory HomeDirectory;
    const platform::Directory* Home = nullptr;
    std::string HomeName;
    // The name of the source's log beside the selected name.
    std::string LogName;
    // The line end of the source's first line: lines the rewrite adds take
    // it when the marker line has none of its own.
    std::string LineEnd;
    // Whether the source is UTF-8 (else Windows-1252), and USER as written
    // into it (SetSourceUtf8).
    bool Utf8 = false;
    std::string User;
    // The offset of the marker line when the marker stands where the
    // history cannot (all ones: it does not): the source is then refused if
    // it has notes.
    std::uint64_t MarkerRefusalAt = ~std::uint64_t{0};
    // The opener's offset of the comment that holds the marker.
    std::uint64_t HistoryAt = histrel_pascal::TLineContext::kNoOffset;
    // A preview: a run would refuse the source, as it said already.
    bool RunWouldRefuse = false;
    // Found while collecting, used by the rewrite; in file order, and
    // bounded, so that memory does not grow with the source. StartSource
    // hands their memory on from source to source.
    std::vector<TPlainStretch> PlainStretches;
    std::vector<TNotePiece> NotePieces;

    // The directory that holds the name that was selected, and its log.
    const platform::Directory& Selected() const {
      return Directory != nullptr ? *Directory : OwnDirectory;
    }
  };

  // FPath and FFileName joined, in a string kept from file to file.
  const std::string& SourcePath();
  // FPath and FFileName joined as messages show them (text::ShownName).
  std::string ShownSourcePath() const { return text::ShownName(FPath + FFileName); }
  std::size_t DateColumn() const;
  std::string Today() const;
  // One source that the walk or the list of files hands to the rewrite: the
  // open directory that lists it (nullptr: ProcessFile opens Path itself),
  // that directory as shown (ending in a backslash) and its name there.
  struct TSourceFile {
    const platform::Directory* Directory;
    std::string Path;
    std::string Name;
  };
  // Makes ASource the file in process (FPath, FFileName), announces it and
  // processes it, unless the read-ahead found that it holds no "CVS*"
  // (AHoldsNoMarker).
  void ProcessSource(const TSourceFile& ASource, bool AHoldsNoMarker);
  // Counts ARefusal, the refusal of one source, and hands it to the report
  // of SetKeepGoing; without one throws it, which ends the run.
  void PassOver(const ERefusal& ARefusal);
  // ProcessFile on FPath + FFileName as ADirectory lists it (nullptr: it
  // opens FPath itself).
  void ProcessFileIn(const platform::Directory* ADirectory);
  // Makes FPath + FFileName, listed by ADirectory, the source in process:
  // FSource fresh, FHistoryLines empty.
  void StartSource(const platform::Directory* ADirectory);
  // Whether AName ends with one of FSourceExtensions, in any letter case,
  // after at least one other character.
  bool HasSourceExtension(const std::string& AName) const;
  // Whether the walk may enter ADirectory: true once per directory and run.
  bool MayEnter(const platform::Directory& ADirectory);
  // Whether the listing entry AName of the directory APath can be named in
  // this tool's paths; if not, a warning line says that it is passed over.
  bool CanBeNamed(const std::string& APath, const std::string& AName) const;
  // The entries of ADirectoryHandle, the open directory ADirectory, into
  // AEntries; throws Exception (SCannotOpenDirectory) when they cannot be read.
  void ListEntries(const platform::Directory& ADirectoryHandle, const std::string& ADirectory,
                   std::vector<platform::DirectoryEntry>& AEntries) const;
  // Opens the subdirectory AName of AParent, the directory APath, for the
  // walk into ASubdirectory: false when there is no directory to enter by
  // that name; throws Exception (SCannotOpenDirectory) when there is one
  // that cannot be opened.
  bool OpenSubdirectory(platform::Directory& ASubdirectory, const platform::Directory& AParent,
                        const std::string& APath, const std::string& AName) const;
  // Opens the source for reading, following a link to the file it names
  // (FSource.Home, FSource.HomeName); kNone, or what keeps it from being
  // read (kMissing, kDirectory, kLink, ...).
  platform::FileProblem OpenSource();
  // ProcessFileIn's work; its failures of the system become ERefusal there.
  void CollectAndRewrite();

  // AUtf8Marker: the marker is looked for as in a UTF-8 source, by
  // characters in any case.
  void CollectComments(platform::TextReader& AReader, const std::string& AShown, bool AUtf8Marker);
  // Builds the entry in FHistoryLines from the pieces kept, reading their
  // lines again through AReader.
  void WrapNotes(platform::TextReader& AReader, const std::string& AShown);
  // A note as NoteRead hands it, gathered from its pieces, and where the
  // counting of the source's lines stands.
  struct TNoteShown {
    bool Open = false;
    bool First = true;
    bool Cut = false;
    std::uint64_t Number = 0;
    std::string Text;
    std::uint64_t CountedTo = 0;
    std::uint64_t CountedLines = 1;
  };
  // The number (from 1) of the line that begins at AOffset, counted on from
  // where AShown stands; the lines passed are read into FLine.
  std::uint64_t CountLinesTo(platform::TextReader& AReader, TNoteShown& AShown,
                             std::uint64_t AOffset, const std::string& AName);
  // Appends APiece, trimmed, to the note's text, one blank after what it
  // holds, up to THistrelOutput::kNoteShownBytes.
  void AddShownPiece(TNoteShown& AShown, std::string_view APiece) const;
  // The column of the byte AAt of ALine, counted from 0 as an editor shows it.
  std::size_t MarkerColumn(const std::string& ALine, std::size_t AAt) const;
  void RewriteLine(std::string& ALine, platform::LineEnd AEnd, TRewriting& ARewriting);
  // The end of RewriteFile for a preview: hands the new text of the source
  // (written through APreview into ANewText), the log's entry (the pieces
  // of AEntry, unless the log ends with it already) and the texts before
  // to AOutput, taking only what it keeps.
  void PreviewRewrite(THistrelOutput& AOutput, platform::TextWriter& APreview,
                      std::string& ANewText, const TLogEntry& AEntry);
  // AddHistoryText on the bytes [ABegin, AEnd) of AText, followed by the mark
  // when AWithMark, without copying them. A mark at the end of the text ends
  // the entry only when AMarkInText; a note's text holds none.
  void AddHistoryPiece(const std::string& AText, std::size_t ABegin, std::size_t AEnd,
                       bool AWithMark, bool AMarkInText = true);
  // Wraps the words of the bytes [ABegin, AEnd) of AText onto ALine, which
  // takes ALineColumns, and the lines after it, inserted at AIndex of the
  // history, in time linear in their number; AEndOfEntry: the entry ends
  // with them.
  void WrapWords(const std::string& AText, std::size_t ABegin, std::size_t AEnd, std::string ALine,
                 std::size_t ALineColumns, bool AEndOfEntry, std::size_t AIndex);
  // Whether the selected file is the history log of a file beside it.
  bool IsLogOfAFileBeside();

  // The settings, as the setters gave them. FILE's directory and name or
  // mask stay in FPath and FFileName until a walk or a list makes a file
  // the one in process (ProcessSource), since ProcessFile reads them there.
  std::string FPath;
  std::string FFileName;
  std::string FUser;
  std::string FInsertText;
  bool FKeepCVS = false;
  bool FKeepDate = true;
  bool FRecursive = true;
  // Given (SetFileList): the files a run takes instead of FPath and FFileName.
  std::optional<std::vector<TListedFile>> FFileList;
  // Given (SetKeepGoing): who takes the sources refused and passed over.
  TRefusalReport FReportRefusal;
  TDateSource FDateSource;
  TSourceReading FSourceReading;
  unsigned FReadThreads = 1;
  // Made by SetOutput from the output it is given (none: TRunInFiles).
  std::unique_ptr<TRunKind> FRunKind;

  // The walk, while Execute runs: the mask it selects by, every directory
  // it has entered (so that a link back to one of them, or many links to
  // one, never make it go round again), and the workers that read ahead of
  // it.
  std::string FSelection;
  // Whether the walk selects by FSourceExtensions instead of FSelection: it
  // walks a directory of the file list.
  bool FSelectByExtension = false;
  std::vector<std::string> FSourceExtensions;
  TTally FTally;
  std::function<void(const TTally&)> FProgress;
  std::set<std::pair<std::uint64_t, std::uint64_t>> FEnteredDirectories;
  TReadAhead* FReadAhead = nullptr;

  // The source in process, and the history entry made of its notes, which
  // stays after it (HistoryLines).
  TSourceInProcess FSource;
  THistoryLines FHistoryLines;
  // The columns of the line that WrapWords left last in FHistoryLines, and
  // the number of lines and the bytes by which AddHistoryPiece knows that
  // line again.
  struct TLastLineColumns {
    std::size_t Lines = 0;
    std::size_t Bytes = 0;
    std::size_t Columns = 0;
  };
  TLastLineColumns FLastLine;
  // See FailedSource: set while a source is processed, and kept when that
  // ends in a failure.
  std::string FFailedSource;

  // Buffers kept from source to source, so that a walk over thousands of
  // sources does not allocate them anew for each: the source's reader, its
  // log's writer, the line read and the comments found in it, and the
  // source's path as SourcePath joins it.
  platform::TextReader FReader;
  platform::TextWriter FLog;
  std::string FLine;
  std::vector<histrel_pascal::TCommentSpan> FSpans;
  std::string FSourcePath;
};

// Steps 7 to 11 of the program run: derives the worker's path and file name
// (or mask) from the text of FILE. Throws Exception (SFileSwitchMissing) when
// AFile is empty.
void ApplyFileSwitch(THistrel& AHistrel, const std::string& AFile);

// The file that ANative, a native path as a shell gives it (relative to the
// current directory or not), names, as the worker's list takes it:
// "src/a.pas" gives the directory "src\\" and the name "a.pas", "a.pas" the
// directory ".\\" as FILE gives it; a name the tool's paths cannot hold is
// kept as it is, not nameable.
TListedFile ListedFileOf(const std::string& ANative);

// Gives the worker the files ANatives name (ListedFileOf), in their order,
// as its file list: FILE is then not used.
void ApplyFileList(THistrel& AHistrel, const std::vector<std::string>& ANatives);
