#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <limits.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/Exception.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/posix/PosixNative.h"
#include "text/ShownName.h"

namespace platform {
namespace {

// Whether the mark just refused was refused because the file system keeps
// no extended attributes at all; a rewrite then goes on unmarked.
bool NoMarksHere() { return errno == ENOTSUP; }

bool SameFile(const struct stat& info, const FileIdentity& identity) {
  return static_cast<std::uint64_t>(info.st_dev) == identity.device &&
         static_cast<std::uint64_t>(info.st_ino) == identity.inode;
}

// Copies the extended attributes of from, ACLs included, to to. False when
// one of them cannot be copied. The mark of this tool is not copied, nor the
// security label, which the system gives every new file by its own rules.
bool CopyAttributes(int from, int to) {
  // Most files have none, or a short list: one call finds out.
  std::vector<char> names(1024);
  ssize_t size = flistxattr(from, names.data(), names.size());
  if (size < 0 && errno == ERANGE) {
    size = flistxattr(from, nullptr, 0);
    if (size >= 0) {
      names.resize(static_cast<std::size_t>(size) + 1);
      size = flistxattr(from, names.data(), names.size());
    }
  }
  if (size < 0) return errno == ENOTSUP;
  std::vector<char> value;
  for (const char* name = names.data(); name < names.data() + size; name += std::strlen(name) + 1) {
    if (IsMarkAttribute(name) || std::strcmp(name, "security.selinux") == 0) {
      continue;
    }
    ssize_t length = fgetxattr(from, name, nullptr, 0);
    if (length < 0) return false;
    value.resize(static_cast<std::size_t>(length) + 1);
    length = fgetxattr(from, name, value.data(), value.size());
    if (length < 0 || fsetxattr(to, name, value.data(), static_cast<std::size_t>(length), 0) != 0) {
      return false;
    }
  }
  return true;
}

// What a replacement under way leaves behind when the process is
// interrupted (SIGINT, SIGTERM, SIGHUP), kept where a signal handler
// reaches it without allocating: the temporary file, and the log with its
// length before the run wrote to it. The handler removes the one and cuts
// the other back, then ends the process by the signal, as it would have
// ended. While a replacement commits, a signal waits until it has.
enum TPhase : int { kIdle, kPending, kCommitting };
struct TInterruption {
  std::atomic<int> phase{kIdle};
  volatile sig_atomic_t deferred = 0;  // a signal that came while committing
  int directory = -1;
  int temporary = -1;
  char temporaryName[NAME_MAX + 1] = {};
  int log = -1;
  int logCreatedIn = -1;  // the log's directory when the run created it
  char logName[NAME_MAX + 1] = {};
  off_t logLength = 0;
};
TInterruption gInterruption;

bool SameName(int at, const char* name, int fd) {
  struct stat mine {};
  struct stat named {};
  return fstat(fd, &mine) == 0 && fstatat(at, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
}

// Undoes what gInterruption holds; only calls that a signal handler may make.
void UndoInterrupted() {
  TInterruption& it = gInterruption;
  if (it.log >= 0) {
    if (it.logCreatedIn >= 0 && SameName(it.logCreatedIn, it.logName, it.log)) {
      unlinkat(it.logCreatedIn, it.logName, 0);
    } else if (ftruncate(it.log, it.logLength) != 0) {
      // Nothing more can be done on the way out.
    }
  }
  if (it.temporary >= 0 && SameName(it.directory, it.temporaryName, it.temporary)) {
    unlinkat(it.directory, it.temporaryName, 0);
  }
}

void OnInterruption(int signal) {
  const int errorBefore = errno;
  if (gInterruption.phase.load() == kCommitting) {
    gInterruption.deferred = signal;
    errno = errorBefore;
    return;
  }
  if (gInterruption.phase.exchange(kIdle) == kPending) UndoInterrupted();
  ::signal(signal, SIG_DFL);
  raise(signal);
}

void CatchInterruptions() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    // A signal that the process was told to ignore (nohup) stays ignored.
    if (sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnInterruption;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
  }
}

// Makes the handler undo the temporary file name in directory at, which
// held has open.
void Remember(int at, const std::string& name, int held) {
  TInterruption& it = gInterruption;
  it.phase = kIdle;
  if (name.size() >= sizeof it.temporaryName) return;
  std::memcpy(it.temporaryName, name.c_str(), name.size() + 1);
  it.directory = at;
  it.temporary = held;
  it.log = -1;
  it.logCreatedIn = -1;
  it.phase = kPending;
}

void Forget() {
  TInterruption& it = gInterruption;
  it.phase = kIdle;
  it.temporary = -1;
  it.log = -1;
  it.logCreatedIn = -1;
}

// Ends the process by a signal that came while a replacement committed.
void RaiseDeferred() {
  const int signal = gInterruption.deferred;
  if (signal == 0) return;
  if (gInterruption.phase.exchange(kIdle) == kPending) UndoInterrupted();
  ::signal(signal, SIG_DFL);
  raise(signal);
}

}  // namespace

AtomicFile::~AtomicFile() {
  if (pending_) RemoveTemporary();
  if (held_ >= 0 && gInterruption.temporary == static_cast<int>(held_)) Forget();
  if (held_ >= 0) close(static_cast<int>(held_));
}

void AtomicFile::RemoveTemporary() {
  writer_.Abandon();
  pending_ = false;
  if (gInterruption.temporary == static_cast<int>(held_) &&
      gInterruption.phase.load() != kCommitting) {
    Forget();
  }
  if (held_ < 0 || directory_ == nullptr) return;
  // Only while the name still holds the file this object created.
  const int at = NativeAccess::Descriptor(*directory_);
  struct stat mine {};
  struct stat named {};
  if (fstat(static_cast<int>(held_), &mine) == 0 &&
      fstatat(at, temporaryName_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) {
    unlinkat(at, temporaryName_.c_str(), 0);
  }
}

namespace {

// Creates the temporary file name in directory at already marked and
// locked: it is made without a name, then linked in, so that a run killed
// at any moment leaves no file that a later run cannot tell for its own.
// -1 with errno EOPNOTSUPP where the file system cannot do that.
int CreateMarked(int at, const std::string& name) {
  const int fd = openat(at, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EISDIR || errno == ENOENT) errno = EOPNOTSUPP;
    return -1;
  }
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  const bool ready = flock(fd, LOCK_EX | LOCK_NB) == 0 && SetMark(fd, "temporary");
  // An interruption from the moment the file has its name on takes it out.
  if (ready) Remember(at, name, fd);
  if (!ready || linkat(AT_FDCWD, self, at, name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    const int error = errno;
    Forget();
    close(fd);
    errno = error == ENOTSUP || error == ENOENT ? EOPNOTSUPP : error;
    return -1;
  }
  return fd;
}

}  // namespace

FileStatus AtomicFile::Create(const std::string& temporaryName, unsigned permissions) {
  temporaryName_ = temporaryName;
  const int at = NativeAccess::Descriptor(*directory_);
  FileStatus status = FileStatus::kOk;
  CatchInterruptions();
  const int fd = source_ != nullptr ? CreateMarked(at, temporaryName) : -1;
  if (fd >= 0) {
    NativeAccess::Adopt(writer_, fd, temporary_);
  } else if (source_ != nullptr && errno != EOPNOTSUPP) {
    status = errno == EEXIST ? FileStatus::kExists : FileStatus::kFailed;
  } else {
    status = writer_.CreateExclusive(*directory_, temporaryName, permissions);
    if (status == FileStatus::kOk) writer_.SetName(temporary_);
  }
  if (status != FileStatus::kOk) return status;
  held_ = fcntl(NativeAccess::Descriptor(writer_), F_DUPFD_CLOEXEC, 0);
  if (held_ < 0) {
    writer_.Abandon();
    unlinkat(at, temporaryName.c_str(), 0);
    return FileStatus::kFailed;
  }
  pending_ = true;
  Remember(at, temporaryName, static_cast<int>(held_));
  return FileStatus::kOk;
}

FileStatus AtomicFile::Open(const std::string& target, const std::string& temporary) {
  const std::string native = NativePath(target);
  const std::string::size_type slash = native.rfind('/');
  const std::string directory =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : native.substr(0, slash));
  const std::string nativeTemporary = NativePath(temporary);
  const std::string::size_type temporarySlash = nativeTemporary.rfind('/');
  if (!ownDirectory_.Open(directory)) return FileStatus::kFailed;
  directory_ = &ownDirectory_;
  target_ = slash == std::string::npos ? native : native.substr(slash + 1);
  temporary_ = temporary;
  source_ = nullptr;
  // A new file is made as any other would be; an existing one gives its
  // mode at Complete.
  return Create(temporarySlash == std::string::npos ? nativeTemporary
                                                    : nativeTemporary.substr(temporarySlash + 1),
                0666);
}

void AtomicFile::NoteLog(const TextWriter& log) {
  struct stat info {};
  if (held_ < 0 || fstat(NativeAccess::Descriptor(log), &info) != 0) return;
  if (gInterruption.temporary == static_cast<int>(held_) &&
      NativeAccess::Name(log).size() < sizeof gInterruption.logName) {
    gInterruption.phase = kIdle;
    const std::string& name = NativeAccess::Name(log);
    std::memcpy(gInterruption.logName, name.c_str(), name.size() + 1);
    gInterruption.logLength = static_cast<off_t>(NativeAccess::StartLength(log));
    gInterruption.logCreatedIn = NativeAccess::CreatedIn(log);
    gInterruption.log = NativeAccess::Descriptor(log);
    gInterruption.phase = kPending;
  }
  char mark[96];
  std::snprintf(mark, sizeof mark, "log %llu %llu %llu",
                static_cast<unsigned long long>(NativeAccess::StartLength(log)),
                static_cast<unsigned long long>(info.st_dev),
                static_cast<unsigned long long>(info.st_ino));
  // A file system without extended attributes keeps no mark: the log then
  // tells a later run of the entry itself (see the rewrite). Any other
  // failure stops the rewrite before the log is written: a run killed
  // later could not be undone.
  if (!SetMark(static_cast<int>(held_), mark) && !NoMarksHere()) {
    throw Exception("Cannot write " + text::ShownName(temporary_) + ": " + std::strerror(errno));
  }
}

void AtomicFile::Complete() {
  if (!writer_.IsOpen()) return;
  // Owner, mode and attributes come from the file that was read, through
  // its descriptor: never from whatever its name may mean by now. A
  // settings file gives them by its name, which is the file itself: a link
  // there is not followed.
  struct stat info {};
  const bool known = source_ != nullptr
                         ? fstat(NativeAccess::Descriptor(*source_), &info) == 0
                         : fstatat(NativeAccess::Descriptor(*directory_), target_.c_str(), &info,
                                   AT_SYMLINK_NOFOLLOW) == 0 &&
                               S_ISREG(info.st_mode);
  if (known) {
    const int fd = static_cast<int>(held_);
    struct stat mine {};
    bool same = fstat(fd, &mine) == 0;
    if (!same || mine.st_uid != info.st_uid || mine.st_gid != info.st_gid) {
      // Keep the owner and group where the process may set them, then the
      // attributes and the permission bits (chown may clear set-id bits and
      // capabilities, so it comes first).
      if (fchown(fd, info.st_uid, info.st_gid) != 0) {
        if (fchown(fd, static_cast<uid_t>(-1), info.st_gid) != 0) {
          // Neither is allowed: the file keeps the process's owner and group.
        }
      }
      same = false;
    }
    if (source_ != nullptr && !CopyAttributes(NativeAccess::Descriptor(*source_), fd)) {
      writer_.Abandon();
      throw Exception("Cannot copy the extended attributes to " + temporary_);
    }
    // A mark in user.* counts only while nobody else may write the file:
    // until the exchange, the new source gets no write bit for others.
    const mode_t mode = info.st_mode & 07777;
    deferredMode_ = source_ != nullptr && geteuid() != 0 && (mode & 022) != 0 ? mode : 0;
    const mode_t now = deferredMode_ != 0 ? mode & ~mode_t{022} : mode;
    if ((!same || (mine.st_mode & 07777) != now) && fchmod(fd, now) != 0 && deferredMode_ != 0) {
      writer_.Abandon();
      throw Exception("Cannot set the permissions of " + temporary_);
    }
  }
  // On the disk before it can take the target's name, so that a power loss
  // leaves the old file or the whole new one, never an empty one.
  writer_.Sync();
  writer_.Close();
}

FileStatus AtomicFile::Commit() {
  if (!pending_) return FileStatus::kFailed;
  const bool guarded = gInterruption.temporary == static_cast<int>(held_);
  if (guarded) gInterruption.phase = kCommitting;
  const FileStatus status = Swap();
  if (guarded) {
    // A signal that came meanwhile takes effect now: the log is cut back
    // unless the source was replaced.
    if (status == FileStatus::kOk) {
      Forget();
    } else {
      gInterruption.temporary = -1;
      gInterruption.phase = kPending;
    }
    RaiseDeferred();
    Forget();
  }
  return status;
}

FileStatus AtomicFile::Swap() {
  try {
    Complete();
  } catch (const Exception&) {
    RemoveTemporary();
    return FileStatus::kFailed;
  }
  const int at = NativeAccess::Descriptor(*directory_);
  const char* temporary = temporaryName_.c_str();
  const char* target = target_.c_str();
  if (source_ == nullptr) {
    if (renameat(at, temporary, at, target) != 0) {
      RemoveTemporary();
      return FileStatus::kFailed;
    }
    NativeAccess::NoteReplaced(*directory_);
    pending_ = false;
    return FileStatus::kOk;
  }

  const int source = NativeAccess::Descriptor(*source_);
  const FileIdentity& identity = NativeAccess::Identity(*source_);
  // The old file is marked before it gives up its name, so that a run
  // killed before it removes it knows it again; its lock keeps another run
  // from taking it for left over meanwhile.
  if (flock(source, LOCK_EX | LOCK_NB) != 0) {
    // Someone else locks the source: the checks below still hold.
  }
  // Where a mark counts only on a file that nobody else may write (marks
  // of a user other than root), the old file gives up the write bits of
  // group and others while it is marked, and its mark keeps its mode, so
  // that a later run gives that back.
  // The mark comes first: until the bits are gone it does not count, and
  // the old file is then left as it was.
  struct stat before {};
  const mode_t oldMode = fstat(source, &before) == 0 ? before.st_mode & 07777 : 0;
  const bool narrowing = geteuid() != 0 && (oldMode & 022) != 0 && before.st_nlink == 1;
  const bool marked = SetMark(source, narrowing ? ReplacedMark(oldMode) : "replaced");
  if (!marked && !NoMarksHere()) {
    // A run killed after the exchange could not tell the old file again.
    RemoveTemporary();
    return FileStatus::kFailed;
  }
  const bool narrowed = narrowing && marked && fchmod(source, oldMode & ~mode_t{022}) == 0;
  const auto unmark = [&] {
    if (marked) RemoveMark(source);
    if (narrowed && fchmod(source, oldMode) != 0) {
      // The old file keeps the narrower mode; it is going anyway, or a
      // later run gives the mode back from the mark.
    }
  };
  struct stat mine {};
  if (fstat(static_cast<int>(held_), &mine) != 0) {
    unmark();
    RemoveTemporary();
    return FileStatus::kFailed;
  }
  // The names are exchanged, then what came out and what went in are
  // checked: an editor's save, or a file put in the source's place, gets
  // its name back, and so does whatever was put in the temporary file's.
  if (renameat2(at, temporary, at, target, RENAME_EXCHANGE) == 0) {
    struct stat out {};
    struct stat in {};
    const bool outOk = fstatat(at, temporary, &out, AT_SYMLINK_NOFOLLOW) == 0 &&
                       SameFile(out, identity) && source_->Unchanged();
    const bool inOk = fstatat(at, target, &in, AT_SYMLINK_NOFOLLOW) == 0 &&
                      in.st_dev == mine.st_dev && in.st_ino == mine.st_ino;
    if (!outOk || !inOk) {
      renameat2(at, temporary, at, target, RENAME_EXCHANGE);
      unmark();
      RemoveTemporary();
      return outOk ? FileStatus::kFailed : FileStatus::kChanged;
    }
    unlinkat(at, temporary, 0);
    // The new source gets the write bits it was kept without, now that the
    // old one is gone (until then a later run gives them from its mark).
    if (deferredMode_ != 0 && fchmod(static_cast<int>(held_), deferredMode_) != 0) {
      // It keeps the narrower mode.
    }
    RemoveMark(static_cast<int>(held_));
    // An old file with other names (hard links) goes on under them, unmarked.
    struct stat old {};
    if (fstat(source, &old) != 0 || old.st_nlink > 0) unmark();
    NativeAccess::NoteReplaced(*directory_);
    pending_ = false;
    return FileStatus::kOk;
  }
  if (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP) {
    // A file system that cannot exchange names: the check comes just before
    // the rename instead.
    struct stat named {};
    struct stat in {};
    if (fstatat(at, target, &named, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(named, identity) ||
        !source_->Unchanged() || fstatat(at, temporary, &in, AT_SYMLINK_NOFOLLOW) != 0 ||
        in.st_dev != mine.st_dev || in.st_ino != mine.st_ino) {
      unmark();
      RemoveTemporary();
      return FileStatus::kChanged;
    }
    if (renameat(at, temporary, at, target) == 0) {
      if (deferredMode_ != 0 && fchmod(static_cast<int>(held_), deferredMode_) != 0) {
        // It keeps the narrower mode.
      }
      RemoveMark(static_cast<int>(held_));
      unmark();
      NativeAccess::NoteReplaced(*directory_);
      pending_ = false;
      return FileStatus::kOk;
    }
  }
  const FileStatus result = errno == ENOENT ? FileStatus::kChanged : FileStatus::kFailed;
  unmark();
  RemoveTemporary();
  return result;
}

}  // namespace platform
