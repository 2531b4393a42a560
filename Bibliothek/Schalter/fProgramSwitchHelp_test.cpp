#include "Bibliothek/Schalter/fProgramSwitchHelp.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "app/uHistrelEnglishConstant.h"
#include "support/uStartup.h"
#include "tests/SwitchFixture.h"
#include "tests/TestPresenter.h"

namespace {

constexpr int kNoHalt = -1;

// The exit code the start-up step ended the program with, or kNoHalt.
int RunStartUpStep() {
  try {
    InitializeProgramSwitchHelpUnit();
  } catch (const EHalt& halt) {
    return halt.ExitCode();
  }
  return kNoHalt;
}

// A path as a switch value gives it: backslashes, a leading one for the root.
std::string SwitchPath(std::string APath) {
  for (char& c : APath) {
    if (c == '/') c = '\\';
  }
  return APath;
}

class StartUpStepTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeHistrelEnglishConstantUnit(); }

  // Where the registry hive of a fixture lives.
  static std::string Hive(const testsupport::SwitchFixture& AFixture) {
    return AFixture.ConfigHome() + "/programswitch/HKEY_CURRENT_USER.reg";
  }

  testsupport::StepPresenter FPresenter;
};

TEST_F(StartUpStepTest, TheHelpSwitchShowsTheOverviewAndEndsTheProgram) {
  testsupport::SwitchFixture switches("histrel /?");
  EXPECT_EQ(RunStartUpStep(), 0);
  EXPECT_EQ(FPresenter.Events,
            (std::vector<std::string>{"begin List of registered switches", "wait",
                                      "end List of registered switches"}));
  EXPECT_TRUE(FPresenter.MessageBoxes.empty());
}

TEST_F(StartUpStepTest, TheHelpSwitchWinsOverWriteIni) {
  testsupport::SwitchFixture switches("histrel /? /WRITEINI=all /WRITEREG=all");
  EXPECT_EQ(RunStartUpStep(), 0);
  EXPECT_EQ(FPresenter.Waits, 1);
  EXPECT_TRUE(FPresenter.MessageBoxes.empty());
  EXPECT_FALSE(testsupport::FileExists(switches.IniFile()));
  EXPECT_FALSE(testsupport::FileExists(Hive(switches)));
}

TEST_F(StartUpStepTest, WithoutServiceSwitchesTheStepDoesNothing) {
  for (const char* commandLine :
       {"histrel", "histrel /USER=dev", "histrel /WRITEINI=no default value",
        "histrel /WRITEREG=no default value", "histrel /WRITEINI="}) {
    testsupport::SwitchFixture switches(commandLine);
    EXPECT_EQ(RunStartUpStep(), kNoHalt) << commandLine;
    EXPECT_TRUE(FPresenter.Events.empty()) << commandLine;
    EXPECT_TRUE(FPresenter.MessageBoxes.empty()) << commandLine;
  }
}

TEST_F(StartUpStepTest, TheDefaultTextCountsOnlyInItsOwnLetterCase) {
  testsupport::SwitchFixture switches("histrel /WRITEINI=No Default Value");
  EXPECT_EQ(RunStartUpStep(), 0);
  EXPECT_TRUE(FPresenter.Events.empty());
  EXPECT_TRUE(FPresenter.MessageBoxes.empty());
  EXPECT_FALSE(testsupport::FileExists(switches.IniFile())) << "a selection of no section";
}

TEST_F(StartUpStepTest, AFailedWriteIniIsShownInTheErrorBoxAndEndsTheProgramWithStatusOne) {
  testsupport::TempDir scratch;
  testsupport::WriteFile(scratch / "file", "a file, not a directory");
  testsupport::SwitchFixture switches("histrel /WRITEINI=all /WRITEREG=all /INIPATH=" +
                                      SwitchPath(scratch / "file/sub"));
  EXPECT_EQ(RunStartUpStep(), 1);  // a failure ends the program with status 1
  ASSERT_EQ(FPresenter.MessageBoxes.size(), 1u);
  const std::string& box = FPresenter.MessageBoxes[0];
  EXPECT_EQ(box.rfind("Error: Der Pfad ", 0), 0u) << box;  // the title in English
  EXPECT_NE(box.find(" kann nicht angelegt werden!"), std::string::npos) << box;
  EXPECT_FALSE(testsupport::FileExists(Hive(switches))) << "WRITEREG is not looked at";
  EXPECT_TRUE(FPresenter.Events.empty());
}

TEST_F(StartUpStepTest, WriteIniWinsOverWriteRegAndEndsTheProgram) {
  testsupport::SwitchFixture switches("histrel /WRITEINI=all /WRITEREG=all");
  EXPECT_EQ(RunStartUpStep(), 0);
  EXPECT_TRUE(FPresenter.MessageBoxes.empty());
  EXPECT_NE(testsupport::ReadFile(switches.IniFile()).find("REGOFF=-"), std::string::npos);
  EXPECT_FALSE(testsupport::FileExists(Hive(switches)));
}

TEST_F(StartUpStepTest, WriteRegWritesTheRegistryAndEndsTheProgram) {
  testsupport::SwitchFixture switches("histrel /WRITEREG=all");
  EXPECT_EQ(RunStartUpStep(), 0);
  EXPECT_TRUE(FPresenter.MessageBoxes.empty());
  EXPECT_NE(testsupport::ReadFile(Hive(switches)).find("\"REGOFF\"=\"-\""), std::string::npos);
  EXPECT_FALSE(testsupport::FileExists(switches.IniFile()));
}

TEST_F(StartUpStepTest, AFailedWriteRegistryIsShownInTheErrorBoxAndEndsTheProgramWithStatusOne) {
  testsupport::SwitchFixture switches("histrel /WRITEREG=all");
  testsupport::WriteFile(switches.Dir() / "file", "a file, not a directory");
  setenv("XDG_CONFIG_HOME", (switches.Dir() / "file/config").c_str(), 1);
  EXPECT_EQ(RunStartUpStep(), 1);  // a failure ends the program with status 1
  ASSERT_EQ(FPresenter.MessageBoxes.size(), 1u);
  EXPECT_EQ(FPresenter.MessageBoxes[0].rfind("Error: ", 0), 0u) << FPresenter.MessageBoxes[0];
  EXPECT_FALSE(testsupport::FileExists(switches.IniFile()));
}

}  // namespace
