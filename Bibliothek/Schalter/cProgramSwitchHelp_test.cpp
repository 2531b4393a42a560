#include "Bibliothek/Schalter/cProgramSwitchHelp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Bibliothek/Schalter/fProgramSwitchHelp.h"
#include "Bibliothek/Schalter/uProgramSwitch.h"
#include "app/uHistrelEnglishConstant.h"
#include "base/Exception.h"
#include "tests/SwitchFixture.h"
#include "tests/TestPresenter.h"
#include "tests/TestSupport.h"

namespace {

using Lines = std::vector<std::string>;

class ProgramSwitchHelpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeHistrelEnglishConstantUnit();
    platform::ProcessPostedMessages();
  }
  void TearDown() override { platform::ProcessPostedMessages(); }
};

TEST_F(ProgramSwitchHelpTest, ListsTheStandardSwitchesInRegistrationOrder) {
  testsupport::SwitchFixture switches("histrel /?");
  TfrmSwitchHelp form;
  EXPECT_EQ(form.Caption(), "List of registered switches");
  const std::string d = "     Description: ";
  EXPECT_EQ(
      form.mlRegistredSwitches->Lines(),
      (Lines{
          "/REGOFF=-",
          "     Opt: +, -",
          d + "This switch switches the readout from the registry in or out.",
          "",
          "/INIOFF=-",
          "     Opt: +, -",
          d + "This switch switches the readout from the Ini file in or out.",
          "",
          "/CMDOFF=-",
          "     Opt: +, -",
          d + "This switch switches the readout from the command line in or out.",
          "",
          "/REGPATH=\\Software\\TAVIK\\Histrel\\",
          "     Opt: \\Software\\TAVIK",
          d + "This switch sets the path of the registry.",
          "",
          "/INIPATH=" + testsupport::SystemPath(switches.ProgramDir()) + "\\",
          "     Opt: c:\\win",
          d + "This switch sets the path of the Ini file.",
          "",
          "/INIFILE=histrel.ini",
          "     Opt: win32.ini",
          d + "This switch sets the name of the Ini file.",
          "",
          "/WRITEINI=no default value",
          "     Opt: all, [Parameters], [Resources], ...",
          d + "This switch activates the writing of the registered switches into the Ini file. The "
              "application terminates immediately afterwards.",
          "",
          "/WRITEREG=no default value",
          "     Opt: all, [Parameters], [Resources], ...",
          d + "This switch activates the writing of the registered switches into the registry. The "
              "application terminates immediately afterwards.",
          "",
          "/SHOWHIDDEN=off",
          "     Opt: on, off",
          d + "This switch shows or hides the switches, which are registered with the special "
              "register method.",
          "",
      }));
}

TEST_F(ProgramSwitchHelpTest, ShowsKeysAndTextsExactlyAsRegistered) {
  testsupport::SwitchFixture switches("histrel", false);
  ProgramSwitch->Register("Alpha", "a, b", "", "first");
  ProgramSwitch->Register("[Other].beta", "", "  spaced  ", "");
  TfrmSwitchHelp form;
  EXPECT_EQ(form.mlRegistredSwitches->Lines(),
            (Lines{"/Alpha=", "     Opt: a, b", "     Description: first", "",
                   "/[Other].beta=  spaced  ", "     Opt: ", "     Description: ", ""}));
}

TEST_F(ProgramSwitchHelpTest, AnEmptyRegistryGivesAnEmptyMemo) {
  testsupport::SwitchFixture switches("histrel", false);
  TfrmSwitchHelp form;
  EXPECT_TRUE(form.mlRegistredSwitches->Lines().empty()) << "the designed empty line goes too";
  EXPECT_EQ(form.Caption(), "List of registered switches");
}

TEST_F(ProgramSwitchHelpTest, HiddenSwitchesFollowOnlyWhenShowHiddenIsNotOff) {
  struct Case {
    std::string commandLine;
    bool listed;
  };
  const std::vector<Case> cases = {
      {"histrel", false},
      {"histrel /SHOWHIDDEN=off", false},
      {"histrel /SHOWHIDDEN=OFF", false},
      {"histrel /SHOWHIDDEN=Off", false},
      {"histrel /SHOWHIDDEN=on", true},
      {"histrel /SHOWHIDDEN=no", true},
      {"histrel /SHOWHIDDEN+", true},
  };
  for (const Case& c : cases) {
    testsupport::SwitchFixture switches(c.commandLine, false);
    ProgramSwitch->RegisterHidden("SECRET", "x, y", "x", "hidden one");
    ProgramSwitch->RegisterHidden("SECOND", "", "", "hidden two");
    ProgramSwitch->Register("OPEN", "", "1", "visible");
    TfrmSwitchHelp form;
    Lines expected = {"/OPEN=1", "     Opt: ", "     Description: visible", ""};
    if (c.listed) {
      const Lines hidden = {"/SECRET=x", "     Opt: x, y", "     Description: hidden one", "",
                            "/SECOND=",  "     Opt: ",     "     Description: hidden two", ""};
      expected.insert(expected.end(), hidden.begin(), hidden.end());
    }
    EXPECT_EQ(form.mlRegistredSwitches->Lines(), expected) << c.commandLine;
  }
}

TEST_F(ProgramSwitchHelpTest, AFormOfAnotherClassIsAnAssertionFailure) {
  testsupport::SwitchFixture switches("histrel");
  platform::Form other;
  other.SetCaption("other");
  auto controller = TBaseController::Create<TProgramSwitchHelpController>(&other);
  try {
    controller->FillSwitchList();
    FAIL() << "no assertion failure";
  } catch (const EAssertionFailed& failure) {
    EXPECT_NE(failure.Message().find("(cProgramSwitchHelp.cpp, line "), std::string::npos)
        << failure.Message();
  }
  EXPECT_EQ(other.Caption(), "other");
}

TEST_F(ProgramSwitchHelpTest, TheFormIsLaidOutAndWaitsForItsLoopBeforeItIsShown) {
  testsupport::SwitchFixture switches("histrel");
  TfrmSwitchHelp form;
  EXPECT_FALSE(form.Visible());
  ASSERT_EQ(form.ControlCount(), 3) << "memo, button and the controller's catcher";
  EXPECT_EQ(form.Controls(0), form.mlRegistredSwitches);
  EXPECT_EQ(form.Controls(1), form.pbOk);
  EXPECT_EQ(form.ActiveControl(), form.mlRegistredSwitches);
  EXPECT_TRUE(form.pbOk->IsDefault());
  EXPECT_EQ(form.pbOk->Caption(), "OK");
  EXPECT_EQ(platform::PendingMessageCount(), 2u);

  testsupport::StepPresenter presenter;
  presenter.OnWait = [](platform::Form& AForm) { AForm.HandleKey(platform::Key::kEnter); };
  EXPECT_EQ(form.ShowModal(), platform::ModalResult::kOk);
  EXPECT_EQ(form.ControlCount(), 2) << "the catcher is gone";
  EXPECT_EQ(platform::PendingMessageCount(), 0u) << "WM_USER+1 reached the form, which ignores it";
}

}  // namespace
