// A lock that the thread holding it may take again (the singleton lock).
#pragma once

#include <memory>

namespace platform {

// Recursive mutual exclusion: std::recursive_mutex on POSIX, a critical
// section on Windows. Usable with std::lock_guard.
class RecursiveLock {
 public:
  RecursiveLock();
  ~RecursiveLock();
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void lock();
  void unlock();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
