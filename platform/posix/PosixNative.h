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

// Sets the mark on fd; false (errno set) when it cannot be set.
bool SetMark(int fd, const std::string& value);

// Removes the mark from fd, wherever it is kept.
void RemoveMark(int fd);

// Whether name is the attribute of a mark, which is never copied.
bool IsMarkAttribute(const char* name);

// Whether a file of owner that holds a log may take notes of a source of
// sourceInfo: its owner is this process's user, the source's owner or root,
// and no one may read it who may not read the source (group or others).
bool LogFitsSource(const struct stat& log, const struct stat& sourceInfo);

// Takes an exclusive lock on fd, waiting for it a while (waited says so):
// a run holds the lock of a log for a moment, and a lock held longer, by a
// process that hangs or means harm, is not waited out.
bool LockForAWhile(int fd, bool& waited);

// The modification time of info in nanoseconds.
std::int64_t ModifiedTime(const struct stat& info);

}  // namespace platform
