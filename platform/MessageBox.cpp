#include "platform/MessageBox.h"

#include "platform/Window.h"

namespace platform {

void ShowErrorMessageBox(const std::string& message) {
  CurrentPresenter().ShowMessageBox("Fehler", message);
}

}  // namespace platform
