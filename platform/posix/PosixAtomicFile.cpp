#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Exception.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/posix/FileCalls.h"
#include "platform/posix/PosixNative.h"

namespace platform {

int HoldCreated(TextWriter& writer, int at, const std::string& name) {
  const int held = Calls().Duplicate(NativeAccess::Descriptor(writer));
  if (held < 0) {
    writer.Abandon();
    Calls().UnlinkAt(at, name.c_str(), 0);
  }
  return held;
}

bool TakeOwnerOf(int fd, const struct stat& info, struct stat& mine) {
  bool same = Calls().Status(fd, &mine) == 0;
  if (!same || mine.st_uid != info.st_uid || mine.st_gid != info.st_gid) {
    // Keep the owner and group where the process may set them, then the
    // attributes and the permission bits (chown may clear set-id bits and
    // capabilities, so it comes first).
    if (Calls().ChangeOwner(fd, info.st_uid, info.st_gid) != 0) {
      if (Calls().ChangeOwner(fd, static_cast<uid_t>(-1), info.st_gid) != 0) {
        // Neither is allowed: the file keeps the process's owner and group.
      }
    }
    same = false;
  }
  return same;
}

AtomicFile::~AtomicFile() {
  if (pending_) RemoveTemporary();
  if (held_ >= 0) {
    ReleaseTemporary(static_cast<int>(held_));
    Calls().Close(static_cast<int>(held_));
  }
}

void AtomicFile::RemoveTemporary() {
  writer_.Abandon();
  pending_ = false;
  ReleaseTemporary(static_cast<int>(held_));
  if (held_ < 0 || directory_ == nullptr) return;
  // Only while the name still holds the file this object created.
  RemoveIfNamed(NativeAccess::Descriptor(*directory_), temporaryName_.c_str(),
                static_cast<int>(held_));
}

FileStatus AtomicFile::Create(const std::string& temporaryName) {
  temporaryName_ = temporaryName;
  const int at = NativeAccess::Descriptor(*directory_);
  // A new file is made as any other would be; an existing one gives its
  // mode at Complete.
  const FileStatus status = writer_.CreateExclusive(*directory_, temporaryName, 0666);
  if (status != FileStatus::kOk) return status;
  writer_.SetName(temporary_);
  held_ = HoldCreated(writer_, at, temporaryName);
  if (held_ < 0) return FileStatus::kFailed;
  pending_ = true;
  GuardTemporary(at, temporaryName, static_cast<int>(held_));
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
  return Create(temporarySlash == std::string::npos ? nativeTemporary
                                                    : nativeTemporary.substr(temporarySlash + 1));
}

void AtomicFile::Complete() {
  if (!writer_.IsOpen()) return;
  // A settings file gives owner and mode by its name, which is the file
  // itself: a link there is not followed.
  struct stat info {};
  if (Calls().StatusAt(NativeAccess::Descriptor(*directory_), target_.c_str(), &info,
                       AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(info.st_mode)) {
    const int fd = static_cast<int>(held_);
    struct stat mine {};
    const bool same = TakeOwnerOf(fd, info, mine);
    const mode_t mode = info.st_mode & 07777;
    if ((!same || (mine.st_mode & 07777) != mode) && Calls().ChangeMode(fd, mode) != 0) {
      // The file keeps the mode it was made with.
    }
  }
  // On the disk before it can take the target's name, so that a power loss
  // leaves the old file or the whole new one, never an empty one.
  writer_.Sync();
  writer_.Close();
}

FileStatus AtomicFile::Commit() {
  if (!pending_) return FileStatus::kFailed;
  return CommitHoldingInterruptions(static_cast<int>(held_), [this] { return Rename(); });
}

FileStatus AtomicFile::Rename() {
  try {
    Complete();
  } catch (const Exception&) {
    RemoveTemporary();
    return FileStatus::kFailed;
  }
  const int at = NativeAccess::Descriptor(*directory_);
  if (Calls().RenameAt(at, temporaryName_.c_str(), at, target_.c_str(), 0) != 0) {
    RemoveTemporary();
    return FileStatus::kFailed;
  }
  // Directory::Close puts the directory on the disk, and the new name with it.
  NativeAccess::NoteReplaced(*directory_);
  pending_ = false;
  return FileStatus::kOk;
}

}  // namespace platform
