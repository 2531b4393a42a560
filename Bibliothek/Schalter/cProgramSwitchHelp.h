// The controller of the switch overview window: it builds the list of every
// registered switch.
#pragma once

#include "Bibliothek/Schalter/cController.h"

class TProgramSwitchHelpController : public TBaseController {
 public:
  using TBaseController::TBaseController;

  // Sets the form's caption to SSwitchHelpCaption and fills its memo with four
  // lines per switch: key "=" default text, SOptLabel and the option text,
  // SDescriptionLabel and the description, an empty line. The registered
  // switches in registration order, then the hidden ones as long as SHOWHIDDEN
  // is not "off". Throws EAssertionFailed, and changes nothing, when the form
  // is not a TfrmSwitchHelp.
  void FillSwitchList();
};
