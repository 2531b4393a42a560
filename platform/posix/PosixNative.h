// The descriptors behind the platform's file objects, for the POSIX side of
// the platform layer only.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <string>

#include "platform/FileSystem.h"
#include "platform/TextFile.h"

namespace platform {

class NativeAccess {
 public:
  static int Descriptor(const Directory& directory) { return static_cast<int>(directory.handle_); }
  static std::intptr_t& Handle(Directory& directory) { return directory.handle_; }
  static FileIdentity& Identity(Directory& directory) { return directory.identity_; }
  static int Descriptor(const TextReader& reader) { return reader.fd_; }
  static int Descriptor(const TextWriter& writer) { return writer.fd_; }
  static const FileIdentity& Identity(const TextReader& reader) { return reader.identity_; }
  static void Adopt(TextWriter& writer, int fd, const std::string& name) { writer.Adopt(fd, name); }
  static std::uint64_t StartLength(const TextWriter& writer) { return writer.startLength_; }
  static int CreatedIn(const TextWriter& writer) { return writer.createdIn_; }
  static const std::string& Name(const TextWriter& writer) { return writer.path_; }
  static void NoteReplaced(const Directory& directory) { directory.unsynced_ = true; }
};

// kNone when the log of status log may take notes of a source of
// sourceInfo: it has no other name, its owner is this process's user, the
// source's owner or root, and no one may read it who may not read the source
// (group or others); else which of these it fails (see LogProblem in
// TextFile.h).
FileProblem LogProblem(const struct stat& log, const struct stat& sourceInfo);

// The pieces of a file replacement that AtomicFile (posix/PosixAtomicFile.cpp)
// and SourceReplacement (posix/PosixSourceReplacement.cpp) share.

// A second descriptor on the file that writer has just created as name in
// directory at, which stays open when the writer closes it; -1, with the
// writer abandoned and the file removed, when there is none.
int HoldCreated(TextWriter& writer, int at, const std::string& name);

// Gives fd the owner and group of info where the process may set them (the
// group alone where only that is allowed). Says whether fd had them
// already; mine is fd's status before (zero when it could not be told).
bool TakeOwnerOf(int fd, const struct stat& info, struct stat& mine);

// Removes name in directory at when it names the file that fd has open,
// which it says; only calls that a signal handler may make.
bool RemoveIfNamed(int at, const char* name, int fd);

// While a temporary file is pending, SIGINT, SIGTERM and SIGHUP remove it
// (and cut back the log that a source replacement noted) before they end
// the process; see posix/PosixSourceReplacement.cpp. GuardTemporary makes
// them undo name in directory at, which held has open; ReleaseTemporary
// forgets held unless it is being committed.
void GuardTemporary(int at, const std::string& name, int held);
void ReleaseTemporary(int held);

// Runs commit, which lets held take its target's place, with those signals
// held back when they guard held; one that came meanwhile then ends the
// process, undoing what is left unless commit said kOk. Gives what commit
// gave.
FileStatus CommitHoldingInterruptions(int held, const std::function<FileStatus()>& commit);

// The modification time of info in nanoseconds.
std::int64_t ModifiedTime(const struct stat& info);

// Where following the links of a name ends (see FollowLinks).
enum class LinkEnd {
  kFound,    // at an entry that is no link (a file, a directory, a FIFO, ...)
  kMissing,  // at a name that nothing has in an existing directory
  kPlanted,  // a link on the way is one that another user planted
  kFailed,   // elsewhere: a missing directory, a loop (errno says why)
};

// Follows name in directory through its links, each relative to the
// directory of the one before (the directories named on the way are opened
// as the kernel opens them). A link is followed when its owner is this
// process's user, root, or the owner of what it names; one that leads to
// nothing only when it is this user's or root's. For kFound and kMissing,
// home and homeName say where it ends and info is what is there (lstat).
LinkEnd FollowLinks(const Directory& directory, const std::string& name, Directory& home,
                    std::string& homeName, struct stat& info);

// How long a lock that another process holds is waited for (the log of a
// source, the folder of a settings store): a run holds one for a moment,
// and a lock held longer is not waited out.
constexpr int kLockWaitMilliseconds = 10000;

// Takes an exclusive flock on fd, waiting for it at most kLockWaitMilliseconds;
// waited says whether it had to wait. False, with errno EWOULDBLOCK when the
// wait ran out, when the lock was not taken.
bool LockForAWhile(int fd, bool& waited);

}  // namespace platform
