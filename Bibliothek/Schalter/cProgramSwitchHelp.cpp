#include "Bibliothek/Schalter/cProgramSwitchHelp.h"

#include <string>

#include "Bibliothek/Schalter/fProgramSwitchHelp.h"
#include "Bibliothek/Schalter/uProgramSwitch.h"
#include "Bibliothek/Schalter/uProgramSwitchConstant.h"
#include "base/Exception.h"
#include "text/Ansi.h"

namespace {

void AddEntry(platform::Memo& AMemo, const std::string& AKey, const TStringList& ARecord) {
  AMemo.AddLine(AKey + "=" + ARecord.at(1));
  AMemo.AddLine(SOptLabel + ARecord.at(0));
  AMemo.AddLine(SDescriptionLabel + ARecord.at(2));
  AMemo.AddLine("");
}

}  // namespace

void TProgramSwitchHelpController::FillSwitchList() {
  TfrmSwitchHelp* form = dynamic_cast<TfrmSwitchHelp*>(FForm);
  if (form == nullptr) throw EAssertionFailed(__FILE__, __LINE__);
  form->SetCaption(SSwitchHelpCaption);
  form->mlRegistredSwitches->Clear();
  for (int i = 0; i < ProgramSwitch->RegisteredCount(); ++i) {
    AddEntry(*form->mlRegistredSwitches, ProgramSwitch->RegisteredKey(i),
             ProgramSwitch->RegisteredRecord(i));
  }
  for (int i = 0; i < ProgramSwitch->HiddenCount(); ++i) {
    // Looked up again for every hidden switch, as the writing of all switches does.
    const std::string showHidden =
        ProgramSwitch->GetSwitch(SShowHiddenSwitch, "", SShowHiddenDefault)->AsString();
    if (text::AnsiSameText(showHidden, SShowHiddenDefault)) break;
    AddEntry(*form->mlRegistredSwitches, ProgramSwitch->HiddenKey(i),
             ProgramSwitch->HiddenRecord(i));
  }
}
