// The Windows presenter: a form as a real top-level window with an EDIT for
// each text box and a BUTTON for each button, laid out by the controls'
// anchors, and the error message box as MessageBoxA.
#include <windows.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Window.h"

namespace platform {
namespace {

// The forms were laid out in character cells for a client area that was
// 617 by 462 pixels when designed at 80 by 23 cells.
constexpr int kDesignPixelWidth = 617;
constexpr int kDesignPixelHeight = 462;

const char kFormClass[] = "HistrelForm";

// Output to a file or a pipe means a script runs the program: it gets the
// plain text, as on Linux. A console, or none, means a person: windows.
bool Interactive() {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return true;
  const DWORD type = GetFileType(output);
  return type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE;
}

std::string MemoText(const Memo& memo) {
  std::string text;
  for (std::size_t i = 0; i < memo.Lines().size(); ++i) {
    if (i > 0) text += "\r\n";
    text += memo.Lines()[i];
  }
  return text;
}

// One form shown modally: its window and the windows of its controls.
struct Shown {
  Form* form = nullptr;
  HWND window = nullptr;
  int cellWidth = 8;
  int cellHeight = 20;
  std::map<WinControl*, HWND> children;
  std::map<WinControl*, std::string> texts;

  // Applies the anchors for a client area of width by height pixels.
  void Layout(int width, int height) {
    form->SetClientSize(width / cellWidth, height / cellHeight);
    for (const auto& [control, child] : children) {
      const Rect bounds = control->BoundsRect();
      MoveWindow(child, bounds.left * cellWidth, bounds.top * cellHeight, bounds.width * cellWidth,
                 bounds.height * cellHeight, TRUE);
    }
  }

  // Brings the text boxes up to date with their lines.
  void Refresh() {
    for (const auto& [control, child] : children) {
      const Memo* memo = dynamic_cast<const Memo*>(control);
      if (memo == nullptr) continue;
      std::string text = MemoText(*memo);
      if (texts[control] == text) continue;
      SetWindowTextA(child, text.c_str());
      texts[control] = std::move(text);
    }
  }

  Button* ButtonOf(HWND child) const {
    for (const auto& [control, made] : children) {
      if (made == child) return dynamic_cast<Button*>(control);
    }
    return nullptr;
  }
};

LRESULT CALLBACK FormProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  Shown* shown = reinterpret_cast<Shown*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (shown != nullptr) {
    switch (message) {
      case WM_SIZE:
        shown->Layout(LOWORD(lparam), HIWORD(lparam));
        return 0;
      case DM_GETDEFID:
        return MAKELRESULT(IDOK, DC_HASDEFID);
      case WM_COMMAND:
        if (Button* button = shown->ButtonOf(reinterpret_cast<HWND>(lparam))) {
          if (HIWORD(wparam) == BN_CLICKED) button->Click();
          return 0;
        }
        // Enter in the dialog: the default button.
        if (LOWORD(wparam) == IDOK) shown->form->HandleKey(Key::kEnter);
        if (LOWORD(wparam) == IDCANCEL) shown->form->HandleKey(Key::kEscape);
        return 0;
      case WM_CLOSE:
        // The dialogs have nothing to cancel: closing the window is OK.
        shown->form->SetModalResult(ModalResult::kOk);
        return 0;
      default:
        break;
    }
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

void RegisterFormClass() {
  static const bool registered = [] {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = FormProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kFormClass;
    return RegisterClassA(&windowClass) != 0;
  }();
  (void)registered;
}

class WindowsPresenter : public Presenter {
 public:
  void BeginModal(Form& form) override {
    shown_.push_back(std::make_unique<Shown>());
    Shown& shown = *shown_.back();
    shown.form = &form;
    if (!Interactive()) return;
    RegisterFormClass();
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    shown.cellWidth = kDesignPixelWidth / std::max(1, form.ClientWidth());
    shown.cellHeight = kDesignPixelHeight / std::max(1, form.ClientHeight());
    RECT frame{0, 0, form.ClientWidth() * shown.cellWidth, form.ClientHeight() * shown.cellHeight};
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    AdjustWindowRect(&frame, style, FALSE);
    shown.window = CreateWindowExA(WS_EX_CONTROLPARENT, kFormClass, form.Caption().c_str(), style,
                                   CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                   frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    if (shown.window == nullptr) return;
    HWND focus = nullptr;
    for (int i = 0; i < form.ControlCount(); ++i) {
      WinControl* control = form.Controls(i);
      HWND child = nullptr;
      if (dynamic_cast<Memo*>(control) != nullptr) {
        child = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "",
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE |
                                    ES_READONLY | ES_AUTOVSCROLL,
                                0, 0, 0, 0, shown.window, nullptr, instance, nullptr);
        SendMessageA(child, EM_SETLIMITTEXT, 0, 0);
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)),
                     FALSE);
      } else if (Button* button = dynamic_cast<Button*>(control)) {
        const DWORD kind = button->IsDefault() ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        child = CreateWindowExA(
            0, "BUTTON", button->Caption().c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | kind, 0, 0,
            0, 0, shown.window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(button->IsDefault() ? IDOK : 0)), instance,
            nullptr);
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                     FALSE);
      }
      if (child == nullptr) continue;
      shown.children[control] = child;
      if (control == form.ActiveControl()) focus = child;
    }
    shown.Refresh();
    SetWindowLongPtrA(shown.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&shown));
    RECT client;
    GetClientRect(shown.window, &client);
    shown.Layout(client.right, client.bottom);
    ShowWindow(shown.window, SW_SHOWNORMAL);
    UpdateWindow(shown.window);
    SetForegroundWindow(shown.window);
    if (focus != nullptr) SetFocus(focus);
  }

  void EndModal(Form&) override {
    Shown& shown = *shown_.back();
    if (shown.window != nullptr) {
      SetWindowLongPtrA(shown.window, GWLP_USERDATA, 0);
      DestroyWindow(shown.window);
    }
    shown_.pop_back();
  }

  void WaitForInput(Form& form) override {
    Shown& shown = *shown_.back();
    if (shown.window == nullptr) {
      plain_.WaitForInput(form);
      return;
    }
    shown.Refresh();
    // Posted messages are the window layer's (see Win32WindowQueue.cpp):
    // this waits for anything new, then handles input and painting only.
    WaitMessage();
    MSG message;
    while (form.GetModalResult() == ModalResult::kNone &&
           PeekMessageA(&message, nullptr, 0, 0,
                        PM_REMOVE | PM_QS_INPUT | PM_QS_PAINT | PM_QS_SENDMESSAGE)) {
      if (message.message == WM_KEYDOWN &&
          (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE) &&
          (message.hwnd == shown.window || IsChild(shown.window, message.hwnd))) {
        form.HandleKey(message.wParam == VK_RETURN ? Key::kEnter : Key::kEscape);
        continue;
      }
      if (IsDialogMessageA(shown.window, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }

  void ShowMessageBox(const std::string& title, const std::string& text) override {
    if (!Interactive()) {
      plain_.ShowMessageBox(title, text);
      return;
    }
    MessageBoxA(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
  }

 private:
  std::vector<std::unique_ptr<Shown>> shown_;
  TextPresenter plain_;
};

}  // namespace

Presenter& SystemPresenter() {
  static WindowsPresenter presenter;
  return presenter;
}

}  // namespace platform
