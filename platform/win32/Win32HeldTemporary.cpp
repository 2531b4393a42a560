// The Windows side of HeldTemporary, and the pieces of a replacement that
// AtomicFile and SourceReplacement share.
#include <windows.h>

#include "platform/HeldTemporary.h"
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

FileStatus CreateHeld(TextWriter& writer, const Directory& directory, const std::string& name,
                      const std::string& shown, unsigned permissions, std::intptr_t& held) {
  const FileStatus status = writer.CreateExclusive(directory, name, permissions);
  if (status != FileStatus::kOk) return status;
  writer.SetName(shown);
  HANDLE second = INVALID_HANDLE_VALUE;
  if (!DuplicateHandle(GetCurrentProcess(), NativeAccess::Handle(writer), GetCurrentProcess(),
                       &second, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    writer.Abandon();
    DeleteFileW(PathIn(directory, name).c_str());
    return FileStatus::kFailed;
  }
  held = ValueOf(second);
  return FileStatus::kOk;
}

void RemoveHeld(TextWriter& writer, std::intptr_t& held) {
  writer.Abandon();
  if (held < 0) return;
  // Removed through the handle that made it: exactly this object's file,
  // whatever its name may mean by now.
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(HandleOf(held), FileDispositionInfo, &disposition, sizeof disposition);
  CloseHandle(HandleOf(held));
  held = -1;
}

void CompleteHeld(TextWriter& writer) {
  if (!writer.IsOpen()) return;
  writer.Flush();
  // On the disk before it takes the target's name, so that a crash leaves
  // the old file or the whole new one.
  FlushFileBuffers(NativeAccess::Handle(writer));
  writer.Close();
}

FileStatus PutInPlace(TextWriter& writer, std::intptr_t& held, const std::wstring& target,
                      const std::wstring& temporary, DWORD attributes) {
  // Nor is a link replaced: ReplaceFile through a Unix symbolic link under
  // Wine removes the file the link names. A file that is reached through a
  // link is replaced where it is (see LocateFile).
  if (target.empty() || temporary.empty() || NamesALink(target)) {
    RemoveHeld(writer, held);
    return FileStatus::kFailed;
  }
  // The handle kept on the temporary file would keep its name from changing
  // hands; it goes first.
  CloseHandle(HandleOf(held));
  held = -1;
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
  if (!replaced) {
    DeleteFileW(temporary.c_str());
    return GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES ? FileStatus::kChanged
                                                                         : FileStatus::kFailed;
  }
  if (attributes != 0) SetFileAttributesW(target.c_str(), attributes);
  return FileStatus::kOk;
}

HeldTemporary::~HeldTemporary() {
  if (pending_) RemoveTemporary();
  if (held_ >= 0) CloseHandle(HandleOf(held_));
}

FileStatus HeldTemporary::CreateTemporary(const std::string& temporaryName, unsigned permissions) {
  temporaryName_ = temporaryName;
  const FileStatus status =
      CreateHeld(writer_, *directory_, temporaryName, temporary_, permissions, held_);
  pending_ = status == FileStatus::kOk;
  return status;
}

void HeldTemporary::RemoveTemporary() {
  pending_ = false;
  RemoveHeld(writer_, held_);
}

FileStatus HeldTemporary::HoldingInterruptions(const std::function<FileStatus()>& commit) {
  return commit();
}

}  // namespace platform
