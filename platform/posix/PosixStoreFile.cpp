#include "platform/posix/PosixStoreFile.h"

#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/AtomicFile.h"
#include "platform/Exception.h"

namespace platform {

ReadResult ReadWholeFile(const std::string& nativePath, std::string& content) {
  content.clear();
  const int fd = open(nativePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return errno == ENOENT || errno == ENOTDIR ? ReadResult::kMissing : ReadResult::kFailed;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return ReadResult::kFailed;
  }
  if (S_ISDIR(info.st_mode)) {
    close(fd);
    errno = EISDIR;
    return ReadResult::kFailed;
  }
  // The size is a hint only: the file may grow or shrink while it is read.
  std::size_t used = 0;
  content.resize(static_cast<std::size_t>(info.st_size) + 1);
  for (;;) {
    if (used == content.size()) content.resize(content.size() * 2 + 4096);
    const ssize_t n = read(fd, &content[used], content.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      close(fd);
      content.clear();
      errno = error;
      return ReadResult::kFailed;
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  close(fd);
  content.resize(used);
  return ReadResult::kOk;
}

ExclusiveLock::~ExclusiveLock() {
  // Closing the descriptor releases the lock.
  if (fd_ >= 0) close(fd_);
}

int ExclusiveLock::Acquire(const std::string& nativePath, int flags, unsigned mode) {
  const int fd = open(nativePath.c_str(), flags | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0) return errno;
  while (flock(fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    const int error = errno;
    close(fd);
    return error;
  }
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
  return 0;
}

int CheckReplaceable(const std::string& nativePath) {
  struct stat info {};
  if (stat(nativePath.c_str(), &info) != 0) return 0;
  if ((info.st_mode & 0222) == 0 || access(nativePath.c_str(), W_OK) != 0) return EACCES;
  return 0;
}

int ReplaceWholeFile(const std::string& nativePath, const std::string& content) {
  AtomicFile file;
  errno = 0;
  if (file.OpenUnique(nativePath) != FileStatus::kOk) return errno != 0 ? errno : EIO;
  try {
    file.Writer().Write(content);
  } catch (const Exception&) {
    const int error = errno;
    return error != 0 ? error : EIO;
  }
  errno = 0;
  if (file.Commit() != FileStatus::kOk) return errno != 0 ? errno : EIO;
  return 0;
}

int CreateDirectories(const std::string& nativePath, unsigned mode) {
  struct stat info {};
  if (nativePath.empty() || stat(nativePath.c_str(), &info) == 0) {
    return nativePath.empty() || S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
  }
  if (errno != ENOENT) return errno;
  std::string parent = DirectoryOf(nativePath);
  if (parent != nativePath && parent != "." && parent != "/") {
    const int error = CreateDirectories(parent, mode);
    if (error != 0) return error;
  }
  if (mkdir(nativePath.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) return errno;
  return 0;
}

std::string DirectoryOf(const std::string& nativePath) {
  std::string::size_type slash = nativePath.find_last_of('/');
  if (slash == std::string::npos) return ".";
  // "a//b" lies in "a", "/b" in "/".
  while (slash > 0 && nativePath[slash - 1] == '/') --slash;
  return slash == 0 ? "/" : nativePath.substr(0, slash);
}

std::string ErrorText(int error) { return strerror(error); }

}  // namespace platform
