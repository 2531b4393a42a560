#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>

#include "platform/AtomicFile.h"
#include "platform/Exception.h"
#include "platform/FileSystem.h"

namespace platform {

AtomicFile::~AtomicFile() {
  if (!pending_) return;
  writer_.Abandon();
  RemoveFile(temporary_);
}

AtomicFile::Status AtomicFile::Open(const std::string& target, const std::string& temporary) {
  target_ = target;
  temporary_ = temporary;
  switch (writer_.CreateExclusive(temporary)) {
    case TextWriter::CreateResult::kOk:
      pending_ = true;
      return Status::kOk;
    case TextWriter::CreateResult::kExists:
      return Status::kExists;
    case TextWriter::CreateResult::kFailed:
      break;
  }
  return Status::kFailed;
}

AtomicFile::Status AtomicFile::OpenUnique(const std::string& target) {
  std::random_device seed;
  std::mt19937_64 random(seed() ^ static_cast<std::uint64_t>(getpid()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%012llx.tmp",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    const Status status = Open(target, target + suffix);
    if (status != Status::kExists) return status;
  }
  return Status::kFailed;
}

void AtomicFile::Complete() {
  if (!writer_.IsOpen()) return;
  struct stat info {};
  if (stat(NativePath(target_).c_str(), &info) == 0) {
    // Through the open file, not its name, and only what differs: a new
    // file mostly has the owner and the permission bits of the one it
    // replaces already.
    const int fd = writer_.Descriptor();
    struct stat mine {};
    bool known = fstat(fd, &mine) == 0;
    if (!known || mine.st_uid != info.st_uid || mine.st_gid != info.st_gid) {
      // Keep the owner and group where the process may set them, then the
      // permission bits (chown may clear set-id bits, so chmod comes last).
      if (fchown(fd, info.st_uid, info.st_gid) != 0) {
        if (fchown(fd, static_cast<uid_t>(-1), info.st_gid) != 0) {
          // Neither is allowed: the file keeps the process's owner and group.
        }
      }
      known = false;
    }
    if (!known || (mine.st_mode & 07777) != (info.st_mode & 07777)) {
      fchmod(fd, info.st_mode & 07777);
    }
  }
  writer_.Close();
}

bool AtomicFile::Commit() {
  if (!pending_) return false;
  try {
    Complete();
  } catch (const Exception&) {
    RemoveFile(temporary_);
    pending_ = false;
    return false;
  }
  pending_ = false;
  if (rename(NativePath(temporary_).c_str(), NativePath(target_).c_str()) != 0) {
    RemoveFile(temporary_);
    return false;
  }
  return true;
}

}  // namespace platform
