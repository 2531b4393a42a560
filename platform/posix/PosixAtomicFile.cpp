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

bool AtomicFile::Commit() {
  if (!pending_) return false;
  try {
    writer_.Close();
  } catch (const Exception&) {
    RemoveFile(temporary_);
    pending_ = false;
    return false;
  }
  const std::string nativeTarget = NativePath(target_);
  const std::string nativeTemporary = NativePath(temporary_);
  struct stat info {};
  if (stat(nativeTarget.c_str(), &info) == 0) {
    // Keep the owner and group where the process may set them, then the
    // permission bits (chown may clear set-id bits, so chmod comes last).
    if (chown(nativeTemporary.c_str(), info.st_uid, info.st_gid) != 0) {
      if (chown(nativeTemporary.c_str(), static_cast<uid_t>(-1), info.st_gid) != 0) {
        // Neither is allowed: the file keeps the process's owner and group.
      }
    }
    chmod(nativeTemporary.c_str(), info.st_mode & 07777);
  }
  pending_ = false;
  if (rename(nativeTemporary.c_str(), nativeTarget.c_str()) != 0) {
    RemoveFile(temporary_);
    return false;
  }
  return true;
}

}  // namespace platform
