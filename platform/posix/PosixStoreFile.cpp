#include "platform/posix/PosixStoreFile.h"

#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/AtomicFile.h"
#include "platform/Exception.h"

namespace platform {

namespace {

// An exclusive flock on an open descriptor, released when the object goes.
class ExclusiveLock {
 public:
  ExclusiveLock() = default;
  ~ExclusiveLock();
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

  // Opens the native path with the open(2) flags (close-on-exec added) and
  // waits until the lock is held. 0, or the errno of the step that failed.
  int Acquire(const std::string& nativePath, int flags);

 private:
  int fd_ = -1;
};

ExclusiveLock::~ExclusiveLock() {
  // Closing the descriptor releases the lock.
  if (fd_ >= 0) close(fd_);
}

int ExclusiveLock::Acquire(const std::string& nativePath, int flags) {
  const int fd = open(nativePath.c_str(), flags | O_CLOEXEC);
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

// 0 when the existing file at the native path may be replaced, else EACCES:
// a file with no write permission bit is read-only for everyone, as a
// Windows file with the read-only attribute is.
int CheckReplaceable(const std::string& nativePath) {
  struct stat info {};
  if (stat(nativePath.c_str(), &info) != 0) return 0;
  if ((info.st_mode & 0222) == 0 || access(nativePath.c_str(), W_OK) != 0) return EACCES;
  return 0;
}

// The stamp that stat or fstat gave.
FileStamp StampFrom(const struct stat& info) {
  FileStamp stamp;
  stamp.known = true;
  stamp.exists = true;
  stamp.device = static_cast<std::uint64_t>(info.st_dev);
  stamp.inode = static_cast<std::uint64_t>(info.st_ino);
  stamp.size = static_cast<std::int64_t>(info.st_size);
  stamp.modifiedSeconds = static_cast<std::int64_t>(info.st_mtim.tv_sec);
  stamp.modifiedNanoseconds = static_cast<std::int64_t>(info.st_mtim.tv_nsec);
  return stamp;
}

// The store files of SetStoreFilesForTesting, and how often they were set.
const std::map<std::string, std::string>* gTestFiles = nullptr;
std::int64_t gTestFilesSet = 0;

// The text of the file at the native path among the test files; nullptr
// when it is not among them.
const std::string* TestFileText(const std::string& nativePath) {
  const auto found = gTestFiles->find(nativePath);
  return found == gTestFiles->end() ? nullptr : &found->second;
}

// The stamp of a test file of that text (nullptr: missing).
FileStamp TestFileStamp(const std::string* text) {
  FileStamp stamp;
  stamp.known = true;
  if (text != nullptr) {
    stamp.exists = true;
    stamp.size = static_cast<std::int64_t>(text->size());
    stamp.modifiedSeconds = gTestFilesSet;
  }
  return stamp;
}

}  // namespace

void SetStoreFilesForTesting(const std::map<std::string, std::string>* texts) {
  gTestFiles = texts;
  ++gTestFilesSet;
}

FileStamp StampOf(const std::string& nativePath) {
  if (gTestFiles != nullptr) return TestFileStamp(TestFileText(nativePath));
  struct stat info {};
  FileStamp stamp;
  if (stat(nativePath.c_str(), &info) == 0) {
    stamp = StampFrom(info);
  } else if (errno == ENOENT || errno == ENOTDIR) {
    stamp.known = true;
  }
  return stamp;
}

ReadResult ReadWholeFile(const std::string& nativePath, std::string& content) {
  FileStamp stamp;
  return ReadWholeFile(nativePath, content, stamp);
}

ReadResult ReadWholeFile(const std::string& nativePath, std::string& content, FileStamp& stamp) {
  content.clear();
  if (gTestFiles != nullptr) {
    const std::string* text = TestFileText(nativePath);
    stamp = TestFileStamp(text);
    if (text == nullptr) return ReadResult::kMissing;
    content = *text;
    return ReadResult::kOk;
  }
  stamp = FileStamp();
  const int fd = open(nativePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      stamp.known = true;
      return ReadResult::kMissing;
    }
    return ReadResult::kFailed;
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
  stamp = StampFrom(info);
  // File times move in clock ticks: a file written again within the same
  // tick, to the same size, would keep its stamp. A file changed this
  // recently is not trusted to show its next change.
  struct timespec now {};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0 || now.tv_sec - info.st_mtim.tv_sec < 2) {
    stamp.known = false;
  }
  return ReadResult::kOk;
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

int RewriteStoreFile(const std::string& nativePath,
                     const std::function<std::string(const std::string&)>& change) {
  // The lock is taken on the directory, not on the file: the file is replaced
  // by a rename, so a lock on it would stay with the old copy, and a lock
  // file would leave a second file beside every store. Every writer of a
  // store locks the directory of its real place, whichever path it used.
  ExclusiveLock lock;
  if (const int error = lock.Acquire(DirectoryOf(nativePath), O_RDONLY | O_DIRECTORY)) {
    return error;
  }
  std::string text;
  switch (ReadWholeFile(nativePath, text)) {
    case ReadResult::kOk:
      if (const int error = CheckReplaceable(nativePath)) return error;
      break;
    case ReadResult::kMissing:
      break;
    case ReadResult::kFailed:
      return errno;
  }
  const std::string changed = change(text);
  if (changed == text) return 0;  // the store holds that already
  return ReplaceWholeFile(nativePath, changed);
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
