// Window handles of the window layer are hidden message-only windows, and
// its posted messages go through the thread's message queue of Windows
// (PostMessageA, PeekMessageA).
#include <windows.h>

#include <set>

#include "base/Exception.h"
#include "platform/WindowQueue.h"
#include "platform/win32/Win32Error.h"

namespace platform {
namespace window_queue {
namespace {

const char kMessageWindowClass[] = "HistrelMessageWindow";

// The windows this thread made for controls, until they are destroyed.
thread_local std::set<HWND> ownWindows;

// Asks the window it is posted to to go, once every message posted before
// it has been taken: a window gone at once would take those messages with it.
UINT RetireMessage() {
  static const UINT number = RegisterWindowMessageA("HistrelRetireWindow");
  return number;
}

HWND AsWindow(WindowHandle window) { return reinterpret_cast<HWND>(window); }

void RegisterMessageWindowClass() {
  static const bool registered = [] {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kMessageWindowClass;
    return RegisterClassA(&windowClass) != 0;
  }();
  (void)registered;
}

void Retire(HWND window) {
  ownWindows.erase(window);
  DestroyWindow(window);
}

}  // namespace

WindowHandle CreateWindowHandle() {
  RegisterMessageWindowClass();
  const HWND window = CreateWindowExA(0, kMessageWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                      nullptr, GetModuleHandleA(nullptr), nullptr);
  if (window == nullptr) {
    throw Exception("Cannot create a window: " + Win32ErrorText(GetLastError()));
  }
  ownWindows.insert(window);
  return reinterpret_cast<WindowHandle>(window);
}

void DestroyWindowHandle(WindowHandle window) {
  if (!PostMessageA(AsWindow(window), RetireMessage(), 0, 0)) Retire(AsWindow(window));
}

void PostMessageTo(WindowHandle window, const Message& message) {
  PostMessageA(AsWindow(window), message.number, static_cast<WPARAM>(message.wparam),
               static_cast<LPARAM>(message.lparam));
}

bool TakeMessage(WindowHandle& window, Message& message) {
  MSG next;
  // Posted messages only: input and painting are the modal loop's.
  while (PeekMessageA(&next, nullptr, 0, 0, PM_REMOVE | PM_QS_POSTMESSAGE)) {
    if (next.message == WM_QUIT) {
      // Left for the modal loop, which ends on it.
      PostQuitMessage(static_cast<int>(next.wParam));
      return false;
    }
    if (ownWindows.count(next.hwnd) == 0) {
      // A real window's own message.
      TranslateMessage(&next);
      DispatchMessageA(&next);
      continue;
    }
    if (next.message == RetireMessage()) {
      Retire(next.hwnd);
      continue;
    }
    window = reinterpret_cast<WindowHandle>(next.hwnd);
    message = Message{next.message, static_cast<std::intptr_t>(next.wParam),
                      static_cast<std::intptr_t>(next.lParam)};
    return true;
  }
  return false;
}

}  // namespace window_queue
}  // namespace platform
