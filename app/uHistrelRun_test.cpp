// The program run: switches read, defaults kept, FILE split, failures
// reported as one line.
#include "app/uHistrelRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/uHistrelEnglishConstant.h"
#include "tests/HistrelTestSupport.h"
#include "tests/SwitchFixture.h"
#include "tests/TestSupport.h"

namespace {

using testsupport::ConsoleCapture;
using testsupport::FixedDate;
using testsupport::ReadFile;
using testsupport::SwitchFixture;
using testsupport::SystemPath;
using testsupport::TempDir;
using testsupport::WriteFile;
using Lines = std::vector<std::string>;

class ProgramRun : public ::testing::Test {
 protected:
  void SetUp() override { InitializeHistrelEnglishConstantUnit(); }

  // The lines that a run with these switches writes on standard output.
  static Lines Run(const std::string& ASwitches) {
    SwitchFixture fixture("histrel " + ASwitches);
    ConsoleCapture console;
    RunHistrel(FixedDate(2003, 5, 14));
    return console.Lines;
  }

  std::string Top() const { return SystemPath(FDir.Path()); }

  TempDir FDir;
};

TEST_F(ProgramRun, ReportsTheFirstMissingSettingInItsOrder) {
  const std::string missing = Top() + "\\missing\\";
  struct Case {
    std::string switches;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"", "The parameter FILE must be indicated!"},  // FILE is tested before USER
      {"/FILE=", "The parameter FILE must be indicated!"},
      {"/FILE=x.pas", "The user must be indicated!"},
      {"/USER= /FILE=x.pas", "The user must be indicated!"},
      {"/USER=ann /FILE=\"\"", "The path must be indicated!"},
      {"/USER=ann /FILE=" + missing + "*.pas", "Cannot access the directory: " + missing},
      {"/USER=ann /FILE=" + missing, "Cannot access the directory: " + missing},
  };
  for (const Case& c : cases) EXPECT_EQ(Run(c.switches), Lines{c.message}) << c.switches;
}

TEST_F(ProgramRun, OnlyThePlusTurnsAYesNoSwitchOn) {
  WriteFile(FDir / "a.pas", "");
  WriteFile(FDir / "sub/b.pas", "");
  struct Case {
    std::string recursive;
    bool walksSubdirectories;
  };
  const std::vector<Case> cases = {{"", true},
                                   {" /RECURSIVE+", true},
                                   {" /RECURSIVE=+", true},
                                   {" /RECURSIVE-", false},
                                   {" /RECURSIVE=on", false},
                                   {" /RECURSIVE=1", false}};
  for (const Case& c : cases) {
    const Lines lines = Run("/USER=ann /FILE=" + Top() + "\\*.pas" + c.recursive);
    EXPECT_EQ(lines.size(), c.walksSubdirectories ? 2u : 1u) << c.recursive;
  }
}

TEST_F(ProgramRun, KeepCvsAndKeepDateHaveTheirDefaultsUnlessGiven) {
  struct Case {
    std::string switches;
    std::string converted;
  };
  const std::vector<Case> cases = {
      {"", "{ann 2003.05.14 a}"},
      {" /KEEPCVS+", "{CVS: ann 2003.05.14 a}"},
      {" /KEEPDATE-", "{ a}"},
      {" /KEEPCVS+ /KEEPDATE=no", "{CVS: a}"},
  };
  for (const Case& c : cases) {
    WriteFile(FDir / "a.pas", "{CVS* a}\n");
    Run("/USER=ann /FILE=" + Top() + "\\a.pas /RECURSIVE-" + c.switches);
    EXPECT_EQ(ReadFile(FDir / "a.pas"), c.converted + "\n") << c.switches;
  }
}

TEST_F(ProgramRun, AnEmptyInsertKeepsTheDefaultMarker) {
  const std::string source = "{CVSLOG}\n(* History *)\n{CVS* a}\n";
  WriteFile(FDir / "a.pas", source);
  Run("/USER=ann /INSERT= /FILE=" + Top() + "\\a.pas");
  EXPECT_EQ(ReadFile(FDir / "a.pas"),
            "{CVSLOG\n   ann 2003.05.14 a\n}\n(* History *)\n{ann 2003.05.14 a}\n");
  WriteFile(FDir / "a.pas", source);
  Run("/USER=ann /INSERT=history /FILE=" + Top() + "\\a.pas");
  EXPECT_EQ(ReadFile(FDir / "a.pas"),
            "{CVSLOG}\n(* History *)\n     ann 2003.05.14 a\n{ann 2003.05.14 a}\n");
}

TEST_F(ProgramRun, WalksTheDirectoryThatFileNames) {
  WriteFile(FDir / "src/a.pas", "{CVS* a}\n");
  WriteFile(FDir / "src/b.txt", "");
  Lines lines = Run("/USER=ann /FILE=\"" + Top() + "\\src\"");
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (Lines{Top() + "\\src\\a.pas", Top() + "\\src\\b.txt"}));
  EXPECT_EQ(ReadFile(FDir / "src/a.pas.cvs"), "ann 2003.05.14 a\n\n");
}

}  // namespace
