// The parts of the file-system service that are the same on every system.
#include "platform/FileSystem.h"

#include <cstdio>
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

bool ReadNativeFile(const std::string& nativePath, std::string& text) {
  std::FILE* file = std::fopen(nativePath.c_str(), "rb");
  if (file == nullptr) return false;
  text.clear();
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    text.append(buffer, n);
  }
  const bool read = std::ferror(file) == 0;
  std::fclose(file);
  return read;
}

}  // namespace platform
