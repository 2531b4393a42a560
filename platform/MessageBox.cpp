#include "platform/MessageBox.h"

#include "platform/Window.h"

namespace platform {

void ShowErrorMessageBox(const std::string& AMessage) {
  CurrentPresenter().ShowMessageBox("Fehler", AMessage);
}

}  // namespace platform
