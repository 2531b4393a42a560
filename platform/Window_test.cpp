#include "platform/Window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Console.h"
#include "platform/MessageBox.h"
#include "tests/TestPresenter.h"

namespace platform {
namespace {

// Records every message it receives with one of its handled numbers.
class RecordingControl : public WinControl {
 public:
  RecordingControl(std::string name, std::vector<std::string>* log,
                   const std::vector<unsigned>& numbers)
      : name_(std::move(name)) {
    for (unsigned number : numbers) {
      SetMessageHandler(number, [this, log](Message& message) {
        log->push_back(name_ + " " + std::to_string(message.number) + " " +
                       std::to_string(message.wparam) + " " + std::to_string(message.lparam));
      });
    }
  }

 private:
  std::string name_;
};

class WindowTest : public ::testing::Test {
 protected:
  // Every test starts with an empty queue, whatever an earlier one left.
  void SetUp() override { ProcessPostedMessages(); }
  void TearDown() override { ProcessPostedMessages(); }
};

TEST_F(WindowTest, AskingForAHandleMakesTheParentsWindowFirst) {
  Form form;
  auto* child = new WinControl();
  form.InsertControl(child);
  EXPECT_FALSE(form.HandleAllocated());
  const WindowHandle childWindow = child->Handle();
  ASSERT_TRUE(form.HandleAllocated());
#ifndef _WIN32
  // Handles are numbered in the order they are made; Windows gives its
  // window handles in no order.
  EXPECT_LT(form.Handle(), childWindow);
#endif
  EXPECT_EQ(FindControl(childWindow), child);
  EXPECT_EQ(child->Handle(), childWindow);
}

TEST_F(WindowTest, PostedMessagesArriveInTheOrderTheyWerePosted) {
  std::vector<std::string> log;
  Form form;
  auto* first = new RecordingControl("first", &log, {kUserMessage + 1, kUserMessage + 2});
  auto* second = new RecordingControl("second", &log, {kUserMessage + 1});
  form.InsertControl(first);
  form.InsertControl(second);
  ASSERT_TRUE(PostWindowMessage(first->Handle(), kUserMessage + 2, 5, 6));
  ASSERT_TRUE(PostWindowMessage(second->Handle(), kUserMessage + 1, 7, 8));
  ASSERT_TRUE(PostWindowMessage(first->Handle(), kUserMessage + 1, 0, 0));
  EXPECT_TRUE(log.empty()) << "posting returns before delivery";
  EXPECT_EQ(PendingMessageCount(), 3u);
  ProcessPostedMessages();
  EXPECT_EQ(log, (std::vector<std::string>{"first 1026 5 6", "second 1025 7 8", "first 1025 0 0"}));
  EXPECT_EQ(PendingMessageCount(), 0u);
}

TEST_F(WindowTest, MessagesWithoutHandlerAreIgnored) {
  std::vector<std::string> log;
  RecordingControl control("control", &log, {kUserMessage + 2});
  PostWindowMessage(control.Handle(), kUserMessage + 1, 0, 0);
  PostWindowMessage(control.Handle(), kUserMessage + 99, 0, 0);
  PostWindowMessage(control.Handle(), kUserMessage + 2, 0, 0);
  ProcessPostedMessages();
  EXPECT_EQ(log, (std::vector<std::string>{"control 1026 0 0"}));
}

TEST_F(WindowTest, MessagesPostedDuringDeliveryArriveInTheSameRun) {
  std::vector<std::string> log;
  RecordingControl target("target", &log, {kUserMessage + 1});
  class Relay : public WinControl {
   public:
    explicit Relay(WindowHandle to) {
      SetMessageHandler(kUserMessage + 5,
                        [to](Message&) { PostWindowMessage(to, kUserMessage + 1, 1, 2); });
    }
  } forwarder(target.Handle());
  PostWindowMessage(forwarder.Handle(), kUserMessage + 5, 0, 0);
  ProcessPostedMessages();
  EXPECT_EQ(log, (std::vector<std::string>{"target 1025 1 2"}));
}

TEST_F(WindowTest, MessagesToADestroyedWindowGoNowhere) {
  std::vector<std::string> log;
  Form form;
  auto* control = new RecordingControl("gone", &log, {kUserMessage + 1});
  form.InsertControl(control);
  const WindowHandle window = control->Handle();
  PostWindowMessage(window, kUserMessage + 1, 0, 0);
  form.RemoveControl(control);
  delete control;
  EXPECT_EQ(FindControl(window), nullptr);
  EXPECT_FALSE(PostWindowMessage(window, kUserMessage + 1, 0, 0));
  ProcessPostedMessages();
  EXPECT_TRUE(log.empty());
}

TEST_F(WindowTest, AWindowMadeAgainNeverReceivesMessagesForItsOldWindow) {
  std::vector<std::string> log;
  RecordingControl control("control", &log, {kUserMessage + 1});
  const WindowHandle old = control.Handle();
  PostWindowMessage(old, kUserMessage + 1, 1, 0);
  control.DestroyHandle();
  const WindowHandle renewed = control.Handle();
  EXPECT_NE(renewed, old);
  PostWindowMessage(renewed, kUserMessage + 1, 2, 0);
  ProcessPostedMessages();
  EXPECT_EQ(log, (std::vector<std::string>{"control 1025 2 0"}));
}

TEST_F(WindowTest, DestroyingAFormDestroysTheControlsInItsList) {
  auto* form = new Form();
  auto* kept = new WinControl();
  auto* owned = new WinControl();
  form->InsertControl(kept);
  form->InsertControl(owned);
  const WindowHandle ownedWindow = owned->Handle();
  form->RemoveControl(kept);
  EXPECT_EQ(form->ControlCount(), 1);
  EXPECT_EQ(kept->Parent(), nullptr);
  delete form;
  EXPECT_EQ(FindControl(ownedWindow), nullptr);
  delete kept;  // still ours after the removal
}

// Tells through a flag when it is gone.
class WatchedControl : public WinControl {
 public:
  explicit WatchedControl(bool* gone) : gone_(gone) {}
  ~WatchedControl() override { *gone_ = true; }

 private:
  bool* gone_;
};

TEST_F(WindowTest, AControlDisposedOfByItsOwnHandlerLivesUntilTheHandlerReturns) {
  bool gone = false;
  bool aliveAfterDisposal = false;
  Form form;
  class SelfDisposing : public WatchedControl {
   public:
    SelfDisposing(bool* gone, bool* aliveAfterDisposal) : WatchedControl(gone) {
      SetMessageHandler(kUserMessage + 2, [this, gone, aliveAfterDisposal](Message&) {
        DisposeControl(this);
        *aliveAfterDisposal = !*gone;
        handled_ = true;  // still safe to touch
      });
    }
    bool handled_ = false;
  };
  auto* control = new SelfDisposing(&gone, &aliveAfterDisposal);
  form.InsertControl(control);
  const WindowHandle window = control->Handle();
  PostWindowMessage(window, kUserMessage + 2, 0, 0);
  PostWindowMessage(window, kUserMessage + 2, 0, 0);
  EXPECT_TRUE(DispatchNextMessage());
  EXPECT_TRUE(aliveAfterDisposal);
  EXPECT_TRUE(gone) << "freed once its dispatch returned";
  EXPECT_EQ(form.ControlCount(), 0);
  EXPECT_EQ(FindControl(window), nullptr) << "its window went at once";
  EXPECT_TRUE(DispatchNextMessage()) << "the second message is taken and dropped";
  EXPECT_FALSE(DispatchNextMessage());
}

TEST_F(WindowTest, DisposingOfAControlOutsideAnyDispatchFreesItAtOnce) {
  bool gone = false;
  Form form;
  auto* control = new WatchedControl(&gone);
  form.InsertControl(control);
  DisposeControl(control);
  EXPECT_TRUE(gone);
  EXPECT_EQ(form.ControlCount(), 0);
}

TEST_F(WindowTest, DisposalsAreFreedAlsoWhenTheHandlerFails) {
  bool gone = false;
  class Failing : public WatchedControl {
   public:
    explicit Failing(bool* gone) : WatchedControl(gone) {
      SetMessageHandler(kUserMessage + 2, [this](Message&) {
        DisposeControl(this);
        throw std::runtime_error("handler failed");
      });
    }
  };
  auto* control = new Failing(&gone);
  PostWindowMessage(control->Handle(), kUserMessage + 2, 0, 0);
  EXPECT_THROW(ProcessPostedMessages(), std::runtime_error);
  EXPECT_TRUE(gone);
}

// The overview's layout: an 80 by 23 client area with a memo keeping its
// distance to all four edges and a button at the bottom right.
struct DialogLayout {
  Form form;
  Memo* memo = new Memo();
  Button* button = new Button();
  DialogLayout() {
    form.SetCaption("Caption");
    form.SetDesignClientSize(80, 23);
    memo->SetBounds(1, 1, 78, 19);
    memo->SetAnchors(kAnchorLeft | kAnchorTop | kAnchorRight | kAnchorBottom);
    button->SetBounds(70, 21, 8, 1);
    button->SetAnchors(kAnchorRight | kAnchorBottom);
    button->SetCaption("OK");
    button->SetModalResult(ModalResult::kOk);
    button->SetDefault(true);
    form.InsertControl(memo);
    form.InsertControl(button);
    form.SetActiveControl(memo);
  }
};

void ExpectBounds(const Rect& actual, int left, int top, int width, int height) {
  EXPECT_EQ(actual.left, left);
  EXPECT_EQ(actual.top, top);
  EXPECT_EQ(actual.width, width);
  EXPECT_EQ(actual.height, height);
}

TEST(WindowLayoutTest, AnchorsKeepTheDistancesToTheirEdges) {
  DialogLayout dialog;
  ExpectBounds(dialog.memo->BoundsRect(), 1, 1, 78, 19);
  ExpectBounds(dialog.button->BoundsRect(), 70, 21, 8, 1);
  dialog.form.SetClientSize(120, 40);
  ExpectBounds(dialog.memo->BoundsRect(), 1, 1, 118, 36);
  ExpectBounds(dialog.button->BoundsRect(), 110, 38, 8, 1);
  dialog.form.SetClientSize(40, 10);
  ExpectBounds(dialog.memo->BoundsRect(), 1, 1, 38, 6);
  ExpectBounds(dialog.button->BoundsRect(), 30, 8, 8, 1);
}

TEST(WindowLayoutTest, AControlAnchoredLeftAndTopStaysWhereItIs) {
  Form form;
  form.SetDesignClientSize(80, 23);
  auto* control = new WinControl();
  control->SetBounds(3, 4, 10, 2);
  form.InsertControl(control);
  form.SetClientSize(20, 5);
  ExpectBounds(control->BoundsRect(), 3, 4, 10, 2);
}

TEST(WindowLayoutTest, SizesNeverGoBelowZeroAndTheFormNoLongerFits) {
  DialogLayout dialog;
  EXPECT_TRUE(dialog.form.FitsClient());
  dialog.form.SetClientSize(1, 2);
  EXPECT_EQ(dialog.memo->BoundsRect().width, 0);
  EXPECT_EQ(dialog.memo->BoundsRect().height, 0);
  EXPECT_FALSE(dialog.form.FitsClient());
}

TEST(WindowLayoutTest, TheSmallestFittingClientKeepsAMemoRowAndTheWholeButton) {
  DialogLayout dialog;
  dialog.form.SetClientSize(10, 7);
  EXPECT_TRUE(dialog.form.FitsClient());
  dialog.form.SetClientSize(9, 7);
  EXPECT_FALSE(dialog.form.FitsClient()) << "the button would leave the client area";
  dialog.form.SetClientSize(10, 6);
  EXPECT_FALSE(dialog.form.FitsClient()) << "the memo would have no text row";
}

struct WrapCase {
  std::string line;
  int width;
  std::vector<std::string> rows;
};

TEST(WrapLineTest, BreaksAtBlanksOrInsideOverlongWords) {
  const std::vector<WrapCase> cases = {
      {"", 10, {""}},
      {"exactly10!", 10, {"exactly10!"}},
      {"one two three", 7, {"one two", "three"}},
      {"one two three", 8, {"one two", "three"}},
      {"one   two", 4, {"one", "two"}},
      {"abcdefghij", 4, {"abcd", "efgh", "ij"}},
      {"     Opt: +, -", 10, {"     Opt:", "+, -"}},
      {"     Description: This switch", 20, {"     Description:", "This switch"}},
      {"   leading", 4, {"   l", "eadi", "ng"}},
      {"trailing   ", 8, {"trailing"}},
      {"no wrap", 0, {"no wrap"}},
  };
  for (const WrapCase& c : cases) {
    EXPECT_EQ(WrapLine(c.line, c.width), c.rows) << "\"" << c.line << "\" at " << c.width;
  }
}

TEST(MemoTest, ScrollKeysMoveWithinTheWrappedRows) {
  DialogLayout dialog;
  dialog.form.SetClientSize(80, 11);  // memo of 5 text rows
  for (int i = 0; i < 30; ++i) dialog.memo->AddLine("line " + std::to_string(i));
  ASSERT_EQ(dialog.memo->TextHeight(), 5);
  EXPECT_EQ(dialog.memo->TopRow(), 0);
  dialog.form.HandleKey(Key::kUp);
  EXPECT_EQ(dialog.memo->TopRow(), 0);
  dialog.form.HandleKey(Key::kDown);
  EXPECT_EQ(dialog.memo->TopRow(), 1);
  dialog.form.HandleKey(Key::kPageDown);
  EXPECT_EQ(dialog.memo->TopRow(), 6);
  dialog.form.HandleKey(Key::kEnd);
  EXPECT_EQ(dialog.memo->TopRow(), 25);
  dialog.form.HandleKey(Key::kPageDown);
  EXPECT_EQ(dialog.memo->TopRow(), 25);
  dialog.form.HandleKey(Key::kPageUp);
  EXPECT_EQ(dialog.memo->TopRow(), 20);
  dialog.form.HandleKey(Key::kHome);
  EXPECT_EQ(dialog.memo->TopRow(), 0);
  EXPECT_EQ(dialog.form.GetModalResult(), ModalResult::kNone) << "scrolling closes nothing";
}

TEST(MemoTest, GrowingTheBoxPullsTheLastPageIntoView) {
  DialogLayout dialog;
  dialog.form.SetClientSize(80, 11);
  for (int i = 0; i < 30; ++i) dialog.memo->AddLine("line " + std::to_string(i));
  dialog.form.HandleKey(Key::kEnd);
  ASSERT_EQ(dialog.memo->TopRow(), 25);
  dialog.form.SetClientSize(80, 32);  // 26 text rows
  EXPECT_EQ(dialog.memo->TopRow(), 4);
  dialog.form.SetClientSize(80, 40);
  EXPECT_EQ(dialog.memo->TopRow(), 0);
}

TEST(MemoTest, LongLinesWrapAtTheBoxWidth) {
  DialogLayout dialog;
  dialog.form.SetClientSize(14, 10);  // 10 text columns
  dialog.memo->AddLine("alpha beta gamma");
  dialog.memo->AddLine("");
  EXPECT_EQ(dialog.memo->Rows(), (std::vector<std::string>{"alpha beta", "gamma", ""}));
  EXPECT_EQ(dialog.memo->Lines().size(), 2u) << "wrapping is for the screen only";
}

TEST(FormKeyTest, EnterSpaceEscapeAndQCloseWithOk) {
  for (Key key : {Key::kEnter, Key::kSpace, Key::kEscape, Key::kQuit}) {
    DialogLayout dialog;
    dialog.form.HandleKey(key);
    EXPECT_EQ(dialog.form.GetModalResult(), ModalResult::kOk) << static_cast<int>(key);
  }
  DialogLayout dialog;
  dialog.form.HandleKey(Key::kOther);
  EXPECT_EQ(dialog.form.GetModalResult(), ModalResult::kNone);
}

TEST(FormPresentTest, AtEightyByTwentyFourTheDialogFillsTheScreen) {
  DialogLayout dialog;
  for (int i = 0; i < 20; ++i) dialog.memo->AddLine("entry " + std::to_string(i));
  Canvas screen(80, 24);
  dialog.form.Present(screen);
  EXPECT_EQ(screen.RowText(0), " Caption" + std::string(72, ' '));
  EXPECT_EQ(screen.At(0, 0).style, kStyleReverse);
  EXPECT_EQ(screen.RowText(1), std::string(80, ' '));
  EXPECT_EQ(screen.RowText(2), " +" + std::string(76, '-') + "+ ");
  EXPECT_EQ(screen.RowText(3), " |entry 0" + std::string(69, ' ') + "# ");
  EXPECT_EQ(screen.RowText(19), " |entry 16" + std::string(68, ' ') + "| ");
  EXPECT_EQ(screen.RowText(20), " +" + std::string(76, '-') + "+ ");
  EXPECT_EQ(screen.RowText(22), std::string(70, ' ') + "[  OK  ]  ");
  EXPECT_EQ(screen.At(70, 22).style, kStyleReverse) << "the default button stands out";
  EXPECT_EQ(screen.RowText(23), std::string(80, ' '));
}

TEST(FormPresentTest, TheThumbFollowsTheScrollPosition) {
  DialogLayout dialog;
  for (int i = 0; i < 20; ++i) dialog.memo->AddLine("entry " + std::to_string(i));
  Canvas screen(80, 24);
  dialog.form.HandleKey(Key::kEnd);
  dialog.form.Present(screen);
  EXPECT_EQ(screen.RowText(3).substr(0, 10), " |entry 3 ");
  EXPECT_EQ(screen.RowText(19).substr(76), "  # ");
  EXPECT_EQ(screen.RowText(3).substr(76), "  | ");
}

TEST(FormPresentTest, ALargerScreenStretchesTheBoxAndMovesTheButton) {
  DialogLayout dialog;
  dialog.memo->AddLine("only line");
  Canvas screen(120, 40);
  dialog.form.Present(screen);
  EXPECT_EQ(screen.RowText(2), " +" + std::string(116, '-') + "+ ");
  EXPECT_EQ(screen.RowText(36), " +" + std::string(116, '-') + "+ ");
  EXPECT_EQ(screen.RowText(38), std::string(110, ' ') + "[  OK  ]  ");
  EXPECT_EQ(screen.RowText(3), " |only line" + std::string(107, ' ') + "| ") << "no thumb";
}

TEST(FormPresentTest, ATooSmallScreenShowsANoteInsteadOfTheDialog) {
  DialogLayout dialog;
  Canvas screen(30, 5);
  dialog.form.Present(screen);
  EXPECT_EQ(screen.RowText(2), "      Terminal too small      ");
  for (int y = 0; y < 5; ++y) EXPECT_EQ(screen.RowText(y).find('+'), std::string::npos);
  Canvas narrow(9, 6);
  dialog.form.Present(narrow);
  EXPECT_EQ(narrow.RowText(2), "Terminal ");
  EXPECT_EQ(narrow.RowText(3), "too small");
  for (const auto& size : std::vector<std::pair<int, int>>{{0, 0}, {1, 1}, {80, 1}, {1, 24}}) {
    Canvas tiny(size.first, size.second);
    dialog.form.Present(tiny);  // must draw what fits and nothing else
    EXPECT_EQ(tiny.Width(), size.first);
  }
}

TEST(MessageBoxPaintTest, ACentredFrameTitledWithTheMessageAndOk) {
  Canvas screen(80, 24);
  PaintMessageBox("Fehler", "Der Pfad \\x\\ kann nicht angelegt werden!", screen);
  // 40 characters of text, frame and margins: 44 wide, 5 high, centred.
  EXPECT_EQ(screen.RowText(9), std::string(18, ' ') + "+- Fehler " + std::string(33, '-') + "+" +
                                   std::string(18, ' '));
  EXPECT_EQ(screen.RowText(10), std::string(18, ' ') +
                                    "| Der Pfad \\x\\ kann nicht angelegt werden! |" +
                                    std::string(18, ' '));
  EXPECT_EQ(screen.RowText(11).substr(18, 44), "|" + std::string(42, ' ') + "|");
  EXPECT_EQ(screen.RowText(12).substr(18, 44), "|                 [  OK  ]                 |");
  EXPECT_EQ(screen.RowText(13).substr(18, 44), "+" + std::string(42, '-') + "+");
}

TEST(MessageBoxPaintTest, LongMessagesWrapInsideTheScreen) {
  Canvas screen(30, 10);
  const std::string message = "one two three four five six seven eight nine ten";
  PaintMessageBox("Fehler", message, screen);
  std::string shown;
  for (int y = 0; y < 10; ++y) shown += screen.RowText(y) + "\n";
  EXPECT_NE(shown.find("| one two three four five    |"), std::string::npos) << shown;
  EXPECT_NE(shown.find("| six seven eight nine ten   |"), std::string::npos) << shown;
  EXPECT_NE(shown.find("[  OK  ]"), std::string::npos);
}

TEST(MessageBoxPaintTest, ATooSmallScreenShowsTheNote) {
  Canvas screen(20, 4);
  PaintMessageBox("Fehler", "message", screen);
  EXPECT_EQ(screen.RowText(1), " Terminal too small ");
  Canvas none(0, 0);
  PaintMessageBox("Fehler", "message", none);
}

// Collects console lines.
class CapturingSink : public ConsoleSink {
 public:
  CapturingSink() : previous_(SetConsoleSink(this)) {}
  ~CapturingSink() override { SetConsoleSink(previous_); }
  void WriteLine(const std::string& line) override { out.push_back(line); }
  void WriteErrorLine(const std::string& line) override { err.push_back(line); }
  std::vector<std::string> out;
  std::vector<std::string> err;

 private:
  ConsoleSink* previous_;
};

TEST_F(WindowTest, WithoutATerminalAFormWritesCaptionAndMemoLinesAndClosesWithOk) {
  CapturingSink console;
  TextPresenter plain;
  Presenter* previous = SetPresenter(&plain);
  DialogLayout dialog;
  dialog.memo->AddLine("first");
  dialog.memo->AddLine("");
  dialog.memo->AddLine("a line far longer than the box is wide, which is never wrapped here");
  const ModalResult result = dialog.form.ShowModal();
  SetPresenter(previous);
  EXPECT_EQ(result, ModalResult::kOk);
  EXPECT_EQ(console.out,
            (std::vector<std::string>{
                "Caption", "first", "",
                "a line far longer than the box is wide, which is never wrapped here"}));
  EXPECT_FALSE(dialog.form.Visible());
}

TEST_F(WindowTest, WithoutATerminalTheMessageBoxWritesOneErrorLine) {
  CapturingSink console;
  TextPresenter plain;
  Presenter* previous = SetPresenter(&plain);
  ShowErrorMessageBox("Fehler", "Der Pfad x kann nicht angelegt werden!");
  SetPresenter(previous);
  EXPECT_TRUE(console.out.empty());
  EXPECT_EQ(console.err, (std::vector<std::string>{"Der Pfad x kann nicht angelegt werden!"}));
}

TEST_F(WindowTest, TheErrorMessageBoxHasTheGivenTitle) {
  testsupport::StepPresenter presenter;
  ShowErrorMessageBox("Error", "broken");
  EXPECT_EQ(presenter.MessageBoxes, (std::vector<std::string>{"Error: broken"}));
}

TEST_F(WindowTest, TheModalLoopDeliversPostedMessagesBeforeItWaits) {
  testsupport::StepPresenter presenter;
  DialogLayout dialog;
  class Closer : public WinControl {
   public:
    explicit Closer(std::vector<std::string>* log) {
      SetMessageHandler(kUserMessage + 3, [log](Message&) { log->push_back("message"); });
    }
  };
  auto* closer = new Closer(&presenter.Events);
  dialog.form.InsertControl(closer);
  PostWindowMessage(closer->Handle(), kUserMessage + 3, 0, 0);
  int rounds = 0;
  presenter.OnWait = [&rounds](Form& form) {
    if (++rounds == 2) form.SetModalResult(ModalResult::kOk);
  };
  EXPECT_EQ(dialog.form.ShowModal(), ModalResult::kOk);
  EXPECT_EQ(presenter.Events,
            (std::vector<std::string>{"begin Caption", "message", "wait", "wait", "end Caption"}));
}

TEST_F(WindowTest, AFailureInsideTheModalLoopStillEndsTheShowing) {
  testsupport::StepPresenter presenter;
  DialogLayout dialog;
  presenter.OnWait = [](Form&) { throw std::runtime_error("key handler failed"); };
  EXPECT_THROW(dialog.form.ShowModal(), std::runtime_error);
  EXPECT_EQ(presenter.Events.back(), "end Caption");
  EXPECT_FALSE(dialog.form.Visible());
}

}  // namespace
}  // namespace platform
