// The preview of a run: keeps what the rewrites would write instead of
// writing it, and shows it as a unified diff that `git apply` takes, or as
// the list of the sources that would change.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/uHistrel.h"

class THistrelPreview : public THistrelOutput {
 public:
  void SourceRewritten(const std::string& ASource, const std::string& ATarget,
                       const std::string& ANewText) override;
  void LogAppended(const std::string& ALog, const std::string& ALines) override;
  void SourceRead(const std::string& ATarget, const std::string& AText) override;
  void LogRead(const std::string& ALog, bool AExists, const std::string& AText) override;

  // Whether any file would change.
  bool Empty() const { return FSources.empty(); }

  // The diff of every file that would change, in the order the run would
  // change them, as lines without their LF: "diff --git a/... b/...", the
  // file's header and its hunks with three lines of context. A log that
  // does not exist yet is a new file. Paths are relative to the current
  // directory.
  std::vector<std::string> DiffLines() const;

  // The sources that would be rewritten, as selected, relative to the
  // current directory, in the order of the walk; a name that holds a
  // control character in double quotes with C escapes (text::ShownName).
  std::vector<std::string> Sources() const;

 private:
  struct TFile {
    bool Existed = false;
    std::string Before;
    std::string After;
  };
  // The file at the system path APath as the preview sees it so far; a file
  // not met before is taken as it was read (AExists, ABefore).
  TFile& Known(const std::string& APath, bool AExists = false,
               const std::string& ABefore = std::string());

  std::vector<std::string> FOrder;  // native paths relative to the current directory
  std::map<std::string, TFile> FFiles;
  std::vector<std::string> FSources;
};

// The native form of the system path APath relative to the current
// directory ("sub/a.pas", "../x/b.pas"), as a diff names it.
std::string PathFromCurrentDirectory(const std::string& APath);

// The hunks of a unified diff that turns ABefore into AAfter, three lines of
// context, each line without its LF; empty when the texts are equal. A text
// is cut into lines after each LF; a CR stays part of its line, and a last
// line without LF is followed by "\ No newline at end of file".
std::vector<std::string> UnifiedHunks(const std::string& ABefore, const std::string& AAfter);
