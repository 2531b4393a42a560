#include "app/uHistrelEnglishConstant.h"

#include "Bibliothek/Schalter/uProgramSwitchConstant.h"

namespace {

void AssignSwitchLibraryTexts() {
  SDescriptionLabel = "     Description: ";
  SFormatError = "The format of section and parameter is not validly!";
  SIniFileError = "Failure: Ini file not found!";
  SMultipleRegistration = "Multiple registries from switch %s are not possible.";
  SRegOffDescription = "This switch switches the readout from the registry in or out.";
  SIniOffDescription = "This switch switches the readout from the Ini file in or out.";
  SCmdOffDescription = "This switch switches the readout from the command line in or out.";
  SIniPathDescription = "This switch sets the path of the Ini file.";
  SRegPathDescription = "This switch sets the path of the registry.";
  SIniFileDescription = "This switch sets the name of the Ini file.";
  SWriteIniDefault = "no default value";
  SWriteIniDescription =
      "This switch activates the writing of the registered switches into the Ini file. The "
      "application terminates immediately afterwards.";
  SWriteRegDefault = "no default value";
  SWriteRegDescription =
      "This switch activates the writing of the registered switches into the registry. The "
      "application terminates immediately afterwards.";
  SShowHiddenDescription =
      "This switch shows or hides the switches, which are registered with the special register "
      "method.";
  SSwitchHelpCaption = "List of registered switches";
}

}  // namespace

void InitializeHistrelEnglishConstantUnit() { AssignSwitchLibraryTexts(); }
