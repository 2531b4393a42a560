// End-to-end tests of the program's options: --diff applied with git apply
// does exactly the run's work, --help, --version, a wrong option, failures
// before the run, and the refusal of an unknown switch. (The statuses of
// --check and of every failure are tested on the program run itself.)
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunResult;
using testsupport::Snapshot;
using testsupport::TempDir;
using testsupport::WriteFile;
using Files = std::map<std::string, std::string>;

const char kLfSource[] =
    "unit A;\n\n{CVSLOG}\n\ninterface\n\nprocedure P; {CVS* Takes no argument now.}\n"
    "// CVS* A second note that is long enough to be wrapped onto the next line of the entry.\n"
    "\nimplementation\n\nprocedure P;\nbegin\nend;\n\nend.\n";
const char kCrLfSource[] =
    "unit B;\r\n{ CVSLOG }\r\n{ earlier entries }\r\n\r\nbegin\r\n  {CVS* open\r\n   over two "
    "lines}\r\n  X := 1;\r\n  Y := 2;\r\n  Z := 3;\r\n  W := 4;\r\n  {CVS* last}\r\nend.\r\n";
// No marker line, a lone CR, and text behind a Ctrl-Z: the run drops both.
const char kOddSource[] = "unit C;\r\n{CVS* only\rthe log}\r\nend.\r\n\x1Atrailing bytes";

class Preview : public ::testing::Test {
 protected:
  void SetUp() override { FProgram = testsupport::PrivateProgram(FHome); }

  RunResult Histrel(const std::vector<std::string>& AArguments, const std::string& ADirectory) {
    return testsupport::Run(FProgram, AArguments, ADirectory,
                            {"HOME=" + FHome.Path(), "XDG_CONFIG_HOME=" + FHome / "config"});
  }

  // Writes AFiles into a fresh tree; the files named in AReadOnly lose their
  // write permission.
  std::string Tree(const Files& AFiles, const std::vector<std::string>& AReadOnly = {}) {
    std::string tree = FWork / "tree";
    fs::remove_all(tree);
    for (const auto& [name, text] : AFiles) WriteFile(FWork / ("tree/" + name), text);
    for (const std::string& name : AReadOnly) chmod((FWork / ("tree/" + name)).c_str(), 0444);
    return tree;
  }

  // --diff in ATree, applied by git to a copy made before, gives exactly
  // what the run then does in ATree itself (the same tree, so that the walk
  // meets the files in the same order).
  void ExpectDiffDoesTheRunsWork(const std::string& ATree,
                                 const std::vector<std::string>& ASwitches,
                                 const std::string& AFailure = "") {
    const Files before = Snapshot(ATree);
    std::vector<std::string> arguments = {"--diff"};
    arguments.insert(arguments.end(), ASwitches.begin(), ASwitches.end());
    const RunResult diff = Histrel(arguments, ATree);
    EXPECT_EQ(diff.ExitCode, AFailure.empty() ? 1 : 2) << diff.Err;
    EXPECT_EQ(diff.Err, AFailure.empty() ? "" : AFailure + "\n");
    EXPECT_EQ(Snapshot(ATree), before) << "--diff wrote something";

    const std::string copy = FWork / "copy";
    fs::remove_all(copy);
    fs::copy(ATree, copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    WriteFile(FWork / "preview.patch", diff.Out);
    const RunResult applied = testsupport::Run(
        "/usr/bin/git", {"apply", "--whitespace=nowarn", FWork / "preview.patch"}, copy);
    ASSERT_EQ(applied.ExitCode, 0) << applied.Err << diff.Out;

    const RunResult run = Histrel(ASwitches, ATree);
    EXPECT_EQ(run.ExitCode, AFailure.empty() ? 0 : 1) << run.Out;
    EXPECT_NE(Snapshot(ATree), before) << "the run did something";
    EXPECT_EQ(Snapshot(copy), Snapshot(ATree)) << diff.Out;
  }

  TempDir FHome;
  TempDir FWork;
  std::string FProgram;
};

TEST_F(Preview, TheDiffAppliedByGitDoesExactlyWhatTheRunDoes) {
  const Files files = {
      {"a.pas", kLfSource},
      {"sub/b.pas", kCrLfSource},
      {"sub/b.pas.cvs", "ann 2001.01.01 an entry of an earlier run\r\n\r\n"},
      {"sub/c.pas", kOddSource},
      {"sub/c.pas.cvs", "a log without its last line end"},
      {"plain.pas", "unit Plain;\nend.\n"},
      // A name that git quotes; Windows names hold no quotes, and the
      // Windows build names files in its ANSI code page, not in bytes.
      {testsupport::UnderWine() ? "sub/cafe new.pas" : "sub/caf\xE9 \"new\".pas", kLfSource},
      {"notes.txt", "{CVS* not selected}\n"},
  };
  std::string tree = Tree(files);
  // A linked source: the file it names changes, the log goes beside the link.
  WriteFile(tree + "/shared/real.inc", kCrLfSource);
  fs::create_symlink("shared/real.inc", tree + "/link.pas");
  ExpectDiffDoesTheRunsWork(tree, {"/USER=ann", "/FILE=*.pas"});
  EXPECT_TRUE(fs::is_symlink(tree + "/link.pas"));
  EXPECT_TRUE(testsupport::FileExists(tree + "/link.pas.cvs"));
  ExpectDiffDoesTheRunsWork(Tree(files), {"/USER=ann", "/FILE=sub", "/KEEPCVS+", "/KEEPDATE-"});
}

// In a subfolder of a git repository git apply takes the diff's paths from
// the top of the work tree and passes over those outside the subfolder, so
// that a plain git apply there applies nothing; the README's form applies
// the diff as the run would write it.
TEST_F(Preview, TheDiffAppliesInASubfolderOfARepository) {
  const std::string tree =
      Tree({{"top.pas", kLfSource}, {"sub/a.pas", kLfSource}, {"sub/deep/b.pas", kCrLfSource}});
  const std::string sub = tree + "/sub";
  const auto shell = [&](const std::string& ACommand) {
    return testsupport::Run("/bin/sh", {"-c", ACommand}, sub,
                            {"HOME=" + FHome.Path(), "GIT_CONFIG_NOSYSTEM=1"});
  };
  const RunResult init = shell(
      "git init -q .. && git add -A .. && "
      "git -c user.name=t -c user.email=t@example.org commit -q -m first");
  ASSERT_EQ(init.ExitCode, 0) << init.Err;
  const RunResult diff = Histrel({"--diff", "/USER=ann", "/FILE=*.pas"}, sub);
  ASSERT_EQ(diff.ExitCode, 1) << diff.Err;
  const std::string patch = FWork / "notes.patch";
  WriteFile(patch, diff.Out);
  const Files before = Snapshot(sub);

  const RunResult plain = shell("git apply " + patch);
  EXPECT_EQ(plain.ExitCode, 0) << plain.Err;
  EXPECT_EQ(Snapshot(sub), before) << "a plain git apply in the subfolder applied something";
  const RunResult applied = shell(
      "git apply --whitespace=nowarn --directory=\"$(git rev-parse --show-prefix)\" " + patch);
  ASSERT_EQ(applied.ExitCode, 0) << applied.Err << diff.Out;
  const Files patched = Snapshot(sub);
  EXPECT_NE(patched, before);

  // The run itself, on the tree as it was.
  const RunResult reset = shell("git checkout -q -- . && git clean -q -f -d .");
  ASSERT_EQ(reset.ExitCode, 0) << reset.Err;
  ASSERT_EQ(Snapshot(sub), before);
  const RunResult run = Histrel({"/USER=ann", "/FILE=*.pas"}, sub);
  EXPECT_EQ(run.ExitCode, 0) << run.Out;
  EXPECT_EQ(Snapshot(sub), patched) << diff.Out;
  EXPECT_EQ(ReadFile(tree + "/top.pas"), kLfSource);
}

TEST_F(Preview, AFailureHalfWayShowsWhatWasDoneBeforeIt) {
  Files files;
  for (const char* name : {"a.pas", "b.pas", "c.pas", "d.pas", "e.pas"}) files[name] = kLfSource;
  const std::string tree = Tree(files);
  // The walk meets the files in the order the directory lists them, as
  // --check shows: the one in the middle cannot be rewritten.
  std::vector<std::string> listed;
  const RunResult check = Histrel({"--check", "/USER=ann", "/FILE=*.pas", "/RECURSIVE-"}, tree);
  for (const std::string& line : testsupport::SplitLines(check.Out)) {
    const std::string name = line.substr(0, line.find(':'));
    if (listed.empty() || listed.back() != name) listed.push_back(name);
  }
  ASSERT_EQ(listed.size(), 5u) << check.Out;
  const std::string blocked = listed[2];
  WriteFile(tree + "/" + blocked, "unit B;\n// CVSLOG\n{CVS* refused}\n");
  ExpectDiffDoesTheRunsWork(
      tree, {"/USER=ann", "/FILE=*.pas", "/RECURSIVE-"},
      "The marker at .\\" + blocked +
          ":2 cannot take the history: only a { } or (* *) comment can hold it!\nReason: a // "
          "comment ends with its line, so the history would become code; put the marker in a { } "
          "or (* *) comment.");
  EXPECT_NE(ReadFile(tree + "/" + listed[0]), kLfSource);
  EXPECT_EQ(ReadFile(tree + "/" + listed[4]), kLfSource);
}

TEST_F(Preview, HelpVersionAndAWrongOptionEndTheProgramBeforeAnyWork) {
  const std::string tree = Tree({{"a.pas", kLfSource}});
  const Files before = Snapshot(tree);
  for (const char* help : {"--help", "-h"}) {
    const RunResult result = Histrel({"/USER=ann", "/FILE=*.pas", help}, tree);
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Out.rfind("Usage: histrel ", 0), 0u) << result.Out;
    for (const char* line :
         {"\n/USER=no default value\n", "\n/KEEPDATE=+\n", "\n  --diff ", "\n  --check ",
          "histrel.ini", "HKEY_CURRENT_USER\\Software\\TAVIK\\"}) {
      EXPECT_NE(result.Out.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(result.Out.find('\r'), std::string::npos);
  }
  const RunResult version = Histrel({"--version", "/USER=ann", "/FILE=*.pas"}, tree);
  EXPECT_EQ(version.ExitCode, 0);
  EXPECT_EQ(version.Out.rfind("histrel ", 0), 0u);
  EXPECT_EQ(std::count(version.Out.begin(), version.Out.end(), '\n'), 1);
  const RunResult wrong = Histrel({"/USER=ann", "--dif", "/FILE=*.pas"}, tree);
  EXPECT_EQ(wrong.ExitCode, 2);
  EXPECT_EQ(wrong.Out, "");
  EXPECT_EQ(wrong.Err, "histrel: unknown option --dif (try --help)\n");
  EXPECT_EQ(Snapshot(tree), before);
}

TEST_F(Preview, AnUnknownSwitchIsNamedAndEndsTheProgramBeforeTheRun) {
  const std::string tree = Tree({{"sub/a.pas", kLfSource}});
  const RunResult result = Histrel({"/USER=ann", "/FILE=*.pas", "/RECURSIV-"}, tree);
  EXPECT_EQ(result.ExitCode, 2);
  EXPECT_EQ(result.Err, "histrel: unknown switch /RECURSIV- (see --help)\n");
  EXPECT_EQ(result.Out, "");
  EXPECT_EQ(ReadFile(tree + "/sub/a.pas"), kLfSource);
}

// A failure before the run (a switch that is not text in the registry hive)
// ends the program with 1, or with 2 under --diff and --check; so does a
// request to write the switches, which a preview must not do.
TEST_F(Preview, ABrokenHiveEndsEveryModeWithItsStatus) {
  SKIP_UNDER_WINE("the Windows build keeps its settings in the registry, not in the hive file");
  const std::string tree = Tree({{"a.pas", kLfSource}});
  const Files before = Snapshot(tree);
  WriteFile(FHome / "config/programswitch/HKEY_CURRENT_USER.reg",
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\TAVIK\\Histrel\\PARAMETERS]\r\n"
            "\"REGOFF\"=dword:00000001\r\n\r\n");
  for (const auto& [option, status] : std::vector<std::pair<std::string, int>>{
           {"--help", 1}, {"--diff", 2}, {"--check", 2}, {"", 1}}) {
    std::vector<std::string> arguments = {"/USER=ann", "/FILE=*.pas"};
    if (!option.empty()) arguments.insert(arguments.begin(), option);
    const RunResult result = Histrel(arguments, tree);
    EXPECT_EQ(result.ExitCode, status) << option;
    EXPECT_EQ(result.Out, "") << option;
    EXPECT_NE(result.Err.find("REGOFF"), std::string::npos) << option << result.Err;
  }
  EXPECT_EQ(Snapshot(tree), before);
}

TEST_F(Preview, WritingTheSettingsIsRefusedByThePreviews) {
  const std::string tree = Tree({{"a.pas", kLfSource}});
  const Files before = Snapshot(tree);
  for (const char* option : {"--diff", "--check"}) {
    for (const char* write : {"/WRITEINI=all", "/WRITEREG=all"}) {
      const RunResult result = Histrel({option, write, "/USER=ann", "/FILE=*.pas"}, tree);
      EXPECT_EQ(result.ExitCode, 2) << option << write;
      EXPECT_EQ(result.Err,
                "histrel: --diff and --check write nothing; WRITEINI and WRITEREG cannot be used "
                "with them\n");
    }
  }
  EXPECT_FALSE(testsupport::FileExists(FHome / "config")) << "no hive written";
  EXPECT_FALSE(testsupport::FileExists(fs::path(FProgram).parent_path() / "histrel.ini"));
  EXPECT_EQ(Snapshot(tree), before);
}

// A new log is shown with the permission bits the run gives it: the
// source's, less the execute bits and the umask. git takes the line.
TEST_F(Preview, ANewLogShowsTheModeTheRunCreatesItWith) {
  SKIP_UNDER_WINE("Windows files have no Unix mode bits, and Wine keeps none of them");
  const testsupport::ScopedUmask mask(022);
  struct Case {
    mode_t source;
    const char* line;
  };
  for (const Case& c : std::vector<Case>{{0600, "\nnew file mode 100600\n"},
                                         {0640, "\nnew file mode 100640\n"},
                                         {0644, "\nnew file mode 100644\n"},
                                         {0755, "\nnew file mode 100644\n"}}) {
    SCOPED_TRACE(c.line);
    const std::string tree = Tree({{"a.pas", kLfSource}});
    chmod((tree + "/a.pas").c_str(), c.source);
    const RunResult diff = Histrel({"--diff", "/USER=ann", "/FILE=*.pas"}, tree);
    EXPECT_EQ(diff.ExitCode, 1) << diff.Err;
    EXPECT_NE(diff.Out.find(c.line), std::string::npos) << diff.Out;
    WriteFile(FWork / "preview.patch", diff.Out);
    const RunResult applied =
        testsupport::Run("/usr/bin/git", {"apply", "--check", FWork / "preview.patch"}, tree);
    EXPECT_EQ(applied.ExitCode, 0) << applied.Err;
    ASSERT_EQ(Histrel({"/USER=ann", "/FILE=*.pas"}, tree).ExitCode, 0);
    struct stat log {};
    ASSERT_EQ(stat((tree + "/a.pas.cvs").c_str(), &log), 0);
    char runs[64];
    std::snprintf(runs, sizeof runs, "\nnew file mode 100%03o\n", log.st_mode & 0777U);
    EXPECT_STREQ(runs, c.line) << "the mode of the run's log";
  }
}

// A directory in the place of a source's log: the run and both previews
// refuse the source alike, and nothing is written.
TEST_F(Preview, ADirectoryInTheLogsPlaceIsRefusedByEveryMode) {
  const std::string tree = Tree({{"a.pas", kLfSource}, {"a.pas.cvs/x", ""}});
  const Files before = Snapshot(tree);
  for (const auto& [option, status] :
       std::vector<std::pair<std::string, int>>{{"--diff", 2}, {"--check", 2}, {"", 1}}) {
    std::vector<std::string> arguments = {"/USER=ann", "/FILE=*.pas"};
    if (!option.empty()) arguments.insert(arguments.begin(), option);
    const RunResult result = Histrel(arguments, tree);
    EXPECT_EQ(result.ExitCode, status) << option;
    EXPECT_NE((result.Out + result.Err).find("The file .\\a.pas cannot be edited!"),
              std::string::npos)
        << option << result.Out << result.Err;
    // Windows opens no directory for writing and says no more than that.
    const std::string reason = testsupport::UnderWine() ? "Reason: .\\a.pas.cvs "
                                                        : "Reason: .\\a.pas.cvs is a directory.\n";
    EXPECT_NE(result.Err.find(reason), std::string::npos) << option << result.Err;
    EXPECT_EQ(Snapshot(tree), before) << option;
  }
}

// A read-only source, as in checkouts where files stay read-only until they
// are opened for editing: both previews show its notes and say that a run
// would refuse it, with the reason; the run refuses it. Nothing is written.
TEST_F(Preview, AReadOnlySourceIsShownWithAWarningThatARunWouldRefuseIt) {
  SKIP_UNDER_WINE("Wine keeps no Unix mode bits");
  const std::string tree = Tree({{"a.pas", kLfSource}}, {"a.pas"});
  const Files before = Snapshot(tree);
  const std::string warning =
      "Warning: a run would not edit the file .\\a.pas.\nReason: .\\a.pas is not writable.\n";
  struct Case {
    std::string option;
    int status;
    std::string out;
    std::string err;
  };
  for (const Case& c :
       std::vector<Case>{{"--check", 1, "a.pas:7: Takes no argument now.\n", warning},
                         {"--diff", 1, "diff --git a/a.pas b/a.pas\n", warning},
                         {"", 1, ".\\a.pas\nThe file .\\a.pas cannot be edited!\n",
                          "Reason: .\\a.pas is not writable.\n"}}) {
    std::vector<std::string> arguments = {"/USER=ann", "/FILE=*.pas"};
    if (!c.option.empty()) arguments.insert(arguments.begin(), c.option);
    const RunResult result = Histrel(arguments, tree);
    EXPECT_EQ(result.ExitCode, c.status) << c.option;
    EXPECT_EQ(result.Out.substr(0, c.out.size()), c.out) << c.option;
    EXPECT_EQ(result.Err, c.err) << c.option;
    EXPECT_EQ(Snapshot(tree), before) << c.option;
  }
}

// Under a limit of the address space (RLIMIT_AS), which AddressSanitizer
// cannot run under: it maps terabytes of shadow memory.
class PreviewMemory : public Preview {
 protected:
  void SetUp() override {
    SKIP_UNDER_WINE("a limit on the address space would limit Wine itself");
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer cannot run under RLIMIT_AS";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "AddressSanitizer cannot run under RLIMIT_AS";
#endif
#endif
    Preview::SetUp();
  }

  // The program in ADirectory under an address space of AMegabytes, with
  // no thread reading ahead: a thread's own heap would reserve address
  // space of its own.
  RunResult Limited(int AMegabytes, const std::string& AOption, const std::string& ADirectory) {
    std::vector<std::string> arguments = {
        "-c", "ulimit -v " + std::to_string(AMegabytes * 1024) + " && exec \"$0\" \"$@\"",
        FProgram};
    if (!AOption.empty()) arguments.push_back(AOption);
    arguments.insert(arguments.end(), {"/USER=ann", "/FILE=*.pas", "/THREADS=1"});
    return testsupport::Run("/bin/sh", arguments, ADirectory,
                            {"HOME=" + FHome.Path(), "XDG_CONFIG_HOME=" + FHome / "config"});
  }

  static constexpr std::size_t kMegabyte = std::size_t{1} << 20;
};

// A note larger than the memory allowed: every mode ends with the tool's
// message and its failure status, and leaves the tree as it was, without a
// temporary file.
TEST_F(PreviewMemory, MemoryThatRunsOutEndsEveryModeWithAMessageAndChangesNothing) {
  std::string source = "unit U;\n{CVSLOG}\n{CVS* ";
  while (source.size() < 32 * kMegabyte) source += "the note goes on ";
  source += "}\nend.\n";
  const std::string tree = Tree({{"a.pas", source}});
  const Files before = Snapshot(tree);
  const std::string message = "There is not enough memory to process .\\a.pas!\n";
  struct Case {
    std::string option;
    int status;
    std::string out;
    std::string err;
  };
  for (const Case& c : std::vector<Case>{{"", 1, ".\\a.pas\n" + message, ""},
                                         {"--check", 2, "", message},
                                         {"--diff", 2, "", message}}) {
    const RunResult result = Limited(48, c.option, tree);
    EXPECT_EQ(result.ExitCode, c.status) << c.option << result.Err;
    EXPECT_EQ(result.Out, c.out) << c.option;
    EXPECT_EQ(result.Err, c.err) << c.option;
    EXPECT_TRUE(Snapshot(tree) == before) << c.option << ": the tree changed";
  }
}

// One code line of 32 MB, of words or one long word (which the run holds
// whole): in the memory of twice the source and the program's own, --check
// finds it like the run, and --diff shows it.
TEST_F(PreviewMemory, TheCheckFitsWhereTheRunFitsAndTheDiffInTwiceTheSource) {
  for (const char* piece : {"x := 1; ", "x:=1;"}) {
    SCOPED_TRACE(piece);
    std::string source = "unit U;\n{CVSLOG}\n{CVS* a short note}\n";
    while (source.size() < 32 * kMegabyte) source += piece;
    source += "\nend.\n";
    const std::string tree = Tree({{"a.pas", source}});
    const Files before = Snapshot(tree);
    const int limit = 2 * 32 + 32;
    const RunResult check = Limited(limit, "--check", tree);
    EXPECT_EQ(check.ExitCode, 1) << check.Err;
    EXPECT_EQ(check.Out, "a.pas:3: a short note\n");
    const RunResult diff = Limited(limit, "--diff", tree);
    EXPECT_EQ(diff.ExitCode, 1) << diff.Err;
    EXPECT_EQ(diff.Err, "");
    EXPECT_EQ(diff.Out.rfind("diff --git a/a.pas b/a.pas\n", 0), 0u) << diff.Out.substr(0, 200);
    EXPECT_NE(diff.Out.find(std::string("\n ") + piece + piece), std::string::npos)
        << "the long line as context";
    EXPECT_TRUE(Snapshot(tree) == before) << "a preview wrote something";
    const RunResult run = Limited(limit, "", tree);
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_NE(ReadFile(tree + "/a.pas"), source);
  }
}

}  // namespace
