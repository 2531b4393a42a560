#include <windows.h>

#include "platform/AtomicFile.h"
#include "platform/Exception.h"
#include "platform/FileSystem.h"
#include "platform/win32/Win32Native.h"

namespace platform {

AtomicFile::~AtomicFile() {
  if (pending_) RemoveTemporary();
  if (held_ >= 0) CloseHandle(HandleOf(held_));
}

void AtomicFile::RemoveTemporary() {
  writer_.Abandon();
  pending_ = false;
  if (held_ < 0) return;
  // Removed through the handle that made it: exactly this object's file,
  // whatever its name may mean by now.
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(HandleOf(held_), FileDispositionInfo, &disposition,
                             sizeof disposition);
  CloseHandle(HandleOf(held_));
  held_ = -1;
}

FileStatus AtomicFile::Create(const std::string& temporaryName, unsigned permissions) {
  temporaryName_ = temporaryName;
  const FileStatus status = writer_.CreateExclusive(*directory_, temporaryName, permissions);
  if (status != FileStatus::kOk) return status;
  writer_.SetName(temporary_);
  HANDLE held = INVALID_HANDLE_VALUE;
  if (!DuplicateHandle(GetCurrentProcess(), NativeAccess::Handle(writer_), GetCurrentProcess(),
                       &held, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    pending_ = false;
    writer_.Abandon();
    DeleteFileA(PathIn(*directory_, temporaryName).c_str());
    return FileStatus::kFailed;
  }
  held_ = ValueOf(held);
  pending_ = true;
  return FileStatus::kOk;
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
  source_ = nullptr;
  return Create(
      temporarySlash == std::string::npos ? temporary : temporary.substr(temporarySlash + 1), 0666);
}

// The temporary file carries no mark here (see RemoveLeftoverTemporary).
void AtomicFile::NoteLog(const TextWriter&) {}

void AtomicFile::Complete() {
  if (!writer_.IsOpen()) return;
  writer_.Flush();
  // On the disk before it takes the source's name, so that a crash leaves
  // the old file or the whole new one.
  FlushFileBuffers(NativeAccess::Handle(writer_));
  writer_.Close();
}

FileStatus AtomicFile::Commit() {
  if (!pending_) return FileStatus::kFailed;
  try {
    Complete();
  } catch (const Exception&) {
    RemoveTemporary();
    return FileStatus::kFailed;
  }
  const std::string temporary = PathIn(*directory_, temporaryName_);
  const std::string target = PathIn(*directory_, target_);
  // Windows cannot exchange two names in one step: the check that the name
  // still holds the file that was read, unchanged, comes just before the
  // replacement.
  if (source_ != nullptr && !source_->StillAt(*directory_, target_)) {
    RemoveTemporary();
    return FileStatus::kChanged;
  }
  // The attributes (read-only aside, which no source here has) go over
  // with the text; ReplaceFile keeps them on Windows, Wine's does not.
  FileFacts facts{};
  const DWORD attributes =
      source_ != nullptr && FactsOf(NativeAccess::Handle(*source_), facts)
          ? facts.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
          : 0;
  // The handle kept on the temporary file would keep its name from changing
  // hands; it goes first.
  CloseHandle(HandleOf(held_));
  held_ = -1;
  // ReplaceFile gives the new file the old one's attributes, access rights
  // and streams; where the target is new, or the file system cannot, the
  // name is moved over it.
  bool replaced = GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES &&
                  ReplaceFileA(target.c_str(), temporary.c_str(), nullptr,
                               REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
  if (!replaced) {
    replaced = MoveFileExA(temporary.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  }
  pending_ = false;
  if (!replaced) {
    DeleteFileA(temporary.c_str());
    return GetFileAttributesA(target.c_str()) == INVALID_FILE_ATTRIBUTES ? FileStatus::kChanged
                                                                         : FileStatus::kFailed;
  }
  if (attributes != 0) SetFileAttributesA(target.c_str(), attributes);
  return FileStatus::kOk;
}

}  // namespace platform
