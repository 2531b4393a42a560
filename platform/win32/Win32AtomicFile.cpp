#include <windows.h>

#include "base/Exception.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/win32/Win32Native.h"

namespace platform {
namespace {

// Whether path is a link (Windows) or opens as a file of another name
// (Wine's view of a Unix symbolic link). A missing file is none.
bool NamesALink(const std::wstring& path) {
  const HANDLE handle = CreateFileW(
      path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FileFacts facts{};
  const bool link = !FactsOf(handle, facts) ||
                    (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
                    !IsNamedEntry(handle, path);
  CloseHandle(handle);
  return link;
}

}  // namespace

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
    DeleteFileW(PathIn(*directory_, temporaryName).c_str());
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
  const std::wstring temporary = PathIn(*directory_, temporaryName_);
  std::wstring target = PathIn(*directory_, target_);
  // The file keeps its name as it is on disk, which the source's handle
  // tells: a name given in another letter case ("T.PAS" for "t.pas") would
  // otherwise become the new file's name under Wine.
  if (source_ != nullptr && IsNamedEntry(NativeAccess::Handle(*source_), target)) {
    target = FinalPathOf(NativeAccess::Handle(*source_));
  }
  // Windows cannot exchange two names in one step: the check that the name
  // still holds the file that was read, unchanged, comes just before the
  // replacement.
  if (source_ != nullptr && !source_->StillAt(*directory_, target_)) {
    RemoveTemporary();
    return FileStatus::kChanged;
  }
  // Nor is a link replaced: ReplaceFile through a Unix symbolic link under
  // Wine removes the file the link names. A file that is reached through a
  // link is replaced where it is (see LocateFile).
  if (target.empty() || temporary.empty() || NamesALink(target)) {
    RemoveTemporary();
    return FileStatus::kFailed;
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
  bool replaced = GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES &&
                  ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                               REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
  if (!replaced) {
    replaced = MoveFileExW(temporary.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  }
  pending_ = false;
  if (!replaced) {
    DeleteFileW(temporary.c_str());
    return GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES ? FileStatus::kChanged
                                                                         : FileStatus::kFailed;
  }
  if (attributes != 0) SetFileAttributesW(target.c_str(), attributes);
  return FileStatus::kOk;
}

}  // namespace platform
