// The switch library's texts. Each starts with its German value; the
// application's English unit assigns the English ones at start-up, before
// uProgramSwitch starts.
#pragma once

#include <string>

extern std::string SRegistryBasePath;
extern std::string SOptLabel;
extern std::string SDescriptionLabel;
extern std::string SFormatError;
extern std::string SIniFileError;
extern std::string SMultipleRegistration;
extern std::string SRegOffDescription;
extern std::string SIniOffDescription;
extern std::string SCmdOffDescription;
extern std::string SOnOffOptions;
extern std::string SOffDefault;
extern std::string SIniPathSwitch;
extern std::string SIniPathOptions;
extern std::string SIniPathDescription;
extern std::string SRegPathSwitch;
extern std::string SRegPathOptions;
extern std::string SRegPathDefault;
extern std::string SRegPathDescription;
extern std::string SIniFileSwitch;
extern std::string SIniFileOptions;
extern std::string SIniFileDescription;
extern std::string SWriteIniSwitch;
extern std::string SWriteIniOptions;
extern std::string SWriteIniDefault;
extern std::string SWriteIniDescription;
extern std::string SWriteRegSwitch;
extern std::string SWriteRegOptions;
extern std::string SWriteRegDefault;
extern std::string SWriteRegDescription;
extern std::string SHelpSwitch;
extern std::string SShowHiddenSwitch;
extern std::string SShowHiddenOptions;
extern std::string SShowHiddenDefault;
extern std::string SShowHiddenDescription;
extern std::string SSwitchHelpCaption;
extern std::string SErrorBoxCaption;
