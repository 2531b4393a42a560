// The POSIX side of HeldTemporary, and the pieces of a replacement that
// AtomicFile and SourceReplacement share.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/HeldTemporary.h"
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

HeldTemporary::~HeldTemporary() {
  if (pending_) RemoveTemporary();
  if (held_ >= 0) {
    ReleaseTemporary(static_cast<int>(held_));
    Calls().Close(static_cast<int>(held_));
  }
}

FileStatus HeldTemporary::CreateTemporary(const std::string& temporaryName, unsigned permissions) {
  temporaryName_ = temporaryName;
  const int at = NativeAccess::Descriptor(*directory_);
  const FileStatus status = writer_.CreateExclusive(*directory_, temporaryName, permissions);
  if (status != FileStatus::kOk) return status;
  writer_.SetName(temporary_);
  held_ = HoldCreated(writer_, at, temporaryName);
  if (held_ < 0) return FileStatus::kFailed;
  pending_ = true;
  GuardTemporary(at, temporaryName, static_cast<int>(held_));
  return FileStatus::kOk;
}

void HeldTemporary::RemoveTemporary() {
  writer_.Abandon();
  pending_ = false;
  ReleaseTemporary(static_cast<int>(held_));
  if (held_ < 0 || directory_ == nullptr) return;
  // Only while the name still holds the file this object created.
  RemoveIfNamed(NativeAccess::Descriptor(*directory_), temporaryName_.c_str(),
                static_cast<int>(held_));
}

FileStatus HeldTemporary::HoldingInterruptions(const std::function<FileStatus()>& commit) {
  return CommitHoldingInterruptions(static_cast<int>(held_), commit);
}

}  // namespace platform
