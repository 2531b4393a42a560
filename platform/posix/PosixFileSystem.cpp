#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/FileSystem.h"
#include "platform/posix/PosixNative.h"

namespace platform {

std::string NativePath(const std::string& path) {
  std::string result = path;
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  return result;
}

bool SystemPathOf(const std::string& nativePath, std::string& path) {
  // a\b.pas is one name here; as a system path it would be two.
  if (nativePath.find('\\') != std::string::npos) return false;
  path = nativePath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return true;
}

bool IsFile(const std::string& path) {
  struct stat info {};
  return stat(NativePath(path).c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return stat(NativePath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CreateDirectory(const std::string& path) { return mkdir(NativePath(path).c_str(), 0777) == 0; }

std::string FinalTarget(const std::string& path) {
  const std::string native = NativePath(path);
  struct stat info {};
  if (lstat(native.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char* resolved = realpath(native.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string result = resolved;
  free(resolved);
  return result;
}

namespace {

constexpr char kRootMark[] = "trusted.histrel";
constexpr char kUserMark[] = "user.histrel";

std::string MarkIn(int fd, const char* name) {
  char value[128];
  const ssize_t n = fgetxattr(fd, name, value, sizeof value);
  return n > 0 ? std::string(value, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

const char* MarkName() { return geteuid() == 0 ? kRootMark : kUserMark; }

std::string TrustedMarkOf(int fd, const struct stat& info) {
  // Root trusts root's marks alone: a user.* mark on a file of root's may
  // have been set while someone else could write it.
  if (geteuid() == 0) return MarkIn(fd, kRootMark);
  if (info.st_uid != geteuid() || (info.st_mode & 022) != 0) return std::string();
  return MarkIn(fd, kUserMark);
}

std::string ReplacedMark(unsigned mode) {
  char mark[32];
  std::snprintf(mark, sizeof mark, "replaced %o", mode & 07777);
  return mark;
}

bool IsReplacedMark(const std::string& mark, unsigned& mode) {
  mode = 0;
  if (mark == "replaced") return true;
  unsigned value = 0;
  char rest = 0;
  if (std::sscanf(mark.c_str(), "replaced %o%c", &value, &rest) != 1 || value > 07777) return false;
  mode = value;
  return true;
}

bool SetMark(int fd, const std::string& value) {
  return fsetxattr(fd, MarkName(), value.data(), value.size(), 0) == 0;
}

void RemoveMark(int fd) {
  if (fremovexattr(fd, kUserMark) != 0) {
    // There was none, or the file system keeps none.
  }
  if (geteuid() == 0 && fremovexattr(fd, kRootMark) != 0) {
    // The same.
  }
}

bool IsMarkAttribute(const char* name) {
  return std::strcmp(name, kUserMark) == 0 || std::strcmp(name, kRootMark) == 0;
}

bool LogFitsSource(const struct stat& log, const struct stat& sourceInfo) {
  // A log with a second name may be someone else's file linked in its place.
  if (log.st_nlink > 1) return false;
  const uid_t owner = log.st_uid;
  if (owner != geteuid() && owner != sourceInfo.st_uid && owner != 0) return false;
  // Others may read the log only when they may read the source; the log's
  // group only when it is the source's and may read it, or is root's.
  if ((log.st_mode & S_IROTH) != 0 && (sourceInfo.st_mode & S_IROTH) == 0) return false;
  if ((log.st_mode & S_IRGRP) != 0 && (sourceInfo.st_mode & S_IROTH) == 0 && log.st_gid != 0 &&
      (log.st_gid != sourceInfo.st_gid || (sourceInfo.st_mode & S_IRGRP) == 0)) {
    return false;
  }
  return true;
}

std::int64_t ModifiedTime(const struct stat& info) {
  return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

namespace {

// Whether a link of owner may lead to a file or directory of target: links
// of this process's user and of root are followed, and so is a link whose
// owner could reach what it names anyway, being its owner. A link that
// another user planted to lead to someone else's file is not.
bool LinkMayLead(uid_t owner, uid_t target) {
  return owner == geteuid() || owner == 0 || owner == target;
}

int OpenDirectoryAt(int at, const char* name) {
  const int fd = openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
  // A directory that may be passed through but not listed still leads to
  // its files; its listing is empty.
  if (fd < 0 && errno == EACCES) return openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC);
  return fd;
}

// The text of the link name in directory at; empty when it cannot be read.
std::string ReadLinkAt(int at, const std::string& name) {
  std::string target(256, '\0');
  for (;;) {
    const ssize_t n = readlinkat(at, name.c_str(), &target[0], target.size());
    if (n < 0) return std::string();
    if (static_cast<std::size_t>(n) < target.size()) {
      target.resize(static_cast<std::size_t>(n));
      return target;
    }
    target.resize(target.size() * 2);
  }
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Gives the file fd the mode that it had before the write bits of group and
// others were taken from it while it was marked.
void RestoreMode(int fd, unsigned mode) {
  struct stat info {};
  if (fstat(fd, &info) == 0 && (info.st_mode & 07777) == (mode & ~022u) &&
      fchmod(fd, static_cast<mode_t>(mode)) != 0) {
    // It keeps the narrower mode.
  }
}

// The log that a "log <length> <device> <inode>" mark names, opened for
// writing, when it is logName in logDirectory and could have been appended
// to for the source of sourceInfo (a regular file with no other name, see
// LogFitsSource); -1 when it is not (the mark then belongs to another
// source, or the log has been replaced).
int OpenMarkedLog(const std::string& mark, int logDirectory, const std::string& logName,
                  const struct stat& sourceInfo, off_t& length) {
  unsigned long long start = 0;
  unsigned long long device = 0;
  unsigned long long inode = 0;
  if (std::sscanf(mark.c_str(), "log %llu %llu %llu", &start, &device, &inode) != 3) return -1;
  const int log =
      openat(logDirectory, logName.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (log < 0) return -1;
  struct stat info {};
  if (fstat(log, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 ||
      !LogFitsSource(info, sourceInfo) || static_cast<unsigned long long>(info.st_dev) != device ||
      static_cast<unsigned long long>(info.st_ino) != inode) {
    close(log);
    return -1;
  }
  length = static_cast<off_t>(start);
  return log;
}

}  // namespace

void Directory::Close() {
  if (handle_ >= 0) {
    // The replaced names outlive a power loss; the files behind them were
    // synced before. A failure here cannot undo anything.
    if (unsynced_ && fsync(static_cast<int>(handle_)) != 0) {
    }
    close(static_cast<int>(handle_));
  }
  handle_ = -1;
  unsynced_ = false;
}

namespace {

bool AdoptDirectory(int fd, std::intptr_t& handle, FileIdentity& identity) {
  struct stat info {};
  if (fd < 0) return false;
  if (fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode)) {
    close(fd);
    return false;
  }
  handle = fd;
  identity = FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                          static_cast<std::uint64_t>(info.st_ino)};
  return true;
}

}  // namespace

bool Directory::Open(const std::string& path) {
  Close();
  std::string native = NativePath(path);
  if (native.empty()) native = ".";
  return AdoptDirectory(OpenDirectoryAt(AT_FDCWD, native.c_str()), handle_, identity_);
}

namespace {

// Whether a failed open of a directory's name means that there is no
// directory there to enter: the name has gone, or names something else.
bool NoDirectoryThere(int error) { return error == ENOENT || error == ENOTDIR || error == ELOOP; }

}  // namespace

Directory::ChildStatus Directory::OpenChild(const Directory& parent, const std::string& name) {
  Close();
  const int at = static_cast<int>(parent.handle_);
  // Most entries are no links: those are opened without looking further.
  int fd = openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0 && errno == EACCES) {
    fd = openat(at, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd < 0 && (errno == ELOOP || errno == ENOTDIR)) {
    struct stat link {};
    if (fstatat(at, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0) {
      return NoDirectoryThere(errno) ? ChildStatus::kNoDirectory : ChildStatus::kFailed;
    }
    if (!S_ISLNK(link.st_mode)) return ChildStatus::kNoDirectory;
    fd = OpenDirectoryAt(at, name.c_str());
    struct stat info {};
    if (fd >= 0 && (fstat(fd, &info) != 0 || !LinkMayLead(link.st_uid, info.st_uid))) {
      close(fd);
      return ChildStatus::kNoDirectory;
    }
  }
  // The walk stops at a directory it cannot open rather than leave the
  // files below it alone without a word: a tree deeper than the descriptors
  // the process may hold is the common case.
  if (fd < 0) return NoDirectoryThere(errno) ? ChildStatus::kNoDirectory : ChildStatus::kFailed;
  return AdoptDirectory(fd, handle_, identity_) ? ChildStatus::kOpened : ChildStatus::kNoDirectory;
}

bool Directory::List(std::vector<DirectoryEntry>& entries) const {
  entries.clear();
  if (handle_ < 0) return false;
  // A directory opened only to be passed through (see OpenDirectoryAt) has
  // no listing to read.
  const int flags = fcntl(static_cast<int>(handle_), F_GETFL);
  if (flags >= 0 && (flags & O_PATH) != 0) return true;
  const int fd = fcntl(static_cast<int>(handle_), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return false;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return false;
  }
  // The copy shares its position with the directory's own descriptor.
  rewinddir(dir);
  for (;;) {
    errno = 0;
    const struct dirent* entry = readdir(dir);
    if (entry == nullptr) break;
    EntryKind kind = EntryKind::kUnknown;
#ifdef _DIRENT_HAVE_D_TYPE
    if (entry->d_type == DT_REG) kind = EntryKind::kFile;
    if (entry->d_type == DT_DIR) kind = EntryKind::kDirectory;
#endif
    entries.push_back(DirectoryEntry{entry->d_name, kind});
  }
  const bool complete = errno == 0;
  closedir(dir);
  return complete;
}

EntryKind Directory::KindOf(const std::string& name) const {
  struct stat info {};
  if (handle_ < 0 || fstatat(static_cast<int>(handle_), name.c_str(), &info, 0) != 0) {
    return EntryKind::kUnknown;
  }
  return S_ISDIR(info.st_mode) ? EntryKind::kDirectory : EntryKind::kFile;
}

bool Directory::Holds(const std::string& name) const {
  struct stat info {};
  return handle_ >= 0 &&
         fstatat(static_cast<int>(handle_), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

LinkEnd FollowLinks(const Directory& directory, const std::string& name, Directory& home,
                    std::string& homeName, struct stat& info) {
  int at = fcntl(NativeAccess::Descriptor(directory), F_DUPFD_CLOEXEC, 0);
  if (at < 0) return LinkEnd::kFailed;
  std::string current = name;
  std::vector<uid_t> linkOwners;
  LinkEnd end = LinkEnd::kFailed;
  int error = ELOOP;
  // Links are followed one by one, each relative to the directory of the
  // one before, as the kernel would, but without a path to resolve.
  for (int hops = 0; hops < 40; ++hops) {
    if (fstatat(at, current.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      error = errno;
      if (error == ENOENT) end = LinkEnd::kMissing;
      break;
    }
    if (!S_ISLNK(info.st_mode)) {
      end = LinkEnd::kFound;
      break;
    }
    linkOwners.push_back(info.st_uid);
    const std::string target = ReadLinkAt(at, current);
    const std::string::size_type slash = target.rfind('/');
    current = slash == std::string::npos ? target : target.substr(slash + 1);
    if (current.empty() || current == "." || current == "..") {
      error = EINVAL;
      break;
    }
    if (slash != std::string::npos) {
      const std::string part = slash == 0 ? "/" : target.substr(0, slash);
      const int next = OpenDirectoryAt(at, part.c_str());
      error = errno;
      close(at);
      at = next;
      if (at < 0) break;
    }
  }
  // A link that leads to nothing may be this user's or root's only.
  const uid_t target = end == LinkEnd::kFound ? info.st_uid : geteuid();
  for (const uid_t owner : linkOwners) {
    if (!LinkMayLead(owner, target)) end = LinkEnd::kPlanted;
  }
  if ((end == LinkEnd::kFound || end == LinkEnd::kMissing) && at >= 0) {
    Directory found;
    if (!AdoptDirectory(at, NativeAccess::Handle(found), NativeAccess::Identity(found))) {
      return LinkEnd::kFailed;
    }
    home = std::move(found);
    homeName = current;
    return end;
  }
  if (at >= 0) close(at);
  errno = error;
  return end;
}

bool LocateFile(const Directory& directory, const std::string& name, Directory& home,
                std::string& homeName) {
  struct stat info {};
  Directory found;
  std::string foundName;
  if (FollowLinks(directory, name, found, foundName, info) != LinkEnd::kFound ||
      !S_ISREG(info.st_mode)) {
    return false;
  }
  home = std::move(found);
  homeName = foundName;
  return true;
}

bool LockForAWhile(int fd, bool& waited) {
  constexpr int kPauseMilliseconds = 10;
  waited = false;
  for (int waitedFor = 0;; waitedFor += kPauseMilliseconds) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (waitedFor >= kLockWaitMilliseconds) {
      errno = EWOULDBLOCK;
      return false;
    }
    waited = true;
    usleep(kPauseMilliseconds * 1000);
  }
}

bool CanReplaceFile(const Directory& directory, const std::string& name) {
  const int at = NativeAccess::Descriptor(directory);
  struct stat info {};
  struct stat home {};
  if (fstatat(at, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode) ||
      fstat(at, &home) != 0) {
    return false;
  }
  // No write bit at all is the read-only attribute; it holds for root too.
  if ((info.st_mode & 0222) == 0) return false;
  if (faccessat(at, name.c_str(), W_OK, AT_EACCESS) != 0) return false;
  if (faccessat(at, ".", W_OK | X_OK, AT_EACCESS) != 0) return false;
  // In a sticky directory only the owner of a file or of the directory (or
  // root) may replace it.
  const uid_t user = geteuid();
  return (home.st_mode & S_ISVTX) == 0 || user == 0 || user == info.st_uid || user == home.st_uid;
}

LeftoverStatus RemoveLeftoverTemporary(const Directory& directory, const std::string& temporaryName,
                                       const std::string& sourceName, const Directory& logDirectory,
                                       const std::string& logName) {
  const int at = NativeAccess::Descriptor(directory);
  const int logAt = NativeAccess::Descriptor(logDirectory);
  const int fd = openat(at, temporaryName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return LeftoverStatus::kKept;
  struct stat info {};
  std::string mark;
  // Only a mark that this process's user set counts, on a file that no
  // running process holds.
  bool ours = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
              !(mark = TrustedMarkOf(fd, info)).empty() && flock(fd, LOCK_EX | LOCK_NB) == 0;
  unsigned replacedMode = 0;
  const bool replaced = IsReplacedMark(mark, replacedMode);
  // A new text has one name; an old source may have had more (hard links),
  // and only this name of it goes.
  ours = ours && (replaced || info.st_nlink == 1);
  const int source =
      ours ? openat(at, sourceName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1;
  struct stat sourceInfo {};
  const bool sourceKnown = source >= 0 && fstat(source, &sourceInfo) == 0;
  const std::string sourceMark = sourceKnown ? TrustedMarkOf(source, sourceInfo) : std::string();
  off_t length = 0;
  int log = -1;
  if (ours && replaced) {
    // The old source, swapped out by a run killed before it removed it: the
    // new source then still carries the mark that names its log.
    log = OpenMarkedLog(sourceMark, logAt, logName, sourceInfo, length);
    ours = log >= 0;
  } else if (ours && mark != "temporary") {
    // Once its run wrote to the log, only beside the source of that log
    // (two sources may share a temporary name).
    log = sourceKnown ? OpenMarkedLog(mark, logAt, logName, sourceInfo, length) : -1;
    ours = log >= 0;
  }
  struct stat named {};
  ours = ours && fstatat(at, temporaryName.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         SameFile(named, info);
  LeftoverStatus status = ours ? LeftoverStatus::kRemoved : LeftoverStatus::kKept;
  if (ours && log >= 0 && !replaced) {
    // The log is cut back to where it stood before that run wrote to it,
    // unless the source was replaced already; a log that someone keeps
    // locked is not waited for without end.
    bool waited = false;
    struct stat logInfo {};
    if (!LockForAWhile(log, waited)) {
      status = LeftoverStatus::kLogLocked;
    } else if (fstat(log, &logInfo) != 0 ||
               (logInfo.st_size > length && ftruncate(log, length) != 0)) {
      status = LeftoverStatus::kKept;
    }
  }
  if (status == LeftoverStatus::kRemoved) {
    // The other names of an old source keep its text, not the mark.
    if (info.st_nlink > 1) RemoveMark(fd);
    if (unlinkat(at, temporaryName.c_str(), 0) != 0) status = LeftoverStatus::kKept;
    // A mark left on the source goes with it, and so does the narrower mode
    // that an old source, or the new one before it got its own, had while
    // marked.
    unsigned sourceMode = 0;
    if (status == LeftoverStatus::kRemoved && !sourceMark.empty()) {
      RemoveMark(source);
      if (IsReplacedMark(sourceMark, sourceMode) && sourceMode != 0)
        RestoreMode(source, sourceMode);
    }
    if (status == LeftoverStatus::kRemoved && replacedMode != 0) RestoreMode(source, replacedMode);
  }
  if (log >= 0) close(log);
  if (source >= 0) close(source);
  close(fd);
  return status;
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
