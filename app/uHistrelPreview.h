// The preview of a run: keeps what the rewrites would write instead of
// writing it, and shows it as a unified diff that `git apply` takes, or as
// the list of the sources that would change.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/uHistrel.h"

// Takes one line of a diff as a head (a prefix such as "+", or a whole
// header line) and a text that follows it, without LF.
using TDiffLineWriter = std::function<void(std::string_view AHead, std::string_view AText)>;

// Takes one line of --check's list, without LF.
using TNoteLineWriter = std::function<void(const std::string& ALine)>;

class THistrelPreview : public THistrelOutput {
 public:
  // AKeepsTexts false: only which sources would change is noted (--check),
  // and the rewrite keeps no text for it; DiffLines is then empty.
  explicit THistrelPreview(bool AKeepsTexts = true) : FKeepsTexts(AKeepsTexts) {}
  // --check: keeps no text, and writes to AWriteLine, as each source is
  // found to change, a line per note of it, "path:line: text" (NoteLine).
  explicit THistrelPreview(TNoteLineWriter AWriteLine)
      : FKeepsTexts(false), FWriteNoteLine(std::move(AWriteLine)) {}

  bool KeepsTexts() const override { return FKeepsTexts; }
  bool TakesNotes() const override { return static_cast<bool>(FWriteNoteLine); }
  void NoteRead(bool AFirst, std::uint64_t ALine, std::string&& AText, bool ACut) override;
  void SourceRewritten(const std::string& ASource, const std::string& ATarget,
                       std::string&& ANewText) override;
  void LogAppended(const std::string& ALog, std::string&& ALines) override;
  void SourceRead(const std::string& ATarget, std::string&& AText) override;
  void LogRead(const std::string& ALog, bool AExists, unsigned ANewMode,
               std::string&& AText) override;

  // Whether any file would change.
  bool Empty() const { return FSources.empty(); }

  // The diff of every file that would change, in the order the run would
  // change them, line by line without LF: "diff --git a/... b/...", the
  // file's header ("new file mode 100600" for a log the run would create
  // with those permissions) and its hunks with three lines of context. A
  // line goes to AWriteLine as a head and a text, which is a line of one of
  // the files, never copied. Paths are relative to the current directory.
  void WriteDiff(const TDiffLineWriter& AWriteLine) const;
  // The same lines, each joined.
  std::vector<std::string> DiffLines() const;

  // The sources that would be rewritten, as selected, relative to the
  // current directory, in the order of the walk; a name that holds a
  // control character in double quotes with C escapes (text::ShownName).
  std::vector<std::string> Sources() const;

 private:
  struct TFile {
    bool Existed = false;
    unsigned NewMode = 0644;
    std::string Before;
    // The text after the run; not kept while it is the text before.
    bool Changed = false;
    std::string After;
    const std::string& Final() const { return Changed ? After : Before; }
  };
  // The file at the system path APath as the preview sees it so far; a file
  // not met before is taken as it was read (AExists, ABefore).
  TFile& Known(const std::string& APath, bool AExists = false, std::string ABefore = std::string());

  // A note read from the source being rewritten, not yet written.
  struct TNote {
    std::uint64_t Line;
    std::string Text;
    bool Cut;
  };

  bool FKeepsTexts;
  TNoteLineWriter FWriteNoteLine;
  // The notes of one source at a time: a source that is refused after they
  // were read shows none.
  std::vector<TNote> FNotes;
  std::vector<std::string> FOrder;  // native paths relative to the current directory
  std::map<std::string, TFile> FFiles;
  std::vector<std::string> FSources;
};

// A line of --check's list: APath as Sources shows it, the line number, and
// the note's text, "..." after it when it was cut; a path or a text that
// holds a control character in double quotes with C escapes
// (text::ShownName).
std::string NoteLine(const std::string& APath, std::uint64_t ALine, const std::string& AText,
                     bool ACut);

// The native form of the system path APath relative to the current
// directory ("sub/a.pas", "../x/b.pas"), as a diff names it.
std::string PathFromCurrentDirectory(const std::string& APath);

// The hunks of a unified diff that turns ABefore into AAfter, three lines of
// context, each line without its LF, to AWriteLine; nothing when the texts
// are equal. A text is cut into lines after each LF; a CR stays part of its
// line, and a last line without LF is followed by "\ No newline at end of
// file". The lines both texts begin and end with are passed over in bytes,
// so that time and memory go with what changed.
void WriteUnifiedHunks(std::string_view ABefore, std::string_view AAfter,
                       const TDiffLineWriter& AWriteLine);
// The same hunks, each line joined.
std::vector<std::string> UnifiedHunks(const std::string& ABefore, const std::string& AAfter);
