// The parts of the file-system service that are the same on every system.
#include "platform/FileSystem.h"

#include <utility>

namespace platform {

Directory::~Directory() { Close(); }

Directory::Directory(Directory&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)),
      identity_(other.identity_),
      unsynced_(std::exchange(other.unsynced_, false)) {}

Directory& Directory::operator=(Directory&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, -1);
    identity_ = other.identity_;
    unsynced_ = std::exchange(other.unsynced_, false);
  }
  return *this;
}

}  // namespace platform
