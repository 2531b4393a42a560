#include "Bibliothek/Schalter/cController.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/Exception.h"
#include "platform/Console.h"
#include "tests/TestPresenter.h"

namespace {

std::vector<std::string>* events = nullptr;

void Note(const std::string& AEvent) { events->push_back(AEvent); }

// A controller that notes its hooks and what it saw when it started.
class TNotingController : public TBaseController {
 public:
  using TBaseController::TBaseController;

  TMessageCatcher* Catcher() const { return FMessageCatcher; }
  bool Created() const { return FCreated; }

 protected:
  void InitController() override {
    Note(FCreated ? "InitController after construction" : "InitController");
    TBaseController::InitController();
  }
  void FormStarted() override {
    Note("FormStarted, " + std::to_string(FForm->ControlCount()) + " controls" +
         (FMessageCatcher == nullptr ? "" : ", catcher still held"));
  }
};

// Overrides InitController without calling the inherited one.
class TQuietController : public TNotingController {
 public:
  using TNotingController::TNotingController;

 protected:
  void InitController() override { Note("own InitController"); }
};

class TFailingController : public TNotingController {
 public:
  using TNotingController::TNotingController;

 protected:
  void FormStarted() override { throw Exception("FormStarted failed"); }
};

// A form that notes WM_USER+1 and, like the system's forms, owns its
// controller and releases it before its own controls go.
template <class TController>
class TNotingForm : public platform::Form {
 public:
  TNotingForm() {
    SetCaption("form");
    SetMessageHandler(WM_USER + 1, [](platform::Message& AMessage) {
      Note("form WM_USER+1 " + std::to_string(AMessage.wparam) + " " +
           std::to_string(AMessage.lparam));
    });
    FController = TBaseController::Create<TController>(this);
  }
  ~TNotingForm() override { FController.reset(); }

  std::unique_ptr<TController> FController;
};

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ProcessPostedMessages();
    events = &FPresenter.Events;
  }
  void TearDown() override {
    platform::ProcessPostedMessages();
    events = nullptr;
  }

  testsupport::StepPresenter FPresenter;
};

TEST_F(ControllerTest, ConstructionPlantsTheCatcherAndQueuesItsMessageFirst) {
  TNotingForm<TNotingController> form;
  TNotingController& controller = *form.FController;
  EXPECT_TRUE(controller.Created());
  ASSERT_NE(controller.Catcher(), nullptr);
  ASSERT_EQ(form.ControlCount(), 1);
  EXPECT_EQ(form.Controls(0), controller.Catcher());
  EXPECT_TRUE(form.HandleAllocated()) << "asking for the catcher's window makes the form's";
  EXPECT_FALSE(form.Visible());
  EXPECT_EQ(platform::PendingMessageCount(), 2u);
  EXPECT_EQ(FPresenter.Events, (std::vector<std::string>{"InitController"}))
      << "InitController runs before FCreated is set";
}

TEST_F(ControllerTest, ShownModallyTheCatchersMessageArrivesOnceBeforeWmUser1) {
  TNotingForm<TNotingController> form;
  FPresenter.OnWait = [this](platform::Form& AForm) {
    if (FPresenter.Waits == 3) AForm.SetModalResult(platform::ModalResult::kOk);
  };
  EXPECT_EQ(form.ShowModal(), platform::ModalResult::kOk);
  EXPECT_EQ(FPresenter.Events,
            (std::vector<std::string>{"InitController", "begin form", "FormStarted, 0 controls",
                                      "form WM_USER+1 0 0", "wait", "wait", "wait", "end form"}));
  EXPECT_EQ(form.ControlCount(), 0);
  EXPECT_EQ(form.FController->Catcher(), nullptr);
}

TEST_F(ControllerTest, TheCatchersWindowIsGoneOnceItHasDelivered) {
  TNotingForm<TNotingController> form;
  const platform::WindowHandle catcherWindow = form.FController->Catcher()->Handle();
  ASSERT_TRUE(platform::DispatchNextMessage());
  EXPECT_EQ(platform::FindControl(catcherWindow), nullptr);
  EXPECT_FALSE(platform::PostWindowMessage(catcherWindow, WM_USER + 2, 0, 0));
}

TEST_F(ControllerTest, AControllerWhoseFormIsNeverShownNeverStarts) {
  {
    TNotingForm<TNotingController> form;
    EXPECT_EQ(platform::PendingMessageCount(), 2u);
    EXPECT_EQ(form.ControlCount(), 1);
  }
  // The windows are gone: what was queued for them goes nowhere.
  platform::ProcessPostedMessages();
  EXPECT_EQ(FPresenter.Events, (std::vector<std::string>{"InitController"}));
}

TEST_F(ControllerTest, AFormDestroyedBeforeDeliveryTakesTheCatcherWithoutCallingIt) {
  platform::WindowHandle catcherWindow = platform::kNoWindow;
  {
    TNotingForm<TNotingController> form;
    catcherWindow = form.FController->Catcher()->Handle();
    ASSERT_EQ(platform::FindControl(catcherWindow), form.FController->Catcher());
  }
  EXPECT_EQ(platform::FindControl(catcherWindow), nullptr);
  platform::ProcessPostedMessages();
  EXPECT_EQ(FPresenter.Events, (std::vector<std::string>{"InitController"}));
}

TEST_F(ControllerTest, AnInitControllerWithoutTheInheritedCallPostsNoWmUser1) {
  TNotingForm<TQuietController> form;
  EXPECT_EQ(platform::PendingMessageCount(), 1u);
  form.ShowModal();
  EXPECT_EQ(FPresenter.Events,
            (std::vector<std::string>{"own InitController", "begin form", "FormStarted, 0 controls",
                                      "wait", "end form"}));
}

TEST_F(ControllerTest, AControllerReleasedApartFromItsFormIsNotCalledBack) {
  TNotingForm<TNotingController> form;
  form.FController.reset();
  form.ShowModal();
  EXPECT_EQ(FPresenter.Events,
            (std::vector<std::string>{"InitController", "begin form", "form WM_USER+1 0 0", "wait",
                                      "end form"}));
  EXPECT_EQ(form.ControlCount(), 1) << "the unbound catcher stays with the form";
}

TEST_F(ControllerTest, AFailureOfFormStartedReachesTheLoopWithTheCatcherGone) {
  TNotingForm<TFailingController> form;
  EXPECT_THROW(form.ShowModal(), Exception);
  EXPECT_EQ(form.ControlCount(), 0);
  EXPECT_EQ(form.FController->Catcher(), nullptr);
  EXPECT_EQ(FPresenter.Events.back(), "end form");
  EXPECT_FALSE(form.Visible());
}

TEST_F(ControllerTest, WithoutATerminalTheSameMessagesArriveBeforeTheFormCloses) {
  class TSink : public platform::ConsoleSink {
   public:
    void WriteLine(const std::string& ALine) override { Note("out " + ALine); }
    void WriteErrorLine(const std::string& ALine) override { Note("err " + ALine); }
  } sink;
  platform::ConsoleSink* previousSink = platform::SetConsoleSink(&sink);
  platform::TextPresenter plain;
  platform::Presenter* previous = platform::SetPresenter(&plain);
  TNotingForm<TNotingController> form;
  const platform::ModalResult result = form.ShowModal();
  platform::SetPresenter(previous);
  platform::SetConsoleSink(previousSink);
  EXPECT_EQ(result, platform::ModalResult::kOk);
  EXPECT_EQ(FPresenter.Events,
            (std::vector<std::string>{"InitController", "FormStarted, 0 controls",
                                      "form WM_USER+1 0 0", "out form"}));
}

TEST_F(ControllerTest, TheCatcherCallsItsEventOnlyForWmUser2AndNamesItselfAsSender) {
  TMessageCatcher catcher;
  std::vector<platform::WinControl*> senders;
  catcher.FOnMessage = [&senders](platform::WinControl* Sender) { senders.push_back(Sender); };
  platform::PostWindowMessage(catcher.Handle(), WM_USER + 1, 0, 0);
  platform::PostWindowMessage(catcher.Handle(), WM_USER + 3, 0, 0);
  platform::PostWindowMessage(catcher.Handle(), WM_USER + 2, 17, -4);
  platform::ProcessPostedMessages();
  EXPECT_EQ(senders, (std::vector<platform::WinControl*>{&catcher}));
  catcher.FOnMessage = nullptr;
  platform::PostWindowMessage(catcher.Handle(), WM_USER + 2, 0, 0);
  platform::ProcessPostedMessages();  // an unassigned event is not called
  EXPECT_EQ(senders.size(), 1u);
}

}  // namespace
