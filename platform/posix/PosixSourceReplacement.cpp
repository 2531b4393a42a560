// How a source is replaced, and how a later run recovers from a run that
// was killed while it replaced one.
//
// A run that replaces the source S writes its new text to the temporary
// file T beside it (S's name with the temporary extension), appends its
// entry to the log L beside the name that was selected, and exchanges S and
// T. Each step that a later run must be able to undo leaves a mark on a
// file: an extended attribute, trusted.histrel for root (which no one else
// may set) and user.histrel for other users (counted only on a file of that
// user's that nobody else may write: TrustedMarkOf). A run holds an
// exclusive flock on T, and on S while it exchanges them, so a later run
// never takes the files of a running one for left over.
//
//   step (who writes it)         marks afterwards           a run killed here
//   ---------------------------  -------------------------  ----------------------------
//   1 T created, marked before   T: "temporary"             T is removed; L was not
//     it has a name (Create;                                written
//     where the file system
//     cannot make a file
//     without a name, unmarked)
//   2 L's length noted in T      T: "log N dev ino"         L, when it is the file that
//     (NoteLog), then L written                             dev ino names and fits S, is
//     and synced                                            cut back to N (waited for at
//                                                           most 10 s, else the "log
//                                                           locked" message); T is
//                                                           removed
//   3 S marked before it gives   T: "log N dev ino"         as 2; S loses its mark and
//     up its name (Commit); a    S: "replaced" or           gets the mode of its mark
//     user other than root       "replaced MODE"            back
//     takes the write bits of
//     group and others from an
//     S of one name and keeps
//     its mode as MODE
//   4 names exchanged: S's name  new text (S's name):       the old file loses this name
//     holds the new text, T's    "log N dev ino";           (only this one: others keep
//     the old file               old file (T's name):       the text, not the mark); L is
//                                "replaced [MODE]"          kept, it holds the entry; the
//                                                           new text loses its mark and
//                                                           gets its write bits (MODE)
//   5 T's name removed, the new  none (an old file that     nothing is left to do
//     text given its write bits  lost its last name keeps
//     and unmarked, the old      its mark: nothing finds
//     file unmarked where other  it)
//     names still show it
//
// A later run looks for T whenever it walks S's directory or rewrites S
// (RemoveLeftoverTemporary). A file of T's name that carries none of these
// marks, or one this process may not trust (another user's user.* mark, a
// file others may write), a link, a file a running process holds locked, a
// "temporary" or "log" file with another name (a hard link), or one whose
// "log" mark names another log than S's, is kept; the rewrite of S then
// stops with the "temporary file exists" message. A file system that keeps
// no extended attributes at all keeps no marks: T is then always kept, and
// the log's end tells a later run that its entry is written already.
//
// Until the exchange, the new text has no write bit for group and others
// when the process is not root's (its user.* mark would not count otherwise);
// it gets them at step 5, or from the old file's MODE at recovery.
//
// Within the run, SIGINT, SIGTERM and SIGHUP undo steps 1 and 2 at once:
// the handler removes T and cuts L back (or removes L when this run created
// it). From step 3 on (Commit) a signal waits until Commit has settled the
// names and marks; L is then cut back unless S was replaced. The settings
// files (AtomicFile) use the same handler for their temporary file alone.
// Windows keeps no marks: there a left-over T is always kept.

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
#include <functional>
#include <vector>

#include "base/Exception.h"
#include "platform/FileSystem.h"
#include "platform/SourceReplacement.h"
#include "platform/posix/FileCalls.h"
#include "platform/posix/PosixNative.h"
#include "text/ShownName.h"

namespace platform {
namespace {

constexpr char kRootMark[] = "trusted.histrel";
constexpr char kUserMark[] = "user.histrel";

std::string MarkIn(int fd, const char* name) {
  char value[128];
  const ssize_t n = Calls().GetAttribute(fd, name, value, sizeof value);
  return n > 0 ? std::string(value, static_cast<std::size_t>(n)) : std::string();
}

// The attribute that marks this process's files (see the table above):
// root's where only root may write, others' in user.*.
const char* MarkName() { return geteuid() == 0 ? kRootMark : kUserMark; }

// The mark on fd, whose status is info, when this process may trust it:
// root's in trusted.*, another user's in user.* on a file of that user's
// that nobody else may write. Empty when there is none it may trust.
std::string TrustedMarkOf(int fd, const struct stat& info) {
  // Root trusts root's marks alone: a user.* mark on a file of root's may
  // have been set while someone else could write it.
  if (geteuid() == 0) return MarkIn(fd, kRootMark);
  if (info.st_uid != geteuid() || (info.st_mode & 022) != 0) return std::string();
  return MarkIn(fd, kUserMark);
}

// The mark of an old source that gave up the write bits of group and
// others while marked ("replaced <mode>", the mode in octal), and whether
// mark is one of "replaced" (mode: the one it keeps, or 0).
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

// Sets the mark on fd; false (errno set) when it cannot be set.
bool SetMark(int fd, const std::string& value) {
  return Calls().SetAttribute(fd, MarkName(), value.data(), value.size()) == 0;
}

// Removes the mark from fd, wherever it is kept.
void RemoveMark(int fd) {
  if (Calls().RemoveAttribute(fd, kUserMark) != 0) {
    // There was none, or the file system keeps none.
  }
  if (geteuid() == 0 && Calls().RemoveAttribute(fd, kRootMark) != 0) {
    // The same.
  }
}

// Whether name is the attribute of a mark, which is never copied.
bool IsMarkAttribute(const char* name) {
  return std::strcmp(name, kUserMark) == 0 || std::strcmp(name, kRootMark) == 0;
}

}  // namespace

FileProblem LogProblem(const struct stat& log, const struct stat& sourceInfo) {
  // A log with a second name may be someone else's file linked in its place.
  if (log.st_nlink > 1) return FileProblem::kSecondName;
  const uid_t owner = log.st_uid;
  if (owner != geteuid() && owner != sourceInfo.st_uid && owner != 0) {
    return FileProblem::kOtherOwner;
  }
  // Others may read the log only when they may read the source; the log's
  // group only when it is the source's and may read it, or is root's.
  if ((log.st_mode & S_IROTH) != 0 && (sourceInfo.st_mode & S_IROTH) == 0) {
    return FileProblem::kReadableByOthers;
  }
  if ((log.st_mode & S_IRGRP) != 0 && (sourceInfo.st_mode & S_IROTH) == 0 && log.st_gid != 0 &&
      (log.st_gid != sourceInfo.st_gid || (sourceInfo.st_mode & S_IRGRP) == 0)) {
    return FileProblem::kReadableByOthers;
  }
  return FileProblem::kNone;
}

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
  ssize_t size = Calls().ListAttributes(from, names.data(), names.size());
  if (size < 0 && errno == ERANGE) {
    size = Calls().ListAttributes(from, nullptr, 0);
    if (size >= 0) {
      names.resize(static_cast<std::size_t>(size) + 1);
      size = Calls().ListAttributes(from, names.data(), names.size());
    }
  }
  if (size < 0) return errno == ENOTSUP;
  std::vector<char> value;
  for (const char* name = names.data(); name < names.data() + size; name += std::strlen(name) + 1) {
    if (IsMarkAttribute(name) || std::strcmp(name, "security.selinux") == 0) {
      continue;
    }
    ssize_t length = Calls().GetAttribute(from, name, nullptr, 0);
    if (length < 0) return false;
    value.resize(static_cast<std::size_t>(length) + 1);
    length = Calls().GetAttribute(from, name, value.data(), value.size());
    if (length < 0 ||
        Calls().SetAttribute(to, name, value.data(), static_cast<std::size_t>(length)) != 0) {
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
  return Calls().Status(fd, &mine) == 0 &&
         Calls().StatusAt(at, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
}

}  // namespace

bool RemoveIfNamed(int at, const char* name, int fd) {
  if (!SameName(at, name, fd)) return false;
  Calls().UnlinkAt(at, name, 0);
  return true;
}

namespace {

// Undoes what gInterruption holds; only calls that a signal handler may make.
void UndoInterrupted() {
  TInterruption& it = gInterruption;
  if (it.log >= 0) {
    // A log that the run created goes; another is cut back.
    const bool removed = it.logCreatedIn >= 0 && RemoveIfNamed(it.logCreatedIn, it.logName, it.log);
    if (!removed && Calls().Truncate(it.log, it.logLength) != 0) {
      // Nothing more can be done on the way out.
    }
  }
  if (it.temporary >= 0) RemoveIfNamed(it.directory, it.temporaryName, it.temporary);
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

void GuardTemporary(int at, const std::string& name, int held) {
  CatchInterruptions();
  Remember(at, name, held);
}

void ReleaseTemporary(int held) {
  if (gInterruption.temporary == held && gInterruption.phase.load() != kCommitting) Forget();
}

FileStatus CommitHoldingInterruptions(int held, const std::function<FileStatus()>& commit) {
  const bool guarded = gInterruption.temporary == held;
  if (guarded) gInterruption.phase = kCommitting;
  const FileStatus status = commit();
  if (guarded) {
    // A signal that came meanwhile takes effect now: a source's log is cut
    // back unless the source was replaced.
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

namespace {

// Creates the temporary file name in directory at already marked and
// locked: it is made without a name, then linked in, so that a run killed
// at any moment leaves no file that a later run cannot tell for its own.
// -1 with errno EOPNOTSUPP where the file system cannot do that.
int CreateMarked(int at, const std::string& name) {
  const int fd = Calls().OpenAt(at, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EISDIR || errno == ENOENT) errno = EOPNOTSUPP;
    return -1;
  }
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  const bool ready = Calls().Lock(fd, LOCK_EX | LOCK_NB) == 0 && SetMark(fd, "temporary");
  // An interruption from the moment the file has its name on takes it out.
  if (ready) Remember(at, name, fd);
  if (!ready || Calls().LinkAt(AT_FDCWD, self, at, name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    const int error = errno;
    Forget();
    Calls().Close(fd);
    errno = error == ENOTSUP || error == ENOENT ? EOPNOTSUPP : error;
    return -1;
  }
  return fd;
}

}  // namespace

FileStatus SourceReplacement::Create(const std::string& temporaryName) {
  temporaryName_ = temporaryName;
  const int at = NativeAccess::Descriptor(*directory_);
  FileStatus status = FileStatus::kOk;
  CatchInterruptions();
  const int fd = CreateMarked(at, temporaryName);
  if (fd >= 0) {
    NativeAccess::Adopt(writer_, fd, temporary_);
  } else if (errno != EOPNOTSUPP) {
    status = errno == EEXIST ? FileStatus::kExists : FileStatus::kFailed;
  } else {
    status = writer_.CreateExclusive(*directory_, temporaryName, 0600);
    if (status == FileStatus::kOk) writer_.SetName(temporary_);
  }
  if (status != FileStatus::kOk) return status;
  held_ = HoldCreated(writer_, at, temporaryName);
  if (held_ < 0) return FileStatus::kFailed;
  pending_ = true;
  Remember(at, temporaryName, static_cast<int>(held_));
  return FileStatus::kOk;
}

bool SourceReplacement::NoteLog(const TextWriter& log) {
  struct stat info {};
  if (held_ < 0 || Calls().Status(NativeAccess::Descriptor(log), &info) != 0) return false;
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
  if (SetMark(static_cast<int>(held_), mark)) return true;
  if (NoMarksHere()) return false;
  const FileProblem problem =
      errno == ENOSPC || errno == EDQUOT ? FileProblem::kDiskFull : FileProblem::kFailed;
  throw FileError("Cannot write " + text::ShownName(temporary_) + ": " + std::strerror(errno),
                  problem, temporary_);
}

void SourceReplacement::Complete() {
  if (!writer_.IsOpen()) return;
  // Owner, mode and attributes come from the file that was read, through
  // its descriptor: never from whatever its name may mean by now.
  struct stat info {};
  if (Calls().Status(NativeAccess::Descriptor(*source_), &info) == 0) {
    const int fd = static_cast<int>(held_);
    struct stat mine {};
    const bool same = TakeOwnerOf(fd, info, mine);
    if (!CopyAttributes(NativeAccess::Descriptor(*source_), fd)) {
      writer_.Abandon();
      throw Exception("Cannot copy the extended attributes to " + temporary_);
    }
    // A mark in user.* counts only while nobody else may write the file:
    // until the exchange, the new source gets no write bit for others.
    const mode_t mode = info.st_mode & 07777;
    deferredMode_ = geteuid() != 0 && (mode & 022) != 0 ? mode : 0;
    const mode_t now = deferredMode_ != 0 ? mode & ~mode_t{022} : mode;
    if ((!same || (mine.st_mode & 07777) != now) && Calls().ChangeMode(fd, now) != 0 &&
        deferredMode_ != 0) {
      writer_.Abandon();
      throw Exception("Cannot set the permissions of " + temporary_);
    }
  }
  PutOnDisk();
}

FileStatus SourceReplacement::Commit() {
  return CommitWith([this] { Complete(); }, [this] { return Swap(); });
}

FileStatus SourceReplacement::Swap() {
  const int at = NativeAccess::Descriptor(*directory_);
  const char* temporary = temporaryName_.c_str();
  const char* target = target_.c_str();
  const int source = NativeAccess::Descriptor(*source_);
  const FileIdentity& identity = NativeAccess::Identity(*source_);
  // The old file is marked before it gives up its name, so that a run
  // killed before it removes it knows it again; its lock keeps another run
  // from taking it for left over meanwhile.
  if (Calls().Lock(source, LOCK_EX | LOCK_NB) != 0) {
    // Someone else locks the source: the checks below still hold.
  }
  // Where a mark counts only on a file that nobody else may write (marks
  // of a user other than root), the old file gives up the write bits of
  // group and others while it is marked, and its mark keeps its mode, so
  // that a later run gives that back.
  // The mark comes first: until the bits are gone it does not count, and
  // the old file is then left as it was.
  struct stat before {};
  const mode_t oldMode = Calls().Status(source, &before) == 0 ? before.st_mode & 07777 : 0;
  const bool narrowing = geteuid() != 0 && (oldMode & 022) != 0 && before.st_nlink == 1;
  const bool marked = SetMark(source, narrowing ? ReplacedMark(oldMode) : "replaced");
  if (!marked && !NoMarksHere()) {
    // A run killed after the exchange could not tell the old file again.
    RemoveTemporary();
    return FileStatus::kFailed;
  }
  const bool narrowed =
      narrowing && marked && Calls().ChangeMode(source, oldMode & ~mode_t{022}) == 0;
  const auto unmark = [&] {
    if (marked) RemoveMark(source);
    if (narrowed && Calls().ChangeMode(source, oldMode) != 0) {
      // The old file keeps the narrower mode; it is going anyway, or a
      // later run gives the mode back from the mark.
    }
  };
  struct stat mine {};
  if (Calls().Status(static_cast<int>(held_), &mine) != 0) {
    unmark();
    RemoveTemporary();
    return FileStatus::kFailed;
  }
  // The names are exchanged, then what came out and what went in are
  // checked: an editor's save, or a file put in the source's place, gets
  // its name back, and so does whatever was put in the temporary file's.
  if (Calls().RenameAt(at, temporary, at, target, RENAME_EXCHANGE) == 0) {
    struct stat out {};
    struct stat in {};
    const bool outOk = Calls().StatusAt(at, temporary, &out, AT_SYMLINK_NOFOLLOW) == 0 &&
                       SameFile(out, identity) && source_->Unchanged();
    const bool inOk = Calls().StatusAt(at, target, &in, AT_SYMLINK_NOFOLLOW) == 0 &&
                      in.st_dev == mine.st_dev && in.st_ino == mine.st_ino;
    if (!outOk || !inOk) {
      Calls().RenameAt(at, temporary, at, target, RENAME_EXCHANGE);
      unmark();
      RemoveTemporary();
      return outOk ? FileStatus::kFailed : FileStatus::kChanged;
    }
    Calls().UnlinkAt(at, temporary, 0);
    // The new source gets the write bits it was kept without, now that the
    // old one is gone (until then a later run gives them from its mark).
    if (deferredMode_ != 0 && Calls().ChangeMode(static_cast<int>(held_), deferredMode_) != 0) {
      // It keeps the narrower mode.
    }
    RemoveMark(static_cast<int>(held_));
    // The old file goes on under the other names it may have (hard links):
    // there it loses its mark and gets back the write bits it gave up. One
    // whose last name this was is gone and keeps both, since nothing can
    // find it any more; one whose names cannot be told is unmarked.
    struct stat old {};
    if (Calls().Status(source, &old) != 0 || old.st_nlink > 0) unmark();
    NativeAccess::NoteReplaced(*directory_);
    pending_ = false;
    return FileStatus::kOk;
  }
  if (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP) {
    // A file system that cannot exchange names: the check comes just before
    // the rename instead.
    struct stat named {};
    struct stat in {};
    if (Calls().StatusAt(at, target, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !SameFile(named, identity) || !source_->Unchanged() ||
        Calls().StatusAt(at, temporary, &in, AT_SYMLINK_NOFOLLOW) != 0 ||
        in.st_dev != mine.st_dev || in.st_ino != mine.st_ino) {
      unmark();
      RemoveTemporary();
      return FileStatus::kChanged;
    }
    if (Calls().RenameAt(at, temporary, at, target, 0) == 0) {
      if (deferredMode_ != 0 && Calls().ChangeMode(static_cast<int>(held_), deferredMode_) != 0) {
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

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Gives the file fd the mode that it had before the write bits of group and
// others were taken from it while it was marked.
void RestoreMode(int fd, unsigned mode) {
  struct stat info {};
  if (Calls().Status(fd, &info) == 0 && (info.st_mode & 07777) == (mode & ~022u) &&
      Calls().ChangeMode(fd, static_cast<mode_t>(mode)) != 0) {
    // It keeps the narrower mode.
  }
}

// The log that a "log <length> <device> <inode>" mark names, opened for
// writing, when it is logName in logDirectory and could have been appended
// to for the source of sourceInfo (a regular file with no other name, see
// LogProblem); -1 when it is not (the mark then belongs to another
// source, or the log has been replaced).
int OpenMarkedLog(const std::string& mark, int logDirectory, const std::string& logName,
                  const struct stat& sourceInfo, off_t& length) {
  unsigned long long start = 0;
  unsigned long long device = 0;
  unsigned long long inode = 0;
  if (std::sscanf(mark.c_str(), "log %llu %llu %llu", &start, &device, &inode) != 3) return -1;
  const int log = Calls().OpenAt(logDirectory, logName.c_str(),
                                 O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
  if (log < 0) return -1;
  struct stat info {};
  if (Calls().Status(log, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 ||
      LogProblem(info, sourceInfo) != FileProblem::kNone ||
      static_cast<unsigned long long>(info.st_dev) != device ||
      static_cast<unsigned long long>(info.st_ino) != inode) {
    Calls().Close(log);
    return -1;
  }
  length = static_cast<off_t>(start);
  return log;
}

}  // namespace

LeftoverStatus RemoveLeftoverTemporary(const Directory& directory, const std::string& temporaryName,
                                       const std::string& sourceName, const Directory& logDirectory,
                                       const std::string& logName) {
  const int at = NativeAccess::Descriptor(directory);
  const int logAt = NativeAccess::Descriptor(logDirectory);
  const int fd =
      Calls().OpenAt(at, temporaryName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
  if (fd < 0) return LeftoverStatus::kKept;
  struct stat info {};
  std::string mark;
  // Only a mark that this process's user set counts, on a file that no
  // running process holds.
  bool ours = Calls().Status(fd, &info) == 0 && S_ISREG(info.st_mode) &&
              !(mark = TrustedMarkOf(fd, info)).empty() && Calls().Lock(fd, LOCK_EX | LOCK_NB) == 0;
  unsigned replacedMode = 0;
  const bool replaced = IsReplacedMark(mark, replacedMode);
  // A new text has one name; an old source may have had more (hard links),
  // and only this name of it goes.
  ours = ours && (replaced || info.st_nlink == 1);
  const int source = ours ? Calls().OpenAt(at, sourceName.c_str(),
                                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0)
                          : -1;
  struct stat sourceInfo {};
  const bool sourceKnown = source >= 0 && Calls().Status(source, &sourceInfo) == 0;
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
  ours = ours && Calls().StatusAt(at, temporaryName.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
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
    } else if (Calls().Status(log, &logInfo) != 0 ||
               (logInfo.st_size > length && Calls().Truncate(log, length) != 0)) {
      status = LeftoverStatus::kKept;
    }
  }
  if (status == LeftoverStatus::kRemoved) {
    // The other names of an old source keep its text, not the mark.
    if (info.st_nlink > 1) RemoveMark(fd);
    if (Calls().UnlinkAt(at, temporaryName.c_str(), 0) != 0) status = LeftoverStatus::kKept;
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
  if (log >= 0) Calls().Close(log);
  if (source >= 0) Calls().Close(source);
  Calls().Close(fd);
  return status;
}

}  // namespace platform
