#include <windows.h>

#include "platform/Lock.h"

namespace platform {

struct RecursiveLock::State {
  CRITICAL_SECTION section;
};

RecursiveLock::RecursiveLock() : state_(std::make_unique<State>()) {
  InitializeCriticalSection(&state_->section);
}

RecursiveLock::~RecursiveLock() { DeleteCriticalSection(&state_->section); }

void RecursiveLock::lock() { EnterCriticalSection(&state_->section); }

void RecursiveLock::unlock() { LeaveCriticalSection(&state_->section); }

}  // namespace platform
