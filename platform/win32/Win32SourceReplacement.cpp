#include <windows.h>

#include "base/Exception.h"
#include "platform/FileSystem.h"
#include "platform/SourceReplacement.h"
#include "platform/win32/Win32Native.h"

namespace platform {

FileStatus SourceReplacement::Create(const std::string& temporaryName) {
  return CreateTemporary(temporaryName, 0600);
}

// The temporary file carries no mark here (see RemoveLeftoverTemporary).
bool SourceReplacement::NoteLog(const TextWriter&) { return false; }

void SourceReplacement::Complete() { CompleteHeld(writer_); }

FileStatus SourceReplacement::Commit() {
  return CommitWith([this] { Complete(); }, [this] { return Swap(); });
}

FileStatus SourceReplacement::Swap() {
  const std::wstring temporary = PathIn(*directory_, temporaryName_);
  std::wstring target = PathIn(*directory_, target_);
  // The file keeps its name as it is on disk, which the source's handle
  // tells: a name given in another letter case ("T.PAS" for "t.pas") would
  // otherwise become the new file's name under Wine.
  if (IsNamedEntry(NativeAccess::Handle(*source_), target)) {
    target = FinalPathOf(NativeAccess::Handle(*source_));
  }
  // Windows cannot exchange two names in one step: the check that the name
  // still holds the file that was read, unchanged, comes just before the
  // replacement.
  if (!source_->StillAt(*directory_, target_)) {
    RemoveTemporary();
    return FileStatus::kChanged;
  }
  // The attributes (read-only aside, which no source here has) go over
  // with the text; ReplaceFile keeps them on Windows, Wine's does not.
  FileFacts facts{};
  const DWORD attributes =
      FactsOf(NativeAccess::Handle(*source_), facts)
          ? facts.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
          : 0;
  const FileStatus status = PutInPlace(writer_, held_, target, temporary, attributes);
  pending_ = false;
  return status;
}

// A temporary file left by a run that was killed cannot be told from
// anyone else's file here: it has no mark (the file systems that Windows
// reads need not keep extended attributes). It is left alone.
LeftoverStatus RemoveLeftoverTemporary(const Directory&, const std::string&, const std::string&,
                                       const Directory&, const std::string&) {
  return LeftoverStatus::kKept;
}

}  // namespace platform
