#include "platform/MessageBox.h"

#include "platform/Window.h"

namespace platform {

void ShowErrorMessageBox(const std::string& title, const std::string& message) {
  CurrentPresenter().ShowMessageBox(title, message);
}

}  // namespace platform
