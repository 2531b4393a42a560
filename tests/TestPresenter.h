// A presenter for unit tests: it runs the modal loop one round at a time and
// lets the test decide, in each round, what the user does.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Window.h"

namespace testsupport {

class StepPresenter : public platform::Presenter {
 public:
  // Installs itself for everything shown while it lives.
  StepPresenter() : FPrevious(platform::SetPresenter(this)) {}
  ~StepPresenter() override { platform::SetPresenter(FPrevious); }
  StepPresenter(const StepPresenter&) = delete;
  StepPresenter& operator=(const StepPresenter&) = delete;

  void BeginModal(platform::Form& AForm) override { Events.push_back("begin " + AForm.Caption()); }
  void EndModal(platform::Form& AForm) override { Events.push_back("end " + AForm.Caption()); }
  // One round of waiting for the user: OnWait acts, by default OK.
  void WaitForInput(platform::Form& AForm) override {
    ++Waits;
    Events.push_back("wait");
    if (OnWait) {
      OnWait(AForm);
    } else {
      AForm.SetModalResult(platform::ModalResult::kOk);
    }
  }
  void ShowMessageBox(const std::string& ATitle, const std::string& AText) override {
    MessageBoxes.push_back(ATitle + ": " + AText);
  }

  std::function<void(platform::Form&)> OnWait;
  int Waits = 0;
  std::vector<std::string> Events;
  std::vector<std::string> MessageBoxes;

 private:
  platform::Presenter* FPrevious;
};

}  // namespace testsupport
