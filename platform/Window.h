// The window layer: windowed controls with lazily made window handles, forms
// with their control lists, the thread's queue of posted messages, a modal
// loop, and the presenters that put a form on a terminal or into plain text.
//
// Everything here belongs to the thread that makes it: windows, their queue
// and the modal loop are used from that one thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace platform {

// Identifies a window while it exists; 0 is never a window. Numbers are not
// reused, so a message posted to a destroyed window cannot reach a newer one.
using WindowHandle = std::uintptr_t;
constexpr WindowHandle kNoWindow = 0;

// The first message number free for a program's own messages (WM_USER).
constexpr unsigned kUserMessage = 0x0400;

struct Message {
  unsigned number;
  std::intptr_t wparam;
  std::intptr_t lparam;
};

// The edges of its parent's client area a control keeps its distance to.
using Anchors = unsigned;
constexpr Anchors kAnchorLeft = 1;
constexpr Anchors kAnchorTop = 2;
constexpr Anchors kAnchorRight = 4;
constexpr Anchors kAnchorBottom = 8;

// A rectangle in character cells.
struct Rect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int Right() const { return left + width; }
  int Bottom() const { return top + height; }
};

enum class ModalResult { kNone, kOk, kCancel };

// What the user did, as far as a form cares.
enum class Key {
  kUp,
  kDown,
  kPageUp,
  kPageDown,
  kHome,
  kEnd,
  kEnter,
  kSpace,
  kEscape,
  kQuit,  // "q"
  kOther,
};

class Canvas;

// A control that owns a window: it can receive posted messages, and it can
// hold child controls, which it destroys with itself.
class WinControl {
 public:
  using MessageHandler = std::function<void(Message&)>;

  WinControl() = default;
  // Destroys the window, then every child still in the control list.
  virtual ~WinControl();
  WinControl(const WinControl&) = delete;
  WinControl& operator=(const WinControl&) = delete;

  WinControl* Parent() const { return parent_; }
  // Makes this control the parent of control, which it then destroys with
  // itself unless the control is removed first. A control that has a parent
  // is taken from that parent's list first.
  void InsertControl(WinControl* control);
  // Takes control out of the control list; nothing happens when it is not in
  // it. The control lives on, without parent and owned by the caller again.
  void RemoveControl(WinControl* control);
  int ControlCount() const { return static_cast<int>(controls_.size()); }
  WinControl* Controls(int index) const { return controls_.at(index); }

  // The control's window, made (after its parent's) when it has none yet.
  WindowHandle Handle();
  bool HandleAllocated() const { return handle_ != kNoWindow; }
  // Destroys the windows of the children, then this one. Messages still
  // queued for them are dropped when their turn comes.
  void DestroyHandle();

  // Calls the handler for message.number, or DefaultHandler when there is none.
  void Dispatch(Message& message);

  // Bounds as laid out for the parent's design client size, and anchors.
  void SetBounds(int left, int top, int width, int height);
  void SetAnchors(Anchors anchors) { anchors_ = anchors; }
  Anchors GetAnchors() const { return anchors_; }
  // The bounds for the parent's current client size: an edge the control is
  // anchored to keeps its distance to that edge of the client area; anchored
  // to both opposite edges, the control stretches. Sizes never go below 0.
  Rect BoundsRect() const;

  // The client area the children are laid out in: its size at design time
  // and now. Setting the design size sets the current one as well.
  void SetDesignClientSize(int width, int height);
  void SetClientSize(int width, int height);
  int ClientWidth() const { return clientWidth_; }
  int ClientHeight() const { return clientHeight_; }

  // The smallest size at which the control can be drawn.
  virtual int MinWidth() const { return 0; }
  virtual int MinHeight() const { return 0; }
  // Draws the control into canvas at its bounds moved by (x, y).
  virtual void Paint(Canvas& canvas, int x, int y) const;
  // Acts on a key while the control has the focus; false when it does not use it.
  virtual bool KeyPressed(Key key);

 protected:
  // Routes messages with this number to handler from now on.
  void SetMessageHandler(unsigned number, MessageHandler handler);
  // Processing of messages without handler: private messages are ignored.
  virtual void DefaultHandler(Message& message);

 private:
  WinControl* parent_ = nullptr;
  std::vector<WinControl*> controls_;
  WindowHandle handle_ = kNoWindow;
  std::map<unsigned, MessageHandler> handlers_;
  Rect design_;
  Anchors anchors_ = kAnchorLeft | kAnchorTop;
  int designClientWidth_ = 0;
  int designClientHeight_ = 0;
  int clientWidth_ = 0;
  int clientHeight_ = 0;
};

// A read-only multi-line text box with a border and a vertical scroll bar.
// Long lines wrap at the box's width on the screen only.
class Memo : public WinControl {
 public:
  const std::vector<std::string>& Lines() const { return lines_; }
  void Clear();
  void AddLine(const std::string& line);

  // The first row shown, counted over the wrapped rows; kept in range when
  // the box's size changes the wrapping.
  int TopRow() const;
  // The rows the lines make at the box's current text width.
  std::vector<std::string> Rows() const;
  // Rows of text inside the border (0 when the box is too small).
  int TextHeight() const;
  int TextWidth() const;

  int MinWidth() const override { return 3; }
  int MinHeight() const override { return 3; }
  void Paint(Canvas& canvas, int x, int y) const override;
  // Up/Down scroll by a row, PageUp/PageDown by a box height, Home/End to
  // the first or last page.
  bool KeyPressed(Key key) override;

 private:
  void ScrollTo(int row);

  std::vector<std::string> lines_;
  int topRow_ = 0;
};

// A push button; clicking it gives its form its modal result.
class Button : public WinControl {
 public:
  void SetCaption(const std::string& caption) { caption_ = caption; }
  const std::string& Caption() const { return caption_; }
  void SetModalResult(ModalResult result) { modalResult_ = result; }
  ModalResult GetModalResult() const { return modalResult_; }
  // The default button is the one that Enter presses.
  void SetDefault(bool isDefault) { default_ = isDefault; }
  bool IsDefault() const { return default_; }
  void Click();

  int MinWidth() const override { return static_cast<int>(caption_.size()) + 2; }
  int MinHeight() const override { return 1; }
  void Paint(Canvas& canvas, int x, int y) const override;

 private:
  std::string caption_;
  ModalResult modalResult_ = ModalResult::kNone;
  bool default_ = false;
};

// A top-level window with a caption. Hidden until shown modally.
class Form : public WinControl {
 public:
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption) { caption_ = caption; }
  bool Visible() const { return visible_; }

  ModalResult GetModalResult() const { return modalResult_; }
  void SetModalResult(ModalResult result) { modalResult_ = result; }

  // Shows the form and runs the modal loop until the form has a modal
  // result, which it returns; hides the form again. Each round first
  // delivers every posted message, then waits for the user once.
  ModalResult ShowModal();

  // The control that receives keys first.
  void SetActiveControl(WinControl* control) { activeControl_ = control; }
  WinControl* ActiveControl() const { return activeControl_; }

  // A key for the form: the active control's first; then Enter and Space
  // press the default button, Esc and "q" close the form with the OK
  // result, as the dialogs here have nothing to cancel.
  void HandleKey(Key key);

  // True when every child, laid out by its anchors, lies inside the client
  // area and has at least its minimal size.
  bool FitsClient() const;

  // Lays the form out on a screen of the canvas's size and draws it: the
  // caption bar on the first row, the client area below. On a screen too
  // small for the layout it draws a short note instead.
  void Present(Canvas& screen);

 private:
  std::string caption_;
  bool visible_ = false;
  ModalResult modalResult_ = ModalResult::kNone;
  WinControl* activeControl_ = nullptr;
};

// Puts (number, wparam, lparam) at the end of the thread's message queue for
// window and returns at once. False, and nothing queued, when window is not
// a live window.
bool PostWindowMessage(WindowHandle window, unsigned number, std::intptr_t wparam,
                       std::intptr_t lparam);

// Delivers the oldest queued message to its window's control. A message for a
// window destroyed since goes nowhere. False when the queue was empty.
bool DispatchNextMessage();

// Delivers queued messages, also those posted meanwhile, until none is left.
void ProcessPostedMessages();

// Messages queued and not yet delivered. Only tests ask; kept here because
// seeing the queue any other way would deliver what they wait to deliver.
std::size_t PendingMessageCount();

// The control that owns window, or nullptr when it is not a live window.
WinControl* FindControl(WindowHandle window);

// Destroys control's window at once and the control itself right away, or,
// while a message is being dispatched, as soon as that dispatch has returned,
// so that a control can be disposed of from its own message handler. The
// control is taken out of its parent's list first.
void DisposeControl(WinControl* control);

// One character cell of a screen.
enum class Glyph : unsigned char {
  kText,
  kHorizontal,
  kVertical,
  kTopLeft,
  kTopRight,
  kBottomLeft,
  kBottomRight,
  kThumb,
};
constexpr unsigned char kStylePlain = 0;
constexpr unsigned char kStyleReverse = 1;
constexpr unsigned char kStyleBold = 2;
struct Cell {
  char ch = ' ';
  Glyph glyph = Glyph::kText;
  unsigned char style = kStylePlain;
};

// A screen's worth of cells; every drawing operation clips at its edges.
class Canvas {
 public:
  Canvas(int width, int height);
  int Width() const { return width_; }
  int Height() const { return height_; }
  const Cell& At(int x, int y) const { return cells_[Index(x, y)]; }

  // Writes text from (x, y) on, at most maxWidth cells of it. Control
  // characters show as blanks.
  void Text(int x, int y, const std::string& text, unsigned char style = kStylePlain,
            int maxWidth = -1);
  void Put(int x, int y, Glyph glyph, unsigned char style = kStylePlain);
  // Sets every cell of area to a blank of style.
  void Fill(const Rect& area, unsigned char style);
  // A border around area.
  void Frame(const Rect& area, unsigned char style = kStylePlain);

  // Row y as text, lines drawn as "-", "|" and "+" and the scroll thumb as
  // "#" (for tests and the plain listing).
  std::string RowText(int y) const;

 private:
  std::size_t Index(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
           static_cast<std::size_t>(x);
  }

  int width_;
  int height_;
  std::vector<Cell> cells_;
};

// Splits line into rows of at most width cells, breaking after the last
// blank that fits, or inside a word longer than a row. An empty line gives
// one empty row.
std::vector<std::string> WrapLine(const std::string& line, int width);

// Draws the error message box, centred: a frame titled title, the text
// wrapped to the screen, an OK button below it.
void PaintMessageBox(const std::string& title, const std::string& text, Canvas& screen);

// Shows forms and message boxes to the user. The modal loop of Form calls
// it; form, controller and posted messages work the same whichever it is.
class Presenter {
 public:
  virtual ~Presenter() = default;
  // Called when a form starts and ends being shown modally.
  virtual void BeginModal(Form& form) = 0;
  virtual void EndModal(Form& form) = 0;
  // Shows form as it is now, waits for the user once and acts on it (for
  // example form.HandleKey). Called only after every posted message has
  // been delivered.
  virtual void WaitForInput(Form& form) = 0;
  // Shows the modal error message box and returns when it is closed.
  virtual void ShowMessageBox(const std::string& title, const std::string& text) = 0;
};

// The presenter without a terminal: a form writes its caption, then the lines
// of each of its text boxes, to standard output and counts as closed with OK
// at once; a message box writes its text as one line to standard error.
class TextPresenter : public Presenter {
 public:
  void BeginModal(Form&) override {}
  void EndModal(Form&) override {}
  void WaitForInput(Form& form) override;
  void ShowMessageBox(const std::string& title, const std::string& text) override;
};

// The presenter in use: the installed one, else the terminal presenter when
// standard input and standard output are terminals, else a TextPresenter.
Presenter& CurrentPresenter();

// Installs presenter for everything shown later (tests); nullptr restores
// the automatic choice. Returns the presenter installed before.
Presenter* SetPresenter(Presenter* presenter);

// The automatic choice of CurrentPresenter; one per operating system.
Presenter& SystemPresenter();

}  // namespace platform
