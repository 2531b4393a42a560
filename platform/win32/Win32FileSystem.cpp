#include <windows.h>
// <windows.h> renames CreateDirectory; the platform's own function keeps its name.
#undef CreateDirectory
#include <aclapi.h>
#include <winternl.h>

#include <vector>

#include "platform/FileSystem.h"
#include "platform/win32/Win32Native.h"

namespace platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool StartsWith(const std::wstring& text, const wchar_t* head) {
  return text.compare(0, std::char_traits<wchar_t>::length(head), head) == 0;
}

// Opens path (links followed) only to ask about it.
HANDLE OpenForFacts(const std::wstring& path, DWORD access = 0) {
  return CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The name the system keeps for an open file, where it is a path of a
// drive or share ("\??\C:\..."), in the "\\?\" form; empty otherwise.
std::wstring KeptNameOf(HANDLE handle) {
  // Room for the longest name there is (32767 characters) and its header,
  // aligned for the header.
  constexpr std::size_t kRoom = sizeof(OBJECT_NAME_INFORMATION) + 65536;
  std::vector<ULONG_PTR> buffer(kRoom / sizeof(ULONG_PTR) + 1);
  ULONG needed = 0;
  if (NtQueryObject(handle, ObjectNameInformation, buffer.data(), static_cast<ULONG>(kRoom),
                    &needed) != 0) {
    return {};
  }
  const UNICODE_STRING& name =
      reinterpret_cast<const OBJECT_NAME_INFORMATION*>(buffer.data())->Name;
  if (name.Buffer == nullptr) return {};
  std::wstring path(name.Buffer, name.Length / sizeof(wchar_t));
  if (!StartsWith(path, L"\\??\\")) return {};
  path[1] = L'\\';
  return path;
}

// Every "\" that ends a path but the one after a drive ("\\?\C:\") goes.
std::wstring WithoutTrailingSeparator(std::wstring path) {
  while (path.size() > 1 && path.back() == L'\\' && path[path.size() - 2] != L':') path.pop_back();
  return path;
}

bool SamePath(const std::wstring& one, const std::wstring& other) {
  // Names on Windows are compared without regard to case, as the file
  // systems do ("T.PAS" names "t.pas").
  return CompareStringOrdinal(one.data(), static_cast<int>(one.size()), other.data(),
                              static_cast<int>(other.size()), TRUE) == CSTR_EQUAL;
}

EntryKind KindOfAttributes(DWORD attributes) {
  // A link's own attributes say nothing of what it names.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return EntryKind::kUnknown;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::kDirectory : EntryKind::kFile;
}

// Every entry of directory (a path in the "\\?\" form) into entries; false
// when the listing failed (a directory without entries, such as a drive's
// root, has none).
bool ListPattern(const std::wstring& directory, std::vector<DirectoryEntry>& entries) {
  entries.clear();
  if (directory.empty()) return false;
  WIN32_FIND_DATAW found;
  const std::wstring pattern =
      directory + (directory.back() == L'\\' ? std::wstring(L"*") : std::wstring(L"\\*"));
  const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  // A directory removed while the walk held it open (which Windows allows
  // only to another system's hand, as under Wine) has no entries, as on
  // POSIX.
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  do {
    entries.push_back(
        DirectoryEntry{AnsiOf(found.cFileName), KindOfAttributes(found.dwFileAttributes)});
  } while (FindNextFileW(search, &found));
  const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(search);
  return complete;
}

// Error codes that say there is no directory of that name to enter: it has
// gone, is no directory, or may not be listed (which the POSIX walk passes
// over with an empty listing, too). A name too long for the system is none
// of them: it is reported, not passed over.
bool NoDirectoryThere(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_DIRECTORY || error == ERROR_INVALID_NAME || error == ERROR_ACCESS_DENIED;
}

// Opens directory path for the walk: it cannot be renamed or removed while
// it is open, so what is reached through it stays where the walk found it.
Directory::ChildStatus OpenDirectoryHandle(const std::wstring& path, std::intptr_t& value,
                                           FileIdentity& identity) {
  if (path.empty()) return Directory::ChildStatus::kFailed;
  const HANDLE handle =
      CreateFileW(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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

bool IsFilePath(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
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

bool IsDirectoryPath(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The owner of an open file or directory into owner; false when the system
// does not tell it (a file system without security, such as FAT).
bool OwnerOf(HANDLE handle, std::vector<BYTE>& owner) {
  PSID sid = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &sid, nullptr, nullptr,
                      nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool told = sid != nullptr && IsValidSid(sid);
  if (told) {
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    owner.assign(bytes, bytes + GetLengthSid(sid));
  }
  LocalFree(descriptor);
  return told;
}

// The user this process runs as.
const std::vector<BYTE>& ProcessUser() {
  static const std::vector<BYTE> user = [] {
    std::vector<BYTE> sid;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return sid;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
      const PSID own = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
      const BYTE* bytes = static_cast<const BYTE*>(own);
      sid.assign(bytes, bytes + GetLengthSid(own));
    }
    CloseHandle(token);
    return sid;
  }();
  return user;
}

// Whether the link at path may be followed: it belongs to the user running
// the program, to the system or the administrators (the counterpart of
// root), or to the owner of what it leads to. A link that another user
// planted to lead to someone else's file or directory is not. Where the
// system tells no owner, there are no other users to tell apart.
bool LinkMayBeFollowed(const std::wstring& path) {
  const HANDLE link =
      CreateFileW(path.c_str(), READ_CONTROL, kShareAll, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (link == INVALID_HANDLE_VALUE) return false;
  std::vector<BYTE> linkOwner;
  const bool told = OwnerOf(link, linkOwner);
  CloseHandle(link);
  if (!told) return true;
  const PSID owner = linkOwner.data();
  if (linkOwner == ProcessUser() || IsWellKnownSid(owner, WinLocalSystemSid) ||
      IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) {
    return true;
  }
  const HANDLE target = OpenForFacts(path, READ_CONTROL);
  if (target == INVALID_HANDLE_VALUE) return false;
  std::vector<BYTE> targetOwner;
  const bool same = OwnerOf(target, targetOwner) && targetOwner == linkOwner;
  CloseHandle(target);
  return same;
}

}  // namespace

std::wstring WideOf(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), size, &wide[0], length);
  return wide;
}

std::string AnsiOf(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  if (length > 0) {
    WideCharToMultiByte(CP_ACP, 0, text.data(), size, &ansi[0], length, nullptr, nullptr);
  }
  return ansi;
}

std::wstring LongPath(const std::string& path) {
  if (path.empty()) return {};
  std::wstring wide = WideOf(path);
  // The long form is taken as it is; so is a device ("\\.\").
  if (StartsWith(wide, L"\\\\?\\") || StartsWith(wide, L"\\\\.\\")) return wide;
  // The wide function makes any path whole, however long; it also turns
  // "/" into "\" and takes "." and ".." away, which the long form would
  // keep as names.
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    if (length == 0) return {};
    if (length < full.size()) {
      full.resize(length);
      break;
    }
    full.resize(length + 1);
  }
  if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::string ShortForm(const std::wstring& path) {
  if (StartsWith(path, L"\\\\?\\UNC\\")) return "\\\\" + AnsiOf(path.substr(8));
  if (StartsWith(path, L"\\\\?\\")) return AnsiOf(path.substr(4));
  return AnsiOf(path);
}

std::wstring FinalPathOf(HANDLE handle) {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (;;) {
    const DWORD length =
        GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) break;
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    // Too small: length is the room needed.
    buffer.resize(length + 1);
  }
  // Wine answers only for paths that fit in MAX_PATH (ERROR_MORE_DATA
  // however large the buffer); the name it keeps for the handle is the
  // same path.
  return KeptNameOf(handle);
}

bool IsNamedEntry(HANDLE handle, const std::wstring& path) {
  const std::wstring final = FinalPathOf(handle);
  return !final.empty() &&
         SamePath(WithoutTrailingSeparator(final), WithoutTrailingSeparator(path));
}

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

std::wstring DirectoryPath(HANDLE directory) {
  if (directory == INVALID_HANDLE_VALUE) return {};
  return FinalPathOf(directory);
}

std::wstring DirectoryPath(const Directory& directory) {
  return DirectoryPath(NativeAccess::Handle(directory));
}

std::wstring PathIn(const Directory& directory, const std::string& name) {
  std::wstring path = DirectoryPath(directory);
  if (path.empty()) return path;
  if (path.back() != L'\\') path += L'\\';
  return path + WideOf(name);
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

bool ReadNativeFile(const std::string& nativePath, std::string& text) {
  const std::wstring path = LongPath(nativePath);
  if (path.empty()) return false;
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  text.clear();
  std::vector<char> buffer(65536);
  DWORD n = 0;
  bool read = true;
  while ((read = ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr)) &&
         n > 0) {
    text.append(buffer.data(), n);
  }
  CloseHandle(file);
  return read;
}

bool IsFile(const std::string& path) { return IsFilePath(LongPath(path)); }

bool IsDirectory(const std::string& path) {
  return IsDirectoryPath(LongPath(path.empty() ? "." : path));
}

bool CreateDirectory(const std::string& path) {
  const std::wstring wide = LongPath(path);
  return !wide.empty() && CreateDirectoryW(wide.c_str(), nullptr);
}

std::string FinalTarget(const std::string& path) {
  const std::wstring wide = LongPath(path);
  const HANDLE handle = OpenForFacts(wide);
  if (handle == INVALID_HANDLE_VALUE) return path;
  const std::wstring final = FinalPathOf(handle);
  CloseHandle(handle);
  // A path that names the file itself stays as the user wrote it.
  if (final.empty() || SamePath(final, wide)) return path;
  return ShortForm(final);
}

void Directory::Close() {
  if (handle_ >= 0) CloseHandle(HandleOf(handle_));
  handle_ = -1;
}

bool Directory::Open(const std::string& path) {
  Close();
  return OpenDirectoryHandle(LongPath(path.empty() ? "." : path), handle_, identity_) ==
         ChildStatus::kOpened;
}

Directory::ChildStatus Directory::OpenChild(const Directory& parent, const std::string& name) {
  Close();
  // Without the parent's path nothing below it can be named: that is a
  // failure to report, never a directory to pass over.
  const std::wstring path = PathIn(parent, name);
  if (path.empty()) return ChildStatus::kFailed;
  // No name on Windows holds "?": the listing put it where a character of
  // the name has none in the ANSI code page, so the directory cannot be
  // named.
  if (name.find('?') != std::string::npos) return ChildStatus::kFailed;
  // A directory link is followed unless another user planted it; the walk
  // enters each directory once.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
      !LinkMayBeFollowed(path)) {
    return ChildStatus::kNoDirectory;
  }
  return OpenDirectoryHandle(path, handle_, identity_);
}

bool Directory::List(std::vector<DirectoryEntry>& entries) const {
  entries.clear();
  if (handle_ < 0) return false;
  return ListPattern(DirectoryPath(*this), entries);
}

EntryKind Directory::KindOf(const std::string& name) const {
  if (handle_ < 0) return EntryKind::kUnknown;
  const std::wstring path = PathIn(*this, name);
  if (path.empty()) return EntryKind::kUnknown;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::kUnknown;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return KindOfAttributes(attributes);
  if (IsFilePath(path)) return EntryKind::kFile;
  return IsDirectoryPath(path) ? EntryKind::kDirectory : EntryKind::kUnknown;
}

bool Directory::Holds(const std::string& name) const {
  if (handle_ < 0) return false;
  const std::wstring path = PathIn(*this, name);
  if (path.empty()) return false;
  // A name that holds a wildcard would be a pattern to the search.
  if (name.find_first_of("*?") != std::string::npos) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  // The entry itself is looked up, so that a link leading nowhere counts.
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

bool LocateFile(const Directory& directory, const std::string& name, Directory& home,
                std::string& homeName) {
  const std::wstring path = PathIn(directory, name);
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && !LinkMayBeFollowed(path)) return false;
  // The system follows the whole chain of links, and the final path of
  // what it opened tells where the file is (Wine shows a Unix symbolic link
  // to a file as a plain file: its final path is the only sign). The file
  // is rewritten there, in its own directory.
  const HANDLE handle = OpenForFacts(path);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FileFacts facts{};
  const std::wstring final =
      FactsOf(handle, facts) && (facts.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0
          ? FinalPathOf(handle)
          : std::wstring();
  CloseHandle(handle);
  const std::wstring::size_type slash = final.rfind(L'\\');
  if (slash == std::wstring::npos || slash + 1 == final.size()) return false;
  homeName = AnsiOf(final.substr(slash + 1));
  // A drive's root keeps its backslash ("\\?\C:\").
  const std::wstring folder =
      final.substr(0, slash + (slash > 0 && final[slash - 1] == L':' ? 1 : 0));
  home.Close();
  return OpenDirectoryHandle(folder, NativeAccess::Value(home), NativeAccess::Identity(home)) ==
         Directory::ChildStatus::kOpened;
}

namespace {

FileProblem ReplacePathProblem(const std::wstring& path) {
  if (path.empty()) return FileProblem::kFailed;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileProblem::kMissing
                                                                          : FileProblem::kFailed;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FileProblem::kDirectory;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return FileProblem::kLink;
  // The read-only attribute: the file cannot be edited.
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return FileProblem::kNotWritable;
  // The file's access rights and whoever holds it open without sharing;
  // and a link, which replacing would turn into a file.
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED) return FileProblem::kNotWritable;
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
      return FileProblem::kLocked;
    }
    return FileProblem::kFailed;
  }
  const bool itself = IsNamedEntry(handle, path);
  CloseHandle(handle);
  return itself ? FileProblem::kNone : FileProblem::kLink;
}

}  // namespace

FileProblem ReplaceProblem(const Directory& directory, const std::string& name) {
  return ReplacePathProblem(PathIn(directory, name));
}

}  // namespace platform
