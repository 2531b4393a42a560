// The modal error message box: a title, the message and one OK button.
#pragma once

#include <string>

namespace platform {

// Shows message in the error message box titled title and returns when it
// is closed. Without a terminal the message alone is written as one line to
// standard error.
void ShowErrorMessageBox(const std::string& title, const std::string& message);

}  // namespace platform
