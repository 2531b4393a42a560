#include "Bibliothek/Schalter/cController.h"

TMessageCatcher::TMessageCatcher() {
  SetMessageHandler(WM_USER + 2, [this](platform::Message&) {
    if (FOnMessage) FOnMessage(this);
  });
}

TBaseController::TBaseController(platform::Form* AForm, TCreateKey)
    : FForm(nullptr), FMessageCatcher(nullptr), FCreated(false) {
  FForm = AForm;
  FMessageCatcher = new TMessageCatcher();
  FForm->InsertControl(FMessageCatcher);
  FMessageCatcher->FOnMessage = [this](platform::WinControl* Sender) { CatcherMessage(Sender); };
  // Asking for the catcher's window makes the form's window too; the form stays hidden.
  platform::PostWindowMessage(FMessageCatcher->Handle(), WM_USER + 2, 0, 0);
}

TBaseController::~TBaseController() {
  // The form owns the catcher until its message is delivered; it must not
  // call back into a controller that is gone.
  if (FMessageCatcher != nullptr) FMessageCatcher->FOnMessage = nullptr;
}

void TBaseController::AfterConstruction() {
  InitController();
  FCreated = true;
}

void TBaseController::InitController() {
  platform::PostWindowMessage(FForm->Handle(), WM_USER + 1, 0, 0);
}

void TBaseController::FormStarted() {}

void TBaseController::CatcherMessage(platform::WinControl*) {
  FForm->RemoveControl(FMessageCatcher);
  // The catcher is still handling this very message: the window layer frees
  // it once that handler has returned, and nothing here touches it again.
  platform::DisposeControl(FMessageCatcher);
  FMessageCatcher = nullptr;
  FormStarted();
}
