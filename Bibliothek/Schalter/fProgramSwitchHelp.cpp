#include "Bibliothek/Schalter/fProgramSwitchHelp.h"

#include <string>

#include "Bibliothek/Schalter/cProgramSwitchHelp.h"
#include "Bibliothek/Schalter/uProgramSwitch.h"
#include "Bibliothek/Schalter/uProgramSwitchConstant.h"
#include "base/Exception.h"
#include "platform/MessageBox.h"
#include "support/uStartup.h"

TfrmSwitchHelp::TfrmSwitchHelp() : mlRegistredSwitches(nullptr), pbOk(nullptr) {
  // The layout as designed (617 by 462 pixels of client area) in character
  // cells: an 80 by 23 client area below the caption bar. The memo keeps a
  // column to the left and right, a row to the top and three rows to the
  // bottom, where the OK button keeps two columns and a row to its edges.
  SetCaption("Liste der registrierten Schalter");
  SetDesignClientSize(80, 23);
  mlRegistredSwitches = new platform::Memo();
  InsertControl(mlRegistredSwitches);
  mlRegistredSwitches->SetBounds(1, 1, 78, 19);
  mlRegistredSwitches->SetAnchors(platform::kAnchorLeft | platform::kAnchorTop |
                                  platform::kAnchorRight | platform::kAnchorBottom);
  mlRegistredSwitches->AddLine("");
  pbOk = new platform::Button();
  InsertControl(pbOk);
  pbOk->SetBounds(70, 21, 8, 1);
  pbOk->SetAnchors(platform::kAnchorRight | platform::kAnchorBottom);
  pbOk->SetCaption("OK");
  pbOk->SetModalResult(platform::ModalResult::kOk);
  pbOk->SetDefault(true);
  SetActiveControl(mlRegistredSwitches);

  FController = TBaseController::Create<TProgramSwitchHelpController>(this);
  FController->FillSwitchList();
}

TfrmSwitchHelp::~TfrmSwitchHelp() { FController.reset(); }

namespace {

// WRITEINI or WRITEREG: nothing when ASwitch asks for nothing (empty or its
// default text, compared exactly); else runs AWrite and ends the program,
// with status 1 after showing its failure in the error message box, so that
// a script can tell, else with 0.
void WriteAllSwitches(const std::string& ASwitch, const std::string& ADefault,
                      void (sofProgramSwitch::*AWrite)()) {
  const std::string selection = ProgramSwitch->GetSwitch(ASwitch, "", "")->AsString();
  if (selection.empty() || selection == ADefault) return;
  try {
    (ProgramSwitch->*AWrite)();
  } catch (const Exception& failure) {
    platform::ShowErrorMessageBox(SErrorBoxCaption, failure.Message());
    Halt(1);
  }
  Halt(0);
}

}  // namespace

void InitializeProgramSwitchHelpUnit() {
  if (ProgramSwitch->GetSwitch(SHelpSwitch, "", "")->AsBoolean()) {
    auto form = std::make_unique<TfrmSwitchHelp>();
    form->ShowModal();
    form.reset();
    Halt(0);
  }
  WriteAllSwitches(SWriteIniSwitch, SWriteIniDefault, &sofProgramSwitch::WriteIni);
  WriteAllSwitches(SWriteRegSwitch, SWriteRegDefault, &sofProgramSwitch::WriteRegistry);
}
