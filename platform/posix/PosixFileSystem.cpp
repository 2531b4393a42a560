#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/FileSystem.h"
#include "platform/posix/FileCalls.h"
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
  return Calls().StatusAt(AT_FDCWD, NativePath(path).c_str(), &info, 0) == 0 &&
         !S_ISDIR(info.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return Calls().StatusAt(AT_FDCWD, NativePath(path).c_str(), &info, 0) == 0 &&
         S_ISDIR(info.st_mode);
}

bool CreateDirectory(const std::string& path) {
  return Calls().MakeDirectoryAt(AT_FDCWD, NativePath(path).c_str(), 0777) == 0;
}

std::string FinalTarget(const std::string& path) {
  const std::string native = NativePath(path);
  struct stat info {};
  if (Calls().StatusAt(AT_FDCWD, native.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISLNK(info.st_mode)) {
    return path;
  }
  std::string resolved;
  return Calls().RealPath(native.c_str(), resolved) ? resolved : path;
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
  const int fd = Calls().OpenAt(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK, 0);
  // A directory that may be passed through but not listed still leads to
  // its files; its listing is empty.
  if (fd < 0 && errno == EACCES)
    return Calls().OpenAt(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
  return fd;
}

// The text of the link name in directory at; empty when it cannot be read.
std::string ReadLinkAt(int at, const std::string& name) {
  std::string target(256, '\0');
  for (;;) {
    const ssize_t n = Calls().ReadLinkAt(at, name.c_str(), &target[0], target.size());
    if (n < 0) return std::string();
    if (static_cast<std::size_t>(n) < target.size()) {
      target.resize(static_cast<std::size_t>(n));
      return target;
    }
    target.resize(target.size() * 2);
  }
}

}  // namespace

void Directory::Close() {
  if (handle_ >= 0) {
    // The replaced names outlive a power loss; the files behind them were
    // synced before. A failure here cannot undo anything.
    if (unsynced_ && Calls().Sync(static_cast<int>(handle_)) != 0) {
    }
    Calls().Close(static_cast<int>(handle_));
  }
  handle_ = -1;
  unsynced_ = false;
}

namespace {

bool AdoptDirectory(int fd, std::intptr_t& handle, FileIdentity& identity) {
  struct stat info {};
  if (fd < 0) return false;
  if (Calls().Status(fd, &info) != 0 || !S_ISDIR(info.st_mode)) {
    Calls().Close(fd);
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
  int fd = Calls().OpenAt(at, name.c_str(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0);
  if (fd < 0 && errno == EACCES) {
    fd = Calls().OpenAt(at, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
  }
  if (fd < 0 && (errno == ELOOP || errno == ENOTDIR)) {
    struct stat link {};
    if (Calls().StatusAt(at, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0) {
      return NoDirectoryThere(errno) ? ChildStatus::kNoDirectory : ChildStatus::kFailed;
    }
    if (!S_ISLNK(link.st_mode)) return ChildStatus::kNoDirectory;
    fd = OpenDirectoryAt(at, name.c_str());
    struct stat info {};
    if (fd >= 0 && (Calls().Status(fd, &info) != 0 || !LinkMayLead(link.st_uid, info.st_uid))) {
      Calls().Close(fd);
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
  const int flags = Calls().StatusFlags(static_cast<int>(handle_));
  if (flags >= 0 && (flags & O_PATH) != 0) return true;
  return Calls().List(static_cast<int>(handle_), entries) == 0;
}

EntryKind Directory::KindOf(const std::string& name) const {
  struct stat info {};
  if (handle_ < 0 || Calls().StatusAt(static_cast<int>(handle_), name.c_str(), &info, 0) != 0) {
    return EntryKind::kUnknown;
  }
  return S_ISDIR(info.st_mode) ? EntryKind::kDirectory : EntryKind::kFile;
}

bool Directory::Holds(const std::string& name) const {
  struct stat info {};
  return handle_ >= 0 &&
         Calls().StatusAt(static_cast<int>(handle_), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

LinkEnd FollowLinks(const Directory& directory, const std::string& name, Directory& home,
                    std::string& homeName, struct stat& info) {
  int at = Calls().Duplicate(NativeAccess::Descriptor(directory));
  if (at < 0) return LinkEnd::kFailed;
  std::string current = name;
  std::vector<uid_t> linkOwners;
  LinkEnd end = LinkEnd::kFailed;
  int error = ELOOP;
  // Links are followed one by one, each relative to the directory of the
  // one before, as the kernel would, but without a path to resolve.
  for (int hops = 0; hops < 40; ++hops) {
    if (Calls().StatusAt(at, current.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
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
      Calls().Close(at);
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
  if (at >= 0) Calls().Close(at);
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
    if (Calls().Lock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (waitedFor >= kLockWaitMilliseconds) {
      errno = EWOULDBLOCK;
      return false;
    }
    waited = true;
    usleep(kPauseMilliseconds * 1000);
  }
}

FileProblem ReplaceProblem(const Directory& directory, const std::string& name) {
  const int at = NativeAccess::Descriptor(directory);
  struct stat info {};
  struct stat home {};
  if (Calls().StatusAt(at, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? FileProblem::kMissing : FileProblem::kFailed;
  }
  if (S_ISDIR(info.st_mode)) return FileProblem::kDirectory;
  if (S_ISLNK(info.st_mode)) return FileProblem::kLink;
  if (S_ISFIFO(info.st_mode)) return FileProblem::kFifo;
  if (!S_ISREG(info.st_mode)) return FileProblem::kNotRegular;
  if (Calls().Status(at, &home) != 0) return FileProblem::kFailed;
  // No write bit at all is the read-only attribute; it holds for root too.
  if ((info.st_mode & 0222) == 0) return FileProblem::kNotWritable;
  if (Calls().AccessAt(at, name.c_str(), W_OK, AT_EACCESS) != 0) return FileProblem::kNotWritable;
  if (Calls().AccessAt(at, ".", W_OK | X_OK, AT_EACCESS) != 0) {
    return FileProblem::kDirectoryNotWritable;
  }
  // In a sticky directory only the owner of a file or of the directory (or
  // root) may replace it.
  const uid_t user = geteuid();
  const bool mayReplace =
      (home.st_mode & S_ISVTX) == 0 || user == 0 || user == info.st_uid || user == home.st_uid;
  return mayReplace ? FileProblem::kNone : FileProblem::kStickyDirectory;
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
