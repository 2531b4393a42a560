// End-to-end tests of the files a run is given as a list, after "--" or in a
// --files-from list: their order, how a list is read, the previews, and each
// rule of a named file (links, missing files, directories, names the tool's
// paths cannot hold). Also the hint of a bare histrel.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunResult;
using testsupport::Snapshot;
using testsupport::SplitLines;
using testsupport::SystemPath;
using testsupport::TempDir;
using testsupport::WriteFile;
using Files = std::map<std::string, std::string>;
using Lines = std::vector<std::string>;
using Names = std::set<std::string>;

const char kHint[] = "Try 'histrel --help' for more information.\n";
const char kNothingSelected[] =
    "histrel: the sources named select no file (a directory gives its files that end in .pas .pp "
    ".p .inc .dpr .lpr .dpk)\n";

class FileList : public ::testing::Test {
 protected:
  void SetUp() override { FProgram = testsupport::PrivateProgram(FHome); }

  RunResult Histrel(const std::vector<std::string>& AArguments,
                    const std::optional<std::string>& AInput = std::nullopt) const {
    return testsupport::Run(FProgram, AArguments, Tree(), Environment(), AInput);
  }

  std::vector<std::string> Environment() const {
    return {"HOME=" + FHome.Path(), "XDG_CONFIG_HOME=" + FHome / "config"};
  }

  std::string Tree() const { return FWork / "tree"; }

  // A fresh tree: two sources and one that no list names, a link to a
  // source elsewhere, a directory, and a source whose name holds a
  // backslash.
  void MakeTree() const {
    fs::remove_all(Tree());
    WriteFile(Tree() + "/a.pas", "{CVSLOG}\n{CVS* a}\n");
    WriteFile(Tree() + "/sub/b.pas", "{CVS* b}\n");
    WriteFile(Tree() + "/sub/c.pas", "{CVS* c}\n");
    WriteFile(Tree() + "/shared/real.inc", "{CVS* r}\n");
    fs::create_symlink("shared/real.inc", Tree() + "/link.pas");
    fs::create_directory(Tree() + "/dir.pas");
    WriteFile(Tree() + "/odd\\name.pas", "{CVS* o}\n");
  }

  // The files of the tree whose bytes differ from ABefore's.
  Names Changed(const Files& ABefore) const {
    Names changed;
    const Files after = Snapshot(Tree());
    for (const auto& [name, text] : ABefore) {
      if (after.at(name) != text) changed.insert(name);
    }
    return changed;
  }

  TempDir FHome;
  TempDir FWork;
  std::string FProgram;
};

// Each case runs on a fresh tree: what the run writes on standard output
// and standard error, its status, and which files it changed.
TEST_F(FileList, EveryFileOfTheListIsTakenInItsOrderAsANamedFileIs) {
  WriteFile(FWork / "zeros.list", std::string("sub/b.pas\0a.pas\0", 16));
  WriteFile(FWork / "crlf.list", "sub/b.pas\r\n\r\na.pas\r\n");
  const std::string top = SystemPath(Tree());
  struct Case {
    std::string title;
    std::vector<std::string> arguments;
    std::optional<std::string> input;
    int status;
    Lines out;
    std::string err;
    Names changed;
    // Why the case cannot apply to the Windows build, when it cannot.
    const char* notUnderWine = nullptr;
  };
  const Lines bThenA = {"sub\\b.pas", ".\\a.pas"};
  const Names both = {"a.pas", "sub/b.pas"};
  const std::vector<Case> cases = {
      {"two files after --, in the order given",
       {"/USER=ann", "--", "sub/b.pas", "a.pas"},
       std::nullopt,
       0,
       bThenA,
       "",
       both},
      {"--files-from with NUL bytes",
       {"/USER=ann", "--files-from=" + FWork / "zeros.list"},
       std::nullopt,
       0,
       bThenA,
       "",
       both},
      {"--files-from with CR LF and an empty line",
       {"--files-from", FWork / "crlf.list", "/USER=ann"},
       std::nullopt,
       0,
       bThenA,
       "",
       both},
      {"--files-from=- reads standard input",
       {"/USER=ann", "--files-from=-"},
       "./a.pas\nsub/b.pas\n",
       0,
       {".\\a.pas", "sub\\b.pas"},
       "",
       both},
      {"a list, then the names after --",
       {"/USER=ann", "--files-from=-", "--", "sub/b.pas"},
       "a.pas",
       0,
       {".\\a.pas", "sub\\b.pas"},
       "",
       both},
      {"an absolute path",
       {"/USER=ann", "--", Tree() + "/a.pas"},
       std::nullopt,
       0,
       {top + "\\a.pas"},
       "",
       {"a.pas"}},
      {"FILE on the command line is not used, nor RECURSIVE",
       {"/USER=ann", "/FILE=*.pas", "/RECURSIVE+", "--", "a.pas"},
       std::nullopt,
       0,
       {".\\a.pas"},
       "",
       {"a.pas"}},
      {"a link: the file it names is rewritten",
       {"/USER=ann", "--", "link.pas"},
       std::nullopt,
       0,
       {".\\link.pas"},
       "",
       {"shared/real.inc"}},
      {"a missing name ends the run there",
       {"/USER=ann", "--", "a.pas", "gone.pas", "sub/b.pas"},
       std::nullopt,
       1,
       {".\\a.pas", ".\\gone.pas", "The file .\\gone.pas cannot be edited!"},
       "Reason: .\\gone.pas does not exist.\n",
       {"a.pas"}},
      {"--keep-going passes over a missing name and ends with status 1",
       {"/USER=ann", "--keep-going", "--", "a.pas", "gone.pas", "sub/b.pas"},
       std::nullopt,
       1,
       {".\\a.pas", ".\\gone.pas", "The file .\\gone.pas cannot be edited!", "sub\\b.pas"},
       "Reason: .\\gone.pas does not exist.\n",
       both},
      {"a missing directory",
       {"/USER=ann", "--", "nowhere/x.pas"},
       std::nullopt,
       1,
       {"nowhere\\x.pas", "The file nowhere\\x.pas cannot be edited!"},
       "Reason: nowhere\\x.pas does not exist.\n",
       {}},
      {"a directory that holds no source says so",
       {"/USER=ann", "--", "dir.pas"},
       std::nullopt,
       0,
       {},
       kNothingSelected,
       {}},
      {"and ends a check with status 2, which would else pass",
       {"--check", "/USER=ann", "--", "dir.pas"},
       std::nullopt,
       2,
       {},
       kNothingSelected,
       {}},
      {"a name with a backslash, which a system path cannot hold",
       {"/USER=ann", "--", "a.pas", "odd\\name.pas"},
       std::nullopt,
       1,
       {".\\a.pas", "The file odd\\name.pas cannot be edited!"},
       "Reason: the name odd\\name.pas holds a backslash, which a path of this tool reads as a "
       "separator.\n",
       {"a.pas"},
       "on Windows the backslash separates a directory and a name"},
      {"what follows -- is never a switch",
       {"--", "/USER=ann", "a.pas"},
       std::nullopt,
       1,
       {"The user must be indicated!"},
       "",
       {}},
      {"an empty list does nothing, FILE or not",
       {"/USER=ann", "/FILE=*.pas", "--files-from=-"},
       "\n\n",
       0,
       {},
       "",
       {}},
      {"a list that cannot be read ends the program before the run",
       {"/USER=ann", "--files-from=" + FWork / "none.list", "--", "a.pas"},
       std::nullopt,
       1,
       {},
       "histrel: cannot read the file list " + FWork / "none.list" + " (--files-from)\n",
       {}},
      {"so does a directory as a list, with status 2 in a preview",
       {"--diff", "/USER=ann", "--files-from", FWork.Path()},
       std::nullopt,
       2,
       {},
       "histrel: cannot read the file list " + FWork.Path() + " (--files-from)\n",
       {}},
      {"--check lists the notes of the sources of the list, in its order",
       {"--check", "/USER=ann", "--", "sub/b.pas", "a.pas"},
       std::nullopt,
       1,
       {"sub/b.pas:1: b", "a.pas:2: a"},
       "",
       {}},
      {"--check stops at a missing name with status 2",
       {"--check", "/USER=ann", "--", "a.pas", "gone.pas", "sub/b.pas"},
       std::nullopt,
       2,
       {"a.pas:2: a"},
       "The file .\\gone.pas cannot be edited!\nReason: .\\gone.pas does not exist.\n",
       {}},
      {"--check --keep-going goes on after it, with status 2",
       {"--check", "--keep-going", "/USER=ann", "--", "a.pas", "gone.pas", "sub/b.pas"},
       std::nullopt,
       2,
       {"a.pas:2: a", "sub/b.pas:1: b"},
       "The file .\\gone.pas cannot be edited!\nReason: .\\gone.pas does not exist.\n",
       {}},
      {"a bare histrel points to --help",
       {},
       std::nullopt,
       1,
       {"The parameter FILE must be indicated!"},
       kHint,
       {}},
      {"so does one without FILE in a preview",
       {"--diff", "/USER=ann"},
       std::nullopt,
       2,
       {},
       std::string("The parameter FILE must be indicated!\n") + kHint,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    if (c.notUnderWine != nullptr && testsupport::UnderWine()) {
      std::printf("case skipped under Wine: %s: %s\n", c.title.c_str(), c.notUnderWine);
      continue;
    }
    MakeTree();
    const Files before = Snapshot(Tree());
    const RunResult result = Histrel(c.arguments, c.input);
    EXPECT_EQ(result.ExitCode, c.status);
    EXPECT_EQ(SplitLines(result.Out), c.out);
    EXPECT_EQ(result.Err, c.err);
    EXPECT_EQ(Changed(before), c.changed);
    EXPECT_TRUE(fs::is_symlink(Tree() + "/link.pas"));
  }
}

// A directory after -- or in a list is walked for its Pascal sources, by
// their extension in any letter case (EXTENSIONS), below it too unless
// RECURSIVE is off; a file named is taken whatever its name.
TEST_F(FileList, ADirectoryGivesItsPascalSourcesByTheirExtension) {
  const Names pascal = {"src/Main.pas", "src/forms/Form1.PAS", "src/inc/defs.inc", "src/Prog.dpr"};
  struct Case {
    std::vector<std::string> arguments;
    std::optional<std::string> input;
    Names changed;
  };
  const std::vector<Case> cases = {
      {{"/USER=ann", "--", "src"}, std::nullopt, pascal},
      {{"/USER=ann", "--files-from=-"}, "src\n", pascal},
      {{"/USER=ann", "/RECURSIVE-", "--", "src/"}, std::nullopt, {"src/Main.pas", "src/Prog.dpr"}},
      {{"/USER=ann", "/EXTENSIONS=txt;*.MD", "--", "src", "README.md", "src/x.pascal"},
       std::nullopt,
       {"src/NOTES.txt", "README.md", "src/x.pascal"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.back());
    fs::remove_all(Tree());
    for (const char* name :
         {"src/Main.pas", "src/forms/Form1.PAS", "src/inc/defs.inc", "src/Prog.dpr",
          "src/NOTES.txt", "src/old.pas.bak", "src/x.pascal", "README.md"}) {
      WriteFile(Tree() + "/" + name, "{CVS* note}\n");
    }
    const Files before = Snapshot(Tree());
    const RunResult result = Histrel(c.arguments, c.input);
    EXPECT_EQ(result.ExitCode, 0) << result.Out << result.Err;
    EXPECT_EQ(result.Err, "");
    Names announced;
    for (const std::string& line : SplitLines(result.Out)) announced.insert(line);
    Names expected;
    for (const std::string& name : c.changed) {
      expected.insert(name.find('/') == std::string::npos ? ".\\" + name : SystemPath(name));
    }
    EXPECT_EQ(announced, expected);
    EXPECT_EQ(Changed(before), c.changed);
  }
}

// The log of a linked source goes beside the name in the list, as for FILE.
TEST_F(FileList, ALinkedSourceKeepsItsLinkAndGetsItsLogBesideIt) {
  MakeTree();
  const RunResult result = Histrel({"/USER=ann", "--", "link.pas"});
  ASSERT_EQ(result.ExitCode, 0) << result.Out;
  EXPECT_TRUE(fs::is_symlink(Tree() + "/link.pas"));
  EXPECT_TRUE(testsupport::FileExists(Tree() + "/link.pas.cvs"));
  EXPECT_FALSE(testsupport::FileExists(Tree() + "/shared/real.inc.cvs"));
}

// FILE from the INI file beside the program is not used either.
TEST_F(FileList, FileFromTheIniFileIsNotUsedWithAList) {
  MakeTree();
  WriteFile(fs::path(FProgram).parent_path().string() + "/histrel.ini",
            "[PARAMETERS]\r\nUSER=ann\r\nFILE=*.pas\r\n");
  const Files before = Snapshot(Tree());
  const RunResult result = Histrel({"--", "sub/b.pas"});
  EXPECT_EQ(result.ExitCode, 0) << result.Out << result.Err;
  EXPECT_EQ(result.Out, "sub\\b.pas\n");
  EXPECT_EQ(Changed(before), Names{"sub/b.pas"});
  const RunResult walk = Histrel({});
  EXPECT_EQ(walk.ExitCode, 0) << walk.Out << walk.Err;
  EXPECT_NE(walk.Out.find(".\\a.pas\n"), std::string::npos) << "without a list, FILE walks";
}

// --diff applied by git does what the run with the same list does.
TEST_F(FileList, TheDiffOfAListAppliedByGitDoesWhatTheRunDoes) {
  MakeTree();
  const Files before = Snapshot(Tree());
  const std::vector<std::string> list = {"--", "sub/b.pas", "link.pas", "a.pas"};
  std::vector<std::string> arguments = {"--diff", "/USER=ann"};
  arguments.insert(arguments.end(), list.begin(), list.end());
  const RunResult diff = Histrel(arguments);
  EXPECT_EQ(diff.ExitCode, 1) << diff.Err;
  EXPECT_EQ(diff.Err, "");
  EXPECT_EQ(Snapshot(Tree()), before) << "--diff wrote something";
  EXPECT_LT(diff.Out.find("a/sub/b.pas"), diff.Out.find("a/a.pas")) << "in the list's order";

  const std::string copy = FWork / "copy";
  fs::copy(Tree(), copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  WriteFile(FWork / "list.patch", diff.Out);
  const RunResult applied = testsupport::Run("/usr/bin/git", {"apply", FWork / "list.patch"}, copy);
  ASSERT_EQ(applied.ExitCode, 0) << applied.Err << diff.Out;

  std::vector<std::string> run = {"/USER=ann"};
  run.insert(run.end(), list.begin(), list.end());
  const RunResult result = Histrel(run);
  EXPECT_EQ(result.ExitCode, 0) << result.Out;
  EXPECT_EQ(Changed(before), (Names{"a.pas", "sub/b.pas", "shared/real.inc"}));
  EXPECT_EQ(Snapshot(copy), Snapshot(Tree())) << diff.Out;
}

// The pipe the README shows: git names the changed sources, NUL-separated,
// in any letter case, and leaves out other changed files with notes.
TEST_F(FileList, GitDiffNamesTheSourcesThroughStandardInput) {
  MakeTree();
  fs::remove(Tree() + "/odd\\name.pas");
  WriteFile(Tree() + "/README.md", "Write notes as {CVS* text}.\n");
  WriteFile(Tree() + "/sub/UP.PAS", "{CVS* u}\n");
  const auto git = [&](const std::vector<std::string>& AArguments) {
    std::vector<std::string> arguments = {"-c", "user.name=t", "-c", "user.email=t@example.org"};
    arguments.insert(arguments.end(), AArguments.begin(), AArguments.end());
    const RunResult result = testsupport::Run("/usr/bin/git", arguments, Tree(), Environment());
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
  };
  git({"init", "-q"});
  git({"add", "."});
  git({"commit", "-q", "-m", "notes"});
  WriteFile(Tree() + "/a.pas", "{CVSLOG}\n{CVS* a}\n{CVS* new in a}\n");
  WriteFile(Tree() + "/sub/b.pas", "{CVS* b}\n{CVS* new in b}\n");
  WriteFile(Tree() + "/sub/UP.PAS", "{CVS* u}\n{CVS* new in UP}\n");
  WriteFile(Tree() + "/README.md", "Write notes as {CVS* text}, {CVS* more}.\n");
  const Files before = Snapshot(Tree());
  std::vector<std::string> shell = {
      "-c",
      "git --icase-pathspecs diff -z --name-only --diff-filter=d -- '*.pas' '*.pp' '*.p' "
      "'*.inc' '*.dpr' '*.lpr' '*.dpk' | \"$@\" /USER=ann --files-from=-",
      "sh"};
  for (const std::string& word : testsupport::LaunchWords(FProgram)) shell.push_back(word);
  const RunResult result = testsupport::Run("/bin/sh", shell, Tree(), Environment());
  EXPECT_EQ(result.ExitCode, 0) << result.Out << result.Err;
  EXPECT_EQ(SplitLines(result.Out), (Lines{".\\a.pas", "sub\\UP.PAS", "sub\\b.pas"}));
  EXPECT_EQ(Changed(before), (Names{"a.pas", "sub/UP.PAS", "sub/b.pas"}));
  EXPECT_EQ(ReadFile(Tree() + "/sub/c.pas"), "{CVS* c}\n");
}

// A name that holds a control character is shown quoted, as in a walk.
TEST_F(FileList, ANameWithAControlCharacterIsShownQuoted) {
  SKIP_UNDER_WINE("Windows names cannot hold control characters");
  MakeTree();
  WriteFile(Tree() + "/bell\a.pas", "{CVS* x}\n");
  const RunResult result = Histrel({"/USER=ann", "--", "bell\a.pas"});
  EXPECT_EQ(result.ExitCode, 0) << result.Out;
  EXPECT_EQ(result.Out, "\".\\\\bell\\a.pas\"\n");
  EXPECT_NE(ReadFile(Tree() + "/bell\a.pas"), "{CVS* x}\n");
}

}  // namespace
