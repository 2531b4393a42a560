#include <atomic>
#include <deque>

#include "platform/WindowQueue.h"

namespace platform {
namespace window_queue {
namespace {

struct QueuedMessage {
  WindowHandle window;
  Message message;
};

thread_local std::deque<QueuedMessage> queue;

// Shared by all threads so that a number is never given twice.
std::atomic<WindowHandle> nextHandle{1};

}  // namespace

WindowHandle CreateWindowHandle() { return nextHandle++; }

void DestroyWindowHandle(WindowHandle) {}

void PostMessageTo(WindowHandle window, const Message& message) {
  queue.push_back(QueuedMessage{window, message});
}

bool TakeMessage(WindowHandle& window, Message& message) {
  if (queue.empty()) return false;
  window = queue.front().window;
  message = queue.front().message;
  queue.pop_front();
  return true;
}

}  // namespace window_queue
}  // namespace platform
