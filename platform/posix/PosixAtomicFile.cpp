#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Exception.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/posix/FileCalls.h"
#include "platform/posix/PosixNative.h"

namespace platform {

FileStatus AtomicFile::Create(const std::string& temporaryName) {
  // A new file is made as any other would be; an existing one gives its
  // mode at Complete.
  return CreateTemporary(temporaryName, 0666);
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
  PutOnDisk();
}

FileStatus AtomicFile::Commit() {
  return CommitWith([this] { Complete(); }, [this] { return Rename(); });
}

FileStatus AtomicFile::Rename() {
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
