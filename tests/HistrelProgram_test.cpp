// End-to-end tests of the built histrel on temporary trees: a private copy of
// the program (no INI file beside it) with a private HOME and
// XDG_CONFIG_HOME (no registry hive), run as a user would run it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/uHistrel.h"
#include "platform/Date.h"
#include "tests/HistrelTestSupport.h"
#include "tests/SampleUnit.h"
#include "tests/TestSupport.h"

namespace {

namespace fs = std::filesystem;

using testsupport::FileExists;
using testsupport::kSampleAfterFirstRun;
using testsupport::kSampleBefore;
using testsupport::kSampleLogAfterFirstRun;
using testsupport::ReadFile;
using testsupport::RunResult;
using testsupport::Snapshot;
using testsupport::SystemPath;
using testsupport::TempDir;
using testsupport::WithDate;
using testsupport::WriteFile;
using Lines = std::vector<std::string>;

// Standard output's lines; each ends with LF alone, the line end of Linux.
Lines SplitLines(const std::string& AText) {
  const Lines lines = testsupport::SplitLines(AText);
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find('\r'), std::string::npos) << "a line holds CR: " << AText;
  }
  return lines;
}

class Program : public ::testing::Test {
 protected:
  void SetUp() override { FProgram = testsupport::PrivateProgram(FHome); }

  std::vector<std::string> Environment() const {
    return {"HOME=" + FHome.Path(), "XDG_CONFIG_HOME=" + FHome / "config"};
  }

  // The lines the program writes, in ADirectory (default: the tree), after
  // checking that it ends with AStatus (1 after a reported failure) and
  // writes AErrors on standard error (the reason of a refused source).
  Lines Run(const std::vector<std::string>& AArguments, const std::string& ADirectory = "",
            int AStatus = 0, const std::string& AErrors = "") {
    const RunResult result = testsupport::Run(
        FProgram, AArguments, ADirectory.empty() ? FTree.Path() : ADirectory, Environment());
    EXPECT_EQ(result.ExitCode, AStatus);
    EXPECT_EQ(result.Err, AErrors);
    return SplitLines(result.Out);
  }

  std::string Top() const { return SystemPath(FTree.Path()); }
  static std::string Today() { return FormatHistoryDate(platform::Today()); }
  // The day a run wrote into AText, taken between ABefore and AAfter, the
  // dates read around it: a run may cross midnight.
  static std::string DayOf(const std::string& AText, const std::string& ABefore,
                           const std::string& AAfter) {
    return AText.find(AAfter) != std::string::npos ? AAfter : ABefore;
  }

  TempDir FHome;
  TempDir FTree;
  std::string FProgram;
};

TEST_F(Program, RewritesTheWorkedExampleAndAnnouncesIt) {
  WriteFile(FTree / "src/Sample.pas", kSampleBefore);
  const std::string before = Today();
  EXPECT_EQ(Run({"/USER=dev", "/FILE=" + Top() + "\\src\\*.pas"}),
            Lines{Top() + "\\src\\Sample.pas"});
  // LF line ends in, LF line ends out, in the source and in its new log.
  const std::string source = ReadFile(FTree / "src/Sample.pas");
  const std::string date = DayOf(source, before, Today());
  EXPECT_EQ(source, WithDate(kSampleAfterFirstRun, date));
  EXPECT_EQ(ReadFile(FTree / "src/Sample.pas.cvs"), WithDate(kSampleLogAfterFirstRun, date));
  EXPECT_FALSE(FileExists(FTree / "src/Sample.tmp"));
}

TEST_F(Program, ReportsFailuresAsOneLineInTheirOrderAndEndsWithStatusOne) {
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
    std::string reason;
  };
  // A bare histrel: the message, and a hint on standard error after it.
  const RunResult bare = testsupport::Run(FProgram, {}, FTree.Path(), Environment());
  EXPECT_EQ(bare.ExitCode, 1);
  EXPECT_EQ(bare.Out, "The parameter FILE must be indicated!\n");
  EXPECT_EQ(bare.Err, "Try 'histrel --help' for more information.\n");
  std::vector<Case> cases = {
      {{"/FILE=x.pas"}, "The user must be indicated!", ""},
      {{"/USER=ann", "/FILE=" + Top() + "\\nowhere\\*.pas"},
       "Cannot access the directory: " + Top() + "\\nowhere\\",
       ""},
      {{"/USER=ann", "/FILE=missing.pas", "/RECURSIVE-"},
       "The file .\\missing.pas cannot be edited!",
       "Reason: .\\missing.pas does not exist.\n"},
  };
  // Wine passes an argument that holds quotes to the Windows program quoted
  // and escaped, and the switches are read from the raw command line.
  if (!testsupport::UnderWine()) {
    cases.push_back({{"/USER=ann", "/FILE=\"\""}, "The path must be indicated!", ""});
  }
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.arguments, "", 1, c.reason), Lines{c.message}) << c.message;
  }
}

// What a Linux user types first: a POSIX path in FILE, a typo, a word or a
// backslash the shell took away. Each stops before anything is written,
// with a line on standard error; a preview that would pass without a word
// ends with status 2.
TEST_F(Program, CommandLineMistakesStopBeforeAnythingIsWritten) {
  for (const char* name : {"src/Main.pas", "src/NOTES.txt", "src/forms/Main.pas"}) {
    WriteFile(FTree / name, "{CVS* note}\n");
  }
  const auto before = Snapshot(FTree.Path());
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{"/USER=ann", "/FILE=src/*.pas"}, 2, "unknown switch /*.pas: a \"/\" begins a switch"},
      {{"/USER=ann", "/FILE=src/forms/Main.pas"}, 2, "('/FILE=src\\forms\\Main.pas')"},
      {{"/USER=ann", "/FILE=src\\*.pas", "/RECURSIV-"}, 2, "unknown switch /RECURSIV- "},
      {{"--diff", "/USER=ann", "/FILE=src\\*.pas", "/RECURSIV-"}, 2, "unknown switch /RECURSIV-"},
      {{"--check", "/USER=ci", "/FILE=src*.pas"}, 2, "FILE src*.pas selects no file (a backslash"},
      {{"--check", "/USER=ci", "/FILE=src\\*.xyz"}, 2, "FILE src\\*.xyz selects no file\n"},
      {{"/USER=ci", "/FILE=src\\*.xyz"}, 0, "FILE src\\*.xyz selects no file\n"},
      {{"--check", "/USER=ci", "extra", "/FILE=src\\*.pas"}, 2, "extra is neither a switch"},
      {{"-check", "/USER=ci", "/FILE=src\\*.pas"}, 2, "did you mean --check?"},
      {{"/USER=ci", "src/Main.pas"}, 2, "src/Main.pas is neither a switch"},
  };
  for (const Case& c : cases) {
    const RunResult result = testsupport::Run(FProgram, c.arguments, FTree.Path(), Environment());
    EXPECT_EQ(result.ExitCode, c.status) << c.says;
    EXPECT_EQ(result.Out, "") << c.says;
    EXPECT_NE(result.Err.find(c.says), std::string::npos) << result.Err;
    EXPECT_EQ(std::count(result.Err.begin(), result.Err.end(), '\n'), 1) << result.Err;
    EXPECT_EQ(Snapshot(FTree.Path()), before) << c.says;
  }
}

// WRITEINI and WRITEREG write "no default value" for USER and FILE: read
// back, it is no name and no path, and the line names where it stands.
TEST_F(Program, TheDefaultTextOfUserOrFileCountsAsNotGiven) {
  SKIP_UNDER_WINE("WRITEREG would write the registry of the Wine prefix, which every test shares");
  WriteFile(FTree / "a.pas", "{CVS* note}\n");
  const auto before = Snapshot(FTree.Path());
  const RunResult written =
      testsupport::Run(FProgram, {"/WRITEREG=all"}, FTree.Path(), Environment());
  ASSERT_EQ(written.ExitCode, 0) << written.Err;
  const RunResult fromHive =
      testsupport::Run(FProgram, {"/FILE=a.pas"}, FTree.Path(), Environment());
  EXPECT_EQ(fromHive.ExitCode, 1);
  EXPECT_EQ(fromHive.Out, "The user must be indicated!\n");
  EXPECT_EQ(fromHive.Err.rfind("histrel: USER \"no default value\" in the registry key "
                               "HKEY_CURRENT_USER\\",
                               0),
            0u)
      << fromHive.Err;
  WriteFile(fs::path(FProgram).parent_path().string() + "/histrel.ini",
            "[PARAMETERS]\r\nUSER=ann\r\nFILE=kein\r\n");
  const RunResult fromIni = testsupport::Run(FProgram, {}, FTree.Path(), Environment());
  EXPECT_EQ(fromIni.ExitCode, 1);
  EXPECT_EQ(fromIni.Out, "The parameter FILE must be indicated!\n");
  EXPECT_NE(fromIni.Err.find("histrel: FILE \"kein\" in the INI file "), std::string::npos)
      << fromIni.Err;
  EXPECT_EQ(Snapshot(FTree.Path()), before);
}

TEST_F(Program, SelectsByMaskByNameOrWholeDirectory) {
  for (const char* name : {"a.pas", "B.PAS", "c.pas.bak", "d.txt", "sub/e.pas", "sub/a.pas"}) {
    WriteFile(FTree / name, "");
  }
  const auto sorted = [](Lines ALines) {
    std::sort(ALines.begin(), ALines.end());
    return ALines;
  };
  EXPECT_EQ(sorted(Run({"/USER=ann", "/FILE=" + Top() + "\\*.pas", "/RECURSIVE-"})),
            sorted({Top() + "\\a.pas", Top() + "\\B.PAS", Top() + "\\c.pas.bak"}));
  EXPECT_EQ(sorted(Run({"/USER=ann", "/FILE=" + Top() + "\\*.pas"})),
            sorted({Top() + "\\a.pas", Top() + "\\B.PAS", Top() + "\\c.pas.bak",
                    Top() + "\\sub\\e.pas", Top() + "\\sub\\a.pas"}));
  EXPECT_EQ(Run({"/USER=ann", "/FILE=a.pas"}), (Lines{".\\a.pas", ".\\sub\\a.pas"}));
  EXPECT_EQ(Run({"/USER=ann", "/FILE=a.pas", "/RECURSIVE-"}), Lines{});
  EXPECT_EQ(sorted(Run({"/USER=ann", "/FILE=sub"})), sorted({"sub\\e.pas", "sub\\a.pas"}));
}

TEST_F(Program, ASecondRunChangesNothing) {
  WriteFile(FTree / "a.pas", kSampleBefore);
  WriteFile(FTree / "sub/b.pas", "{CVSLOG}\n// CVS* one\n{CVS* two\n}\n");
  WriteFile(FTree / "sub/c.pas", "unit C;\n");
  Run({"/USER=dev", "/FILE=" + Top() + "\\*.pas"});
  const auto first = Snapshot(FTree.Path());
  EXPECT_EQ(first.size(), 5u);  // two logs added
  Run({"/USER=qa", "/FILE=" + Top() + "\\*.pas"});
  EXPECT_EQ(Snapshot(FTree.Path()), first);
}

// Mend: a source that cannot be replaced is reported before anything is written.
TEST_F(Program, AReadOnlySourceIsReportedAndLeftWithoutTrace) {
  WriteFile(FTree / "a.pas", "{CVS* a}\n");
  ASSERT_EQ(chmod((FTree / "a.pas").c_str(), 0444), 0);
  EXPECT_EQ(Run({"/USER=ann", "/FILE=a.pas", "/RECURSIVE-"}, "", 1,
                "Reason: .\\a.pas is not writable.\n"),
            Lines{"The file .\\a.pas cannot be edited!"});
  EXPECT_EQ(Snapshot(FTree.Path()), (std::map<std::string, std::string>{{"a.pas", "{CVS* a}\n"}}));
}

// --keep-going over a tree read ahead by workers: a unit whose marker
// cannot hold the history and one whose log others may read are reported
// with their reasons and passed over, left as they were with their logs;
// every other file, before and after them, is rewritten; status 1.
TEST_F(Program, KeepGoingPassesOverRefusedSourcesAndEndsWithStatusOne) {
  for (int i = 0; i < 40; ++i) {
    WriteFile(FTree / ("src/d" + std::to_string(i % 3) + "/u" + std::to_string(i) + ".pas"),
              "{CVSLOG}\n{CVS* note " + std::to_string(i) + "}\n");
  }
  const std::string marker = "unit M;\n// CVSLOG\n{CVS* refused}\n";
  WriteFile(FTree / "src/d1/m.pas", marker);
  WriteFile(FTree / "src/d2/p.pas", "{CVSLOG}\n{CVS* private}\n");
  WriteFile(FTree / "src/d2/p.pas.cvs", "ann 2001.01.01 an earlier entry\n\n");
  // Wine keeps no Unix mode bits: the log would not be refused there.
  const bool modes = !testsupport::UnderWine();
  if (modes) {
    ASSERT_EQ(chmod((FTree / "src/d2/p.pas").c_str(), 0600), 0);
    ASSERT_EQ(chmod((FTree / "src/d2/p.pas.cvs").c_str(), 0644), 0);
  }
  const auto before = Snapshot(FTree.Path());
  const RunResult result =
      testsupport::Run(FProgram, {"--keep-going", "/USER=ann", "/THREADS=4", "/FILE=src\\*.pas"},
                       FTree.Path(), Environment());
  EXPECT_EQ(result.ExitCode, 1) << result.Out;
  const Lines out = SplitLines(result.Out);
  const auto has = [&](const std::string& ALine) {
    return std::find(out.begin(), out.end(), ALine) != out.end();
  };
  EXPECT_TRUE(
      has("The marker at src\\d1\\m.pas:2 cannot take the history: only a { } or (* *) "
          "comment can hold it!"))
      << result.Out;
  std::string errors =
      "Reason: a // comment ends with its line, so the history would become code; put the marker "
      "in a { } or (* *) comment.\n";
  if (modes) {
    EXPECT_TRUE(has("The file src\\d2\\p.pas cannot be edited!")) << result.Out;
    errors +=
        "Reason: the log src\\d2\\p.pas.cvs may be read by users who may not read its "
        "source.\n";
  }
  // One reason for each refusal, in the order of the walk, which the listing decides.
  Lines errorLines = SplitLines(result.Err);
  std::sort(errorLines.begin(), errorLines.end());
  Lines expected = SplitLines(errors);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(errorLines, expected);
  const auto after = Snapshot(FTree.Path());
  EXPECT_EQ(after.at("src/d1/m.pas"), marker);
  EXPECT_EQ(after.count("src/d1/m.pas.cvs"), 0u);
  if (modes) {
    EXPECT_EQ(after.at("src/d2/p.pas"), before.at("src/d2/p.pas"));
    EXPECT_EQ(after.at("src/d2/p.pas.cvs"), before.at("src/d2/p.pas.cvs"));
  }
  for (int i = 0; i < 40; ++i) {
    const std::string name = "src/d" + std::to_string(i % 3) + "/u" + std::to_string(i) + ".pas";
    EXPECT_EQ(after.at(name).find("{CVS*"), std::string::npos) << name;
    EXPECT_EQ(after.count(name + ".cvs"), 1u) << name;
    EXPECT_TRUE(has(SystemPath(name))) << name;
  }
  EXPECT_EQ(after.size(), before.size() + 40) << "a log for each rewritten source, no temporary";
}

// Mend: text at the end of a source inside an open comment reaches the history.
TEST_F(Program, AnOpenCommentAtTheEndOfASourceIsNotLost) {
  WriteFile(FTree / "a.pas", "{CVSLOG}\n{CVS* started\nbut never closed");
  const std::string before = Today();
  Run({"/USER=ann", "/FILE=a.pas", "/RECURSIVE-"});
  const std::string log = ReadFile(FTree / "a.pas.cvs");
  EXPECT_EQ(log, "ann " + DayOf(log, before, Today()) + " started but never closed\n");
}

// Mend: an existing file with the temporary file's name is never touched.
TEST_F(Program, AnExistingTemporaryFileStopsTheRewriting) {
  WriteFile(FTree / "a.pas", "{CVS* a}\n");
  WriteFile(FTree / "a.tmp", "precious\n");
  EXPECT_EQ(Run({"/USER=ann", "/FILE=" + Top() + "\\a.pas", "/RECURSIVE-"}, "", 1,
                "Reason: " + Top() +
                    "\\a.tmp was not left behind by a killed run of this tool, so it is kept.\n"),
            Lines{"The temporary file " + Top() + "\\a.tmp already exists!"});
  EXPECT_EQ(Snapshot(FTree.Path()),
            (std::map<std::string, std::string>{{"a.pas", "{CVS* a}\n"}, {"a.tmp", "precious\n"}}));
}

// Mend: permission bits survive, and a linked source stays a link.
TEST_F(Program, ARewrittenSourceKeepsItsModeAndItsLink) {
  WriteFile(FTree / "a.pas", "{CVS* a}\n");
  ASSERT_EQ(chmod((FTree / "a.pas").c_str(), 0751), 0);
  WriteFile(FTree / "shared/real.pas", "{CVS* b}\n");
  ASSERT_EQ(symlink("shared/real.pas", (FTree / "b.pas").c_str()), 0);
  const std::string before = Today();
  Run({"/USER=ann", "/FILE=" + Top() + "\\*.pas", "/RECURSIVE-"});
  const std::string after = Today();
  struct stat info {};
  ASSERT_EQ(stat((FTree / "a.pas").c_str(), &info), 0);
  // Wine's ReplaceFile keeps no Unix mode bits; Windows files have none.
  if (!testsupport::UnderWine()) {
    EXPECT_EQ(info.st_mode & 07777, 0751u);
  }
  ASSERT_EQ(lstat((FTree / "b.pas").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  const std::string linked = ReadFile(FTree / "shared/real.pas");
  EXPECT_EQ(linked, "{ann " + DayOf(linked, before, after) + " b}\n");
}

TEST_F(Program, TheOverviewListsTheToolsSwitchesWithTheirEnglishTexts) {
  const Lines lines = Run({"/?"});
  const auto contains = [&](const std::string& ALine) {
    return std::find(lines.begin(), lines.end(), ALine) != lines.end();
  };
  for (const char* line : {"/USER=no default value", "/FILE=no default value", "/INSERT=CVSLOG",
                           "/RECURSIVE=+", "/KEEPCVS=-", "/KEEPDATE=+", "     Opt: c:\\pek\\*.pas",
                           "     Description: This switch turns on or off the recursive "
                           "searching in the subdirectories."}) {
    EXPECT_TRUE(contains(line)) << line;
  }
  // The overview ends the program: the tool does not run.
  EXPECT_FALSE(contains("The parameter FILE must be indicated!"));
}

TEST_F(Program, TheBundledExampleRunsAsTheQuickStartShows) {
  std::filesystem::copy(HISTREL_SOURCE_DIR "/examples", FTree / "examples",
                        std::filesystem::copy_options::recursive);
  const auto before = Snapshot(FTree / "examples");
  Lines lines = Run({"/USER=ann", "--", "examples"});
  std::sort(lines.begin(), lines.end());
  Lines expected;
  for (const auto& [name, content] : before) {
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".pas") == 0) {
      expected.push_back("examples\\" + SystemPath(name));
    }
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(lines, expected);
  const auto after = Snapshot(FTree / "examples");
  int logs = 0;
  for (const auto& [name, content] : after) {
    EXPECT_EQ(content.find("CVS*"), std::string::npos) << name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".cvs") == 0) ++logs;
  }
  EXPECT_GE(logs, 2);
  // A file without marked comments is left as it was.
  for (const auto& [name, content] : before) {
    if (content.find("CVS*") == std::string::npos) {
      EXPECT_EQ(after.at(name), content) << name;
    }
  }
}

}  // namespace
