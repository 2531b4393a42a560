// The descriptors behind the platform's file objects, for the POSIX side of
// the platform layer only.
#pragma once

#include <sys/stat.h>

#include <cstdint>
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

// The extended attribute that marks the files of a rewrite under way, and
// its values: "temporary" while the new text is written, "log <length>
// <device> <inode>" once its run writes to the log, "replaced" on the source
// that it replaces, for the moment that the old file has its name. Root's
// marks are kept where only root may write (trusted.*), so that the owner
// of a file cannot forge one; other users' in user.*, which anyone who may
// write the file may set, so such a mark counts only on a file of the
// process's user that nobody else may write.
const char* MarkName();

// The mark on fd, whose status is info, when this process may trust it
// (see MarkName): root's in trusted.*, another user's in user.* on a file
// of that user's that nobody else may write. Empty when there is none it
// may trust.
std::string TrustedMarkOf(int fd, const struct stat& info);

// The mark of an old source that gave up the write bits of group and
// others while marked ("replaced <mode>", the mode in octal), and whether
// mark is one of "replaced" (mode: the one it keeps, or 0).
std::string ReplacedMark(unsigned mode);
bool IsReplacedMark(const std::string& mark, unsigned& mode);

// Sets the mark on fd; false (errno set) when it cannot be set.
bool SetMark(int fd, const std::string& value);

// Removes the mark from fd, wherever it is kept.
void RemoveMark(int fd);

// Whether name is the attribute of a mark, which is never copied.
bool IsMarkAttribute(const char* name);

// Whether the log of status log may take notes of a source of sourceInfo:
// it has no other name, its owner is this process's user, the source's
// owner or root, and no one may read it who may not read the source (group
// or others).
bool LogFitsSource(const struct stat& log, const struct stat& sourceInfo);

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
