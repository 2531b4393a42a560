#include <windows.h>

#include "base/Exception.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/win32/Win32Native.h"

namespace platform {

FileStatus AtomicFile::Create(const std::string& temporaryName) {
  return CreateTemporary(temporaryName, 0666);
}

FileStatus AtomicFile::Open(const std::string& target, const std::string& temporary) {
  const std::string::size_type slash = target.rfind('\\');
  const std::string directory =
      slash == std::string::npos ? "." : target.substr(0, slash + (slash == 0 ? 1 : 0));
  const std::string::size_type temporarySlash = temporary.rfind('\\');
  if (!ownDirectory_.Open(directory)) return FileStatus::kFailed;
  directory_ = &ownDirectory_;
  target_ = slash == std::string::npos ? target : target.substr(slash + 1);
  temporary_ = temporary;
  return Create(temporarySlash == std::string::npos ? temporary
                                                    : temporary.substr(temporarySlash + 1));
}

void AtomicFile::Complete() { CompleteHeld(writer_); }

FileStatus AtomicFile::Commit() {
  return CommitWith([this] { Complete(); }, [this] { return Rename(); });
}

FileStatus AtomicFile::Rename() {
  const FileStatus status = PutInPlace(writer_, held_, PathIn(*directory_, target_),
                                       PathIn(*directory_, temporaryName_), 0);
  pending_ = false;
  return status;
}

}  // namespace platform
