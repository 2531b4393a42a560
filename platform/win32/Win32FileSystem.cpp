#include <windows.h>
// <windows.h> renames CreateDirectory; the platform's own function keeps its name.
#undef CreateDirectory

#include <vector>

#include "platform/FileSystem.h"
#include "platform/win32/Win32Native.h"

namespace platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens path (links followed) only to ask about it.
HANDLE OpenForFacts(const std::string& path) {
  return CreateFileA(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                     nullptr);
}

// The final path of an open file or directory, without the "\\?\" prefix
// when noPrefix is set; empty when it cannot be told.
std::string FinalPathOf(HANDLE handle, bool noPrefix) {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetFinalPathNameByHandleA(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return {};
    if (length < buffer.size()) {
      std::string path(buffer.data(), length);
      if (noPrefix && path.rfind("\\\\?\\", 0) == 0) path.erase(0, 4);
      return path;
    }
    buffer.resize(length + 1);
  }
}

EntryKind KindOfAttributes(DWORD attributes) {
  // A link's own attributes say nothing of what it names.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return EntryKind::kUnknown;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::kDirectory : EntryKind::kFile;
}

// Every entry of directory into entries; false when the listing failed
// (a directory without entries, such as a drive's root, has none).
bool ListPattern(const std::string& directory, std::vector<DirectoryEntry>& entries) {
  entries.clear();
  WIN32_FIND_DATAA found;
  const std::string pattern = (directory.empty() ? std::string(".") : directory) + "\\*";
  const HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  // A directory removed while the walk held it open (which Windows allows
  // only to another system's hand, as under Wine) has no entries, as on
  // POSIX.
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  do {
    entries.push_back(DirectoryEntry{found.cFileName, KindOfAttributes(found.dwFileAttributes)});
  } while (FindNextFileA(search, &found));
  const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(search);
  return complete;
}

// Error codes that say there is no directory of that name to enter: it has
// gone, is no directory, or may not be listed (which the POSIX walk passes
// over with an empty listing, too).
bool NoDirectoryThere(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_DIRECTORY || error == ERROR_INVALID_NAME || error == ERROR_ACCESS_DENIED;
}

// Opens directory path for the walk: it cannot be renamed or removed while
// it is open, so what is reached through it stays where the walk found it.
Directory::ChildStatus OpenDirectoryHandle(const std::string& path, std::intptr_t& value,
                                           FileIdentity& identity) {
  const HANDLE handle =
      CreateFileA(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return NoDirectoryThere(GetLastError()) ? Directory::ChildStatus::kNoDirectory
                                            : Directory::ChildStatus::kFailed;
  }
  FileFacts facts{};
  if (!FactsOf(handle, facts) || (facts.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    CloseHandle(handle);
    return Directory::ChildStatus::kNoDirectory;
  }
  value = ValueOf(handle);
  identity = facts.identity;
  return Directory::ChildStatus::kOpened;
}

}  // namespace

bool FactsOf(HANDLE handle, FileFacts& facts) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  facts.identity = FileIdentity{info.dwVolumeSerialNumber,
                                (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
  facts.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  facts.modified =
      static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                info.ftLastWriteTime.dwLowDateTime);
  facts.attributes = info.dwFileAttributes;
  facts.links = info.nNumberOfLinks;
  return true;
}

std::string DirectoryPath(HANDLE directory) {
  if (directory == INVALID_HANDLE_VALUE) return {};
  return FinalPathOf(directory, false);
}

std::string DirectoryPath(const Directory& directory) {
  return DirectoryPath(NativeAccess::Handle(directory));
}

std::string PathIn(const Directory& directory, const std::string& name) {
  std::string path = DirectoryPath(directory);
  if (!path.empty() && path.back() != '\\') path += '\\';
  return path + name;
}

// Windows takes backslashes as they are.
std::string NativePath(const std::string& path) { return path; }

bool SystemPathOf(const std::string& nativePath, std::string& path) {
  // Both separate directories here; a system path writes backslashes.
  path = nativePath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return true;
}

bool IsFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }
  const HANDLE handle = OpenForFacts(path);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FileFacts facts{};
  const bool file = FactsOf(handle, facts) && (facts.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  CloseHandle(handle);
  return file;
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.empty() ? "." : path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<DirectoryEntry> ListDirectory(const std::string& directory) {
  std::vector<DirectoryEntry> entries;
  if (!ListPattern(directory, entries)) entries.clear();
  return entries;
}

bool GetIdentity(const std::string& path, FileIdentity& identity) {
  const HANDLE handle = OpenForFacts(path.empty() ? "." : path);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FileFacts facts{};
  const bool known = FactsOf(handle, facts);
  CloseHandle(handle);
  if (known) identity = facts.identity;
  return known;
}

bool CreateDirectory(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr); }

std::string FinalTarget(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return path;
  }
  const HANDLE handle = OpenForFacts(path);
  if (handle == INVALID_HANDLE_VALUE) return path;
  const std::string target = FinalPathOf(handle, true);
  CloseHandle(handle);
  return target.empty() ? path : target;
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()); }

void Directory::Close() {
  if (handle_ >= 0) CloseHandle(HandleOf(handle_));
  handle_ = -1;
}

bool Directory::Open(const std::string& path) {
  Close();
  return OpenDirectoryHandle(path.empty() ? "." : path, handle_, identity_) == ChildStatus::kOpened;
}

Directory::ChildStatus Directory::OpenChild(const Directory& parent, const std::string& name) {
  Close();
  // A directory link is followed; the walk enters each directory once.
  return OpenDirectoryHandle(PathIn(parent, name), handle_, identity_);
}

bool Directory::List(std::vector<DirectoryEntry>& entries) const {
  entries.clear();
  if (handle_ < 0) return false;
  const std::string path = DirectoryPath(*this);
  return !path.empty() && ListPattern(path, entries);
}

EntryKind Directory::KindOf(const std::string& name) const {
  if (handle_ < 0) return EntryKind::kUnknown;
  const std::string path = PathIn(*this, name);
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::kUnknown;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return KindOfAttributes(attributes);
  if (IsFile(path)) return EntryKind::kFile;
  return IsDirectory(path) ? EntryKind::kDirectory : EntryKind::kUnknown;
}

bool Directory::Holds(const std::string& name) const {
  return handle_ >= 0 && GetFileAttributesA(PathIn(*this, name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool LocateFile(const Directory& directory, const std::string& name, Directory& home,
                std::string& homeName) {
  const std::string path = PathIn(directory, name);
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  std::string final = path;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // The system follows the whole chain of links; the file it ends at is
    // rewritten in its own directory.
    const HANDLE handle = OpenForFacts(path);
    if (handle == INVALID_HANDLE_VALUE) return false;
    FileFacts facts{};
    final = FactsOf(handle, facts) && (facts.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0
                ? FinalPathOf(handle, false)
                : std::string();
    CloseHandle(handle);
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  const std::string::size_type slash = final.rfind('\\');
  if (slash == std::string::npos) return false;
  homeName = final.substr(slash + 1);
  return home.Open(final.substr(0, slash + (slash > 0 && final[slash - 1] == ':' ? 1 : 0)));
}

namespace {

bool CanReplacePath(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  // The read-only attribute: the file cannot be edited.
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes &
       (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return false;
  }
  // The file's access rights and whoever holds it open without sharing.
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

}  // namespace

bool CanReplaceFile(const Directory& directory, const std::string& name) {
  return CanReplacePath(PathIn(directory, name));
}

// A temporary file left by a run that was killed cannot be told from
// anyone else's file here: it has no mark (the file systems that Windows
// reads need not keep extended attributes). It is left alone.
LeftoverStatus RemoveLeftoverTemporary(const Directory&, const std::string&, const std::string&,
                                       const Directory&, const std::string&) {
  return LeftoverStatus::kKept;
}

}  // namespace platform
