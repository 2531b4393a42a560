#include "platform/Window.h"

#include <algorithm>
#include <climits>

#include "platform/Console.h"
#include "platform/WindowQueue.h"

namespace platform {
namespace {

// The windows, the count of queued messages and the pending disposals of
// one thread.
struct ThreadWindows {
  std::map<WindowHandle, WinControl*> windows;
  std::size_t queued = 0;
  int dispatchDepth = 0;
  std::vector<WinControl*> disposals;
};

thread_local ThreadWindows threadWindows;

// Counts a running dispatch; the outermost one, when it ends (also by a
// failure), frees the controls disposed of meanwhile.
class DispatchScope {
 public:
  DispatchScope() { ++threadWindows.dispatchDepth; }
  ~DispatchScope() {
    if (--threadWindows.dispatchDepth > 0) return;
    std::vector<WinControl*> disposals;
    disposals.swap(threadWindows.disposals);
    for (WinControl* control : disposals) delete control;
  }
  DispatchScope(const DispatchScope&) = delete;
  DispatchScope& operator=(const DispatchScope&) = delete;
};

Presenter* installedPresenter = nullptr;

const char* const kTooSmallNote = "Terminal too small";

// What a screen too small for a dialog shows, centred, as much as fits.
void PaintTooSmall(Canvas& screen) {
  const std::vector<std::string> rows = WrapLine(kTooSmallNote, screen.Width());
  const int top = (screen.Height() - static_cast<int>(rows.size())) / 2;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const int x = (screen.Width() - static_cast<int>(rows[i].size())) / 2;
    screen.Text(std::max(0, x), std::max(0, top) + static_cast<int>(i), rows[i]);
  }
}

}  // namespace

// --- WinControl -------------------------------------------------------------

WinControl::~WinControl() {
  if (parent_ != nullptr) parent_->RemoveControl(this);
  DestroyHandle();
  while (!controls_.empty()) {
    WinControl* child = controls_.back();
    controls_.pop_back();
    child->parent_ = nullptr;
    delete child;
  }
}

void WinControl::InsertControl(WinControl* control) {
  if (control == nullptr || control->parent_ == this) return;
  if (control->parent_ != nullptr) control->parent_->RemoveControl(control);
  controls_.push_back(control);
  control->parent_ = this;
}

void WinControl::RemoveControl(WinControl* control) {
  const auto at = std::find(controls_.begin(), controls_.end(), control);
  if (at == controls_.end()) return;
  controls_.erase(at);
  control->parent_ = nullptr;
}

WindowHandle WinControl::Handle() {
  if (handle_ == kNoWindow) {
    if (parent_ != nullptr) parent_->Handle();
    handle_ = window_queue::CreateWindowHandle();
    threadWindows.windows[handle_] = this;
  }
  return handle_;
}

void WinControl::DestroyHandle() {
  for (WinControl* child : controls_) child->DestroyHandle();
  if (handle_ == kNoWindow) return;
  threadWindows.windows.erase(handle_);
  window_queue::DestroyWindowHandle(handle_);
  handle_ = kNoWindow;
}

void WinControl::Dispatch(Message& message) {
  const auto handler = handlers_.find(message.number);
  if (handler == handlers_.end()) {
    DefaultHandler(message);
    return;
  }
  // A copy, so that a handler may replace its own entry while it runs.
  const MessageHandler call = handler->second;
  call(message);
}

void WinControl::SetMessageHandler(unsigned number, MessageHandler handler) {
  handlers_[number] = std::move(handler);
}

void WinControl::DefaultHandler(Message&) {}

void WinControl::SetBounds(int left, int top, int width, int height) {
  design_ = Rect{left, top, width, height};
}

Rect WinControl::BoundsRect() const {
  Rect bounds = design_;
  if (parent_ != nullptr) {
    const int grownWidth = parent_->clientWidth_ - parent_->designClientWidth_;
    const int grownHeight = parent_->clientHeight_ - parent_->designClientHeight_;
    if ((anchors_ & kAnchorRight) != 0) {
      if ((anchors_ & kAnchorLeft) != 0) {
        bounds.width += grownWidth;
      } else {
        bounds.left += grownWidth;
      }
    }
    if ((anchors_ & kAnchorBottom) != 0) {
      if ((anchors_ & kAnchorTop) != 0) {
        bounds.height += grownHeight;
      } else {
        bounds.top += grownHeight;
      }
    }
  }
  bounds.width = std::max(0, bounds.width);
  bounds.height = std::max(0, bounds.height);
  return bounds;
}

void WinControl::SetDesignClientSize(int width, int height) {
  designClientWidth_ = width;
  designClientHeight_ = height;
  SetClientSize(width, height);
}

void WinControl::SetClientSize(int width, int height) {
  clientWidth_ = width;
  clientHeight_ = height;
}

void WinControl::Paint(Canvas&, int, int) const {}

bool WinControl::KeyPressed(Key) { return false; }

// --- Memo -------------------------------------------------------------------

void Memo::Clear() {
  lines_.clear();
  topRow_ = 0;
}

void Memo::AddLine(const std::string& line) { lines_.push_back(line); }

std::vector<std::string> Memo::Rows() const {
  std::vector<std::string> rows;
  const int width = TextWidth();
  for (const std::string& line : lines_) {
    const std::vector<std::string> wrapped = WrapLine(line, width);
    rows.insert(rows.end(), wrapped.begin(), wrapped.end());
  }
  return rows;
}

int Memo::TextHeight() const { return std::max(0, BoundsRect().height - 2); }

int Memo::TextWidth() const { return std::max(0, BoundsRect().width - 2); }

int Memo::TopRow() const {
  const int lastTop = std::max(0, static_cast<int>(Rows().size()) - TextHeight());
  return std::clamp(topRow_, 0, lastTop);
}

void Memo::ScrollTo(int row) {
  topRow_ = row;
  topRow_ = TopRow();
}

bool Memo::KeyPressed(Key key) {
  const int page = std::max(1, TextHeight());
  switch (key) {
    case Key::kUp:
      ScrollTo(TopRow() - 1);
      return true;
    case Key::kDown:
      ScrollTo(TopRow() + 1);
      return true;
    case Key::kPageUp:
      ScrollTo(TopRow() - page);
      return true;
    case Key::kPageDown:
      ScrollTo(TopRow() + page);
      return true;
    case Key::kHome:
      ScrollTo(0);
      return true;
    case Key::kEnd:
      ScrollTo(INT_MAX);
      return true;
    default:
      return false;
  }
}

void Memo::Paint(Canvas& canvas, int x, int y) const {
  Rect box = BoundsRect();
  box.left += x;
  box.top += y;
  canvas.Frame(box);
  const std::vector<std::string> rows = Rows();
  const int height = TextHeight();
  const int top = TopRow();
  for (int i = 0; i < height && top + i < static_cast<int>(rows.size()); ++i) {
    canvas.Text(box.left + 1, box.top + 1 + i,
                rows[static_cast<std::size_t>(top) + static_cast<std::size_t>(i)], kStylePlain,
                TextWidth());
  }
  // The scroll bar lives in the right border: a thumb where the shown rows lie.
  const int hiddenRows = static_cast<int>(rows.size()) - height;
  if (height > 0 && hiddenRows > 0) {
    canvas.Put(box.Right() - 1, box.top + 1 + (height - 1) * top / hiddenRows, Glyph::kThumb);
  }
}

// --- Button -----------------------------------------------------------------

void Button::Click() {
  if (modalResult_ == ModalResult::kNone) return;
  if (Form* form = dynamic_cast<Form*>(Parent())) form->SetModalResult(modalResult_);
}

void Button::Paint(Canvas& canvas, int x, int y) const {
  const Rect bounds = BoundsRect();
  if (bounds.width < 2 || bounds.height < 1) return;
  const int inner = bounds.width - 2;
  const int pad = std::max(0, (inner - static_cast<int>(caption_.size())) / 2);
  std::string face = std::string(static_cast<std::size_t>(pad), ' ') + caption_;
  face.resize(static_cast<std::size_t>(inner), ' ');
  const unsigned char style = default_ ? kStyleReverse : kStylePlain;
  canvas.Text(bounds.left + x, bounds.top + y + (bounds.height - 1) / 2, "[" + face + "]", style);
}

// --- Form -------------------------------------------------------------------

ModalResult Form::ShowModal() {
  Presenter& presenter = CurrentPresenter();
  Handle();
  modalResult_ = ModalResult::kNone;
  visible_ = true;
  presenter.BeginModal(*this);
  // Ends the showing also when a handler's failure leaves the loop.
  struct Showing {
    Presenter& presenter;
    Form& form;
    ~Showing() {
      presenter.EndModal(form);
      form.visible_ = false;
    }
  } showing{presenter, *this};
  for (;;) {
    ProcessPostedMessages();
    if (modalResult_ != ModalResult::kNone) return modalResult_;
    presenter.WaitForInput(*this);
  }
}

void Form::HandleKey(Key key) {
  // The active control may have been removed or destroyed: only a child counts.
  const bool activeIsChild = activeControl_ != nullptr && [this] {
    for (int i = 0; i < ControlCount(); ++i) {
      if (Controls(i) == activeControl_) return true;
    }
    return false;
  }();
  if (activeIsChild && activeControl_->KeyPressed(key)) return;
  switch (key) {
    case Key::kEnter:
    case Key::kSpace:
      for (int i = 0; i < ControlCount(); ++i) {
        Button* button = dynamic_cast<Button*>(Controls(i));
        if (button != nullptr && button->IsDefault()) {
          button->Click();
          return;
        }
      }
      return;
    case Key::kEscape:
    case Key::kQuit:
      modalResult_ = ModalResult::kOk;
      return;
    default:
      return;
  }
}

bool Form::FitsClient() const {
  if (ClientWidth() <= 0 || ClientHeight() <= 0) return false;
  for (int i = 0; i < ControlCount(); ++i) {
    const WinControl* control = Controls(i);
    const Rect bounds = control->BoundsRect();
    if (bounds.width < control->MinWidth() || bounds.height < control->MinHeight() ||
        bounds.left < 0 || bounds.top < 0 || bounds.Right() > ClientWidth() ||
        bounds.Bottom() > ClientHeight()) {
      return false;
    }
  }
  return true;
}

void Form::Present(Canvas& screen) {
  SetClientSize(screen.Width(), screen.Height() - 1);
  screen.Fill(Rect{0, 0, screen.Width(), screen.Height()}, kStylePlain);
  if (!FitsClient()) {
    PaintTooSmall(screen);
    return;
  }
  screen.Fill(Rect{0, 0, screen.Width(), 1}, kStyleReverse);
  screen.Text(1, 0, caption_, kStyleReverse, screen.Width() - 2);
  for (int i = 0; i < ControlCount(); ++i) Controls(i)->Paint(screen, 0, 1);
}

// --- Posted messages ----------------------------------------------------------

bool PostWindowMessage(WindowHandle window, unsigned number, std::intptr_t wparam,
                       std::intptr_t lparam) {
  if (FindControl(window) == nullptr) return false;
  window_queue::PostMessageTo(window, Message{number, wparam, lparam});
  ++threadWindows.queued;
  return true;
}

bool DispatchNextMessage() {
  WindowHandle window = kNoWindow;
  Message message{};
  if (!window_queue::TakeMessage(window, message)) return false;
  --threadWindows.queued;
  WinControl* control = FindControl(window);
  if (control == nullptr) return true;
  DispatchScope scope;
  control->Dispatch(message);
  return true;
}

void ProcessPostedMessages() {
  while (DispatchNextMessage()) {
  }
}

std::size_t PendingMessageCount() { return threadWindows.queued; }

WinControl* FindControl(WindowHandle window) {
  const auto found = threadWindows.windows.find(window);
  return found == threadWindows.windows.end() ? nullptr : found->second;
}

void DisposeControl(WinControl* control) {
  if (control == nullptr) return;
  if (control->Parent() != nullptr) control->Parent()->RemoveControl(control);
  control->DestroyHandle();
  if (threadWindows.dispatchDepth > 0) {
    threadWindows.disposals.push_back(control);
  } else {
    delete control;
  }
}

// --- Canvas -------------------------------------------------------------------

Canvas::Canvas(int width, int height)
    : width_(std::max(0, width)),
      height_(std::max(0, height)),
      cells_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_)) {}

void Canvas::Text(int x, int y, const std::string& text, unsigned char style, int maxWidth) {
  const int length = static_cast<int>(text.size());
  const int count = maxWidth < 0 ? length : std::min(length, maxWidth);
  if (y < 0 || y >= height_) return;
  for (int i = 0; i < count; ++i) {
    if (x + i < 0 || x + i >= width_) continue;
    Cell& cell = cells_[Index(x + i, y)];
    const unsigned char ch = static_cast<unsigned char>(text[static_cast<std::size_t>(i)]);
    cell.ch = (ch < 32 || ch == 127) ? ' ' : static_cast<char>(ch);
    cell.glyph = Glyph::kText;
    cell.style = style;
  }
}

void Canvas::Put(int x, int y, Glyph glyph, unsigned char style) {
  if (x < 0 || x >= width_ || y < 0 || y >= height_) return;
  Cell& cell = cells_[Index(x, y)];
  cell.ch = ' ';
  cell.glyph = glyph;
  cell.style = style;
}

void Canvas::Fill(const Rect& area, unsigned char style) {
  for (int y = area.top; y < area.Bottom(); ++y) {
    for (int x = area.left; x < area.Right(); ++x) Put(x, y, Glyph::kText, style);
  }
}

void Canvas::Frame(const Rect& area, unsigned char style) {
  if (area.width < 2 || area.height < 2) return;
  const int right = area.Right() - 1;
  const int bottom = area.Bottom() - 1;
  for (int x = area.left + 1; x < right; ++x) {
    Put(x, area.top, Glyph::kHorizontal, style);
    Put(x, bottom, Glyph::kHorizontal, style);
  }
  for (int y = area.top + 1; y < bottom; ++y) {
    Put(area.left, y, Glyph::kVertical, style);
    Put(right, y, Glyph::kVertical, style);
  }
  Put(area.left, area.top, Glyph::kTopLeft, style);
  Put(right, area.top, Glyph::kTopRight, style);
  Put(area.left, bottom, Glyph::kBottomLeft, style);
  Put(right, bottom, Glyph::kBottomRight, style);
}

std::string Canvas::RowText(int y) const {
  std::string row;
  if (y < 0 || y >= height_) return row;
  for (int x = 0; x < width_; ++x) {
    const Cell& cell = At(x, y);
    switch (cell.glyph) {
      case Glyph::kText:
        row += cell.ch;
        break;
      case Glyph::kHorizontal:
        row += '-';
        break;
      case Glyph::kVertical:
        row += '|';
        break;
      case Glyph::kThumb:
        row += '#';
        break;
      default:
        row += '+';
        break;
    }
  }
  return row;
}

// --- Text layout ----------------------------------------------------------------

std::vector<std::string> WrapLine(const std::string& line, int width) {
  if (width < 1) return {line};
  const std::size_t rowWidth = static_cast<std::size_t>(width);
  std::vector<std::string> rows;
  std::string rest = line;
  while (rest.size() > rowWidth) {
    // The last blank within the row that ends a word; the blanks there go.
    std::size_t blank = rowWidth;
    while (blank > 0 && !(rest[blank] == ' ' && rest[blank - 1] != ' ')) --blank;
    if (blank == 0) {
      rows.push_back(rest.substr(0, rowWidth));
      rest.erase(0, rowWidth);
      continue;
    }
    rows.push_back(rest.substr(0, blank));
    const std::size_t next = rest.find_first_not_of(' ', blank);
    rest.erase(0, next == std::string::npos ? rest.size() : next);
  }
  if (!rest.empty() || rows.empty()) rows.push_back(rest);
  return rows;
}

void PaintMessageBox(const std::string& title, const std::string& text, Canvas& screen) {
  const std::string button = "[  OK  ]";
  const int buttonWidth = static_cast<int>(button.size());
  screen.Fill(Rect{0, 0, screen.Width(), screen.Height()}, kStylePlain);
  // Frame, one blank column each side, at least one column of text.
  const int widest = screen.Width() - 4;
  if (widest < buttonWidth || screen.Height() < 5) {
    PaintTooSmall(screen);
    return;
  }
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? end : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  int longest = std::max(buttonWidth, static_cast<int>(title.size()) + 2);
  for (const std::string& line : lines) longest = std::max(longest, static_cast<int>(line.size()));
  const int inner = std::min(widest, std::max(longest, 20));
  std::vector<std::string> rows;
  for (const std::string& line : lines) {
    const std::vector<std::string> wrapped = WrapLine(line, inner);
    rows.insert(rows.end(), wrapped.begin(), wrapped.end());
  }
  // Frame, blank row and button row: the text gets what is left.
  const std::size_t room = static_cast<std::size_t>(screen.Height() - 4);
  if (rows.size() > room) rows.resize(room);
  const int boxWidth = inner + 4;
  const int boxHeight = static_cast<int>(rows.size()) + 4;
  const Rect box{(screen.Width() - boxWidth) / 2, (screen.Height() - boxHeight) / 2, boxWidth,
                 boxHeight};
  screen.Frame(box);
  screen.Text(box.left + 2, box.top, " " + title + " ", kStyleBold, inner);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    screen.Text(box.left + 2, box.top + 1 + static_cast<int>(i), rows[i]);
  }
  screen.Text(box.left + (boxWidth - buttonWidth) / 2, box.Bottom() - 2, button, kStyleReverse);
}

// --- Presenters -----------------------------------------------------------------

void TextPresenter::WaitForInput(Form& form) {
  WriteLine(form.Caption());
  for (int i = 0; i < form.ControlCount(); ++i) {
    if (const Memo* memo = dynamic_cast<const Memo*>(form.Controls(i))) {
      for (const std::string& line : memo->Lines()) WriteLine(line);
    }
  }
  form.SetModalResult(ModalResult::kOk);
}

void TextPresenter::ShowMessageBox(const std::string&, const std::string& text) {
  WriteErrorLine(text);
}

Presenter& CurrentPresenter() {
  return installedPresenter != nullptr ? *installedPresenter : SystemPresenter();
}

Presenter* SetPresenter(Presenter* presenter) {
  Presenter* previous = installedPresenter;
  installedPresenter = presenter;
  return previous;
}

}  // namespace platform
