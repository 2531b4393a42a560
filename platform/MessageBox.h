// The modal error message box: title "Fehler", the message and one OK button.
#pragma once

#include <string>

namespace platform {

// Shows message in the error message box and returns when it is closed.
// Without a terminal the message is written as one line to standard error.
void ShowErrorMessageBox(const std::string& message);

}  // namespace platform
