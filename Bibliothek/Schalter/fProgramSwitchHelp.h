// The switch overview window, which lists every registered switch, and the
// start-up step that acts on the switches "?", WRITEINI and WRITEREG.
#pragma once

#include <memory>

#include "platform/Window.h"

class TProgramSwitchHelpController;

// The overview form: a read-only memo with the list and an OK button. Its
// controller is made, and the list built, before the form is ever shown.
class TfrmSwitchHelp : public platform::Form {
 public:
  TfrmSwitchHelp();
  // Releases the controller first, then the form and its controls.
  ~TfrmSwitchHelp() override;

  platform::Memo* mlRegistredSwitches;
  platform::Button* pbOk;

 private:
  std::unique_ptr<TProgramSwitchHelpController> FController;
};

// Unit start-up: with "?" shows the overview modally and ends the program;
// else with WRITEINI, then WRITEREG, set to a selection other than the
// default text, writes all switches into the INI file or the registry, shows
// a failure in the error message box and ends the program. Ending the
// program is Halt(0). Otherwise does nothing.
void InitializeProgramSwitchHelpUnit();
