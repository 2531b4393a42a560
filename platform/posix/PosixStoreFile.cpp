#include "platform/posix/PosixStoreFile.h"

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "base/Exception.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/posix/FileCalls.h"
#include "platform/posix/PosixNative.h"

namespace platform {

namespace {

// Why a store file is refused, in the words of the messages.
const char kPlantedLink[] = "it is a link that another user planted";
const char kNoRegularFile[] = "it is no regular file";
const char kOtherOwner[] = "it belongs to another user";
const char kWritableByAll[] = "it is writable by every user";

std::string TooLarge() {
  return "it is larger than " + std::to_string(kStoreSizeLimit / (std::int64_t{1024} * 1024)) +
         " MB";
}

std::string LockedTooLong() {
  return "another process has kept its folder locked for " +
         std::to_string(kLockWaitMilliseconds / 1000) + " seconds";
}

// Where a store file really is: the directory that holds it, its links
// followed, and its name there.
struct StorePlace {
  Directory home;
  std::string name;
};

// Finds the place of the store file at the native path. 0, also when no
// file has that name yet, or the errno of the step that failed (ENOENT: a
// directory on the way is missing). Throws StoreFileError for a link that
// another user planted.
int Locate(const std::string& nativePath, StorePlace& place) {
  Directory directory;
  if (!directory.Open(DirectoryOf(nativePath))) return errno;
  const std::string name = nativePath.substr(nativePath.find_last_of('/') + 1);
  struct stat info {};
  switch (FollowLinks(directory, name, place.home, place.name, info)) {
    case LinkEnd::kFound:
    case LinkEnd::kMissing:
      return 0;
    case LinkEnd::kPlanted:
      throw StoreFileError(kPlantedLink);
    case LinkEnd::kFailed:
      break;
  }
  return errno;
}

// A descriptor, closed when the object goes (-1: none).
struct OwnedDescriptor {
  int fd = -1;
  OwnedDescriptor() = default;
  explicit OwnedDescriptor(int AFd) : fd(AFd) {}
  ~OwnedDescriptor() {
    if (fd >= 0) Calls().Close(fd);
  }
  OwnedDescriptor(const OwnedDescriptor&) = delete;
  OwnedDescriptor& operator=(const OwnedDescriptor&) = delete;
};

// Why a store file of info is refused by the rules of the header; empty
// when it may be used.
std::string RefusalOf(const struct stat& info) {
  if (!S_ISREG(info.st_mode)) return kNoRegularFile;
  if (info.st_uid != geteuid() && info.st_uid != 0) return kOtherOwner;
  if ((info.st_mode & S_IWOTH) != 0) return kWritableByAll;
  if (info.st_size > kStoreSizeLimit) return TooLarge();
  return std::string();
}

// Opens the store file at place for reading into file, with its fstat in
// info. 0, or the errno of the step that failed (ENOENT: there is no such
// file; EISDIR: a directory, which is read as the Windows service reads
// one, as a store that cannot be read). Throws StoreFileError when it is
// refused.
int OpenChecked(const StorePlace& place, OwnedDescriptor& file, struct stat& info) {
  file.fd = Calls().OpenAt(NativeAccess::Descriptor(place.home), place.name.c_str(),
                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
  if (file.fd < 0) {
    // The name was no link when it was followed a moment ago: one was put
    // in its place meanwhile.
    if (errno == ELOOP) throw StoreFileError(kPlantedLink);
    return errno;
  }
  if (Calls().Status(file.fd, &info) != 0) return errno;
  if (S_ISDIR(info.st_mode)) return EISDIR;
  const std::string refusal = RefusalOf(info);
  if (!refusal.empty()) throw StoreFileError(refusal);
  return 0;
}

// Reads the file fd (info: its fstat) whole into content. 0, or the errno
// of the read that failed; throws StoreFileError when the file grows past
// the limit while it is read.
int ReadAll(int fd, const struct stat& info, std::string& content) {
  // The size is a hint only: the file may grow or shrink while it is read.
  std::size_t used = 0;
  content.resize(static_cast<std::size_t>(info.st_size) + 1);
  for (;;) {
    if (used == content.size()) content.resize(content.size() * 2 + 4096);
    const ssize_t n = Calls().Read(fd, &content[used], content.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      content.clear();
      return errno;
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
    if (used > static_cast<std::size_t>(kStoreSizeLimit)) {
      content.clear();
      throw StoreFileError(TooLarge());
    }
  }
  content.resize(used);
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

// Replaces the file at place by content: a fresh temporary file beside it,
// renamed over it. 0, or the errno of the step that failed; the temporary
// file is gone either way.
int ReplaceWholeFile(const StorePlace& place, const std::string& content) {
  AtomicFile file;
  errno = 0;
  if (file.OpenUnique(place.home, place.name, place.name) != FileStatus::kOk) {
    return errno != 0 ? errno : EIO;
  }
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

}  // namespace

FileStamp StampOf(const std::string& nativePath) {
  struct stat info {};
  FileStamp stamp;
  if (Calls().StatusAt(AT_FDCWD, nativePath.c_str(), &info, 0) == 0) {
    stamp = StampFrom(info);
  } else if (errno == ENOENT || errno == ENOTDIR) {
    stamp.known = true;
  }
  return stamp;
}

ReadResult ReadWholeFile(const std::string& nativePath, std::string& content, FileStamp& stamp) {
  content.clear();
  stamp = FileStamp();
  StorePlace place;
  OwnedDescriptor file;
  struct stat info {};
  int error = Locate(nativePath, place);
  if (error == 0) error = OpenChecked(place, file, info);
  if (error == 0) error = ReadAll(file.fd, info, content);
  if (error == ENOENT || error == ENOTDIR) {
    stamp.known = true;
    return ReadResult::kMissing;
  }
  if (error != 0) {
    errno = error;
    return ReadResult::kFailed;
  }
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

int RewriteStoreFile(const std::string& nativePath,
                     const std::function<std::string(const std::string&)>& change) {
  StorePlace place;
  if (const int error = Locate(nativePath, place)) return error;
  // The lock is taken on the directory, not on the file: the file is replaced
  // by a rename, so a lock on it would stay with the old copy, and a lock
  // file would leave a second file beside every store. Every writer of a
  // store locks the directory of its real place, whichever path it used.
  // Closing the descriptor releases the lock.
  const OwnedDescriptor lock(Calls().OpenAt(NativeAccess::Descriptor(place.home), ".",
                                            O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (lock.fd < 0) return errno;
  bool waited = false;
  if (!LockForAWhile(lock.fd, waited)) {
    if (errno == EWOULDBLOCK) throw StoreFileError(LockedTooLong());
    return errno;
  }
  std::string text;
  OwnedDescriptor file;
  struct stat info {};
  int error = OpenChecked(place, file, info);
  if (error == 0) error = ReadAll(file.fd, info, text);
  // A file with no write permission bit is read-only for everyone, as a
  // Windows file with the read-only attribute is.
  if (error == 0 && !CanReplaceFile(place.home, place.name)) error = EACCES;
  if (error != 0 && error != ENOENT) return error;  // a missing file reads as empty
  const std::string changed = change(text);
  if (changed == text) return 0;  // the store holds that already
  return ReplaceWholeFile(place, changed);
}

int CreateDirectories(const std::string& nativePath, unsigned mode) {
  struct stat info {};
  if (nativePath.empty() || Calls().StatusAt(AT_FDCWD, nativePath.c_str(), &info, 0) == 0) {
    return nativePath.empty() || S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
  }
  if (errno != ENOENT) return errno;
  std::string parent = DirectoryOf(nativePath);
  if (parent != nativePath && parent != "." && parent != "/") {
    const int error = CreateDirectories(parent, mode);
    if (error != 0) return error;
  }
  if (Calls().MakeDirectoryAt(AT_FDCWD, nativePath.c_str(), static_cast<mode_t>(mode)) != 0 &&
      errno != EEXIST)
    return errno;
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
