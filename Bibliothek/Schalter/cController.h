// The base of the window controllers. A window is split into a form (controls
// and layout) and a controller (logic); the controller learns through a
// hidden control in its form when the form's message loop first runs.
#pragma once

#include <functional>
#include <memory>

#include "platform/Window.h"

// The first private message number.
constexpr unsigned WM_USER = platform::kUserMessage;

// A call-back bound to an object, given the object that sends the event.
using TNotifyEvent = std::function<void(platform::WinControl* Sender)>;

// A windowed control without content, size or painting: it only owns a window
// that a message can be posted to. Calls FOnMessage, when assigned, on
// WM_USER+2, with itself as the sender; the message parameters are ignored.
class TMessageCatcher : public platform::WinControl {
 public:
  TMessageCatcher();

  TNotifyEvent FOnMessage;
};

// Base of every controller. Construction plants a TMessageCatcher in the form
// and posts WM_USER+2 to it, then calls InitController; when the thread's
// message loop delivers that message (in this system: the form is shown
// modally), the catcher is removed and disposed of and FormStarted runs.
class TBaseController {
 private:
  // Only Create can build a controller, so that InitController always runs
  // after the whole object has been made.
  class TCreateKey {
    friend class TBaseController;
    TCreateKey() = default;
  };

 public:
  // Builds a controller of class T for AForm. Derived classes take over the
  // constructor (using TBaseController::TBaseController).
  template <class T>
  static std::unique_ptr<T> Create(platform::Form* AForm) {
    std::unique_ptr<T> controller(new T(AForm, TCreateKey()));
    controller->AfterConstruction();
    return controller;
  }

  // Steps 1 to 6 of the construction: everything up to the posted WM_USER+2.
  TBaseController(platform::Form* AForm, TCreateKey);
  // A catcher that has not delivered its message stays in the form and goes
  // with it; it no longer calls this controller.
  virtual ~TBaseController();
  TBaseController(const TBaseController&) = delete;
  TBaseController& operator=(const TBaseController&) = delete;

 protected:
  // End-of-construction hook. By default posts WM_USER+1 (both parameters 0)
  // to the form's window, behind the catcher's message.
  virtual void InitController();
  // Runs once the catcher's message has arrived. By default does nothing.
  virtual void FormStarted();

  platform::Form* FForm;
  TMessageCatcher* FMessageCatcher;
  bool FCreated;

 private:
  void AfterConstruction();
  // The catcher's FOnMessage: removes and disposes of the catcher, then
  // calls FormStarted.
  void CatcherMessage(platform::WinControl* Sender);
};
