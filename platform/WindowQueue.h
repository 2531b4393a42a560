// The system's side of the window layer: window handles and the thread's
// queue of posted messages. platform/Window.cpp keeps which control owns
// which window; this only makes windows and carries messages.
#pragma once

#include "platform/Window.h"

namespace platform {
namespace window_queue {

// A new window of the calling thread, never a number given before while
// the program runs: a plain number on POSIX, a hidden message-only window
// on Windows.
WindowHandle CreateWindowHandle();

// Gives up window. Messages still queued for it stay queued, in order, and
// TakeMessage still gives them, so that they are dropped where their turn
// comes.
void DestroyWindowHandle(WindowHandle window);

// Puts message for window at the end of the thread's queue.
void PostMessageTo(WindowHandle window, const Message& message);

// Takes the oldest queued message; false when the queue is empty.
bool TakeMessage(WindowHandle& window, Message& message);

}  // namespace window_queue
}  // namespace platform
