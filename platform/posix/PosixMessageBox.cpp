#include "platform/Console.h"
#include "platform/MessageBox.h"

namespace platform {

void ShowErrorMessageBox(const std::string& AMessage) { WriteErrorLine(AMessage); }

}  // namespace platform
