#include <windows.h>

#include <cstring>

#include "base/Exception.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "platform/win32/Win32Error.h"
#include "platform/win32/Win32Native.h"
#include "text/ShownName.h"
#include "text/TextScan.h"

namespace platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The name is quoted when it holds a control character (text::ShownName).
std::string SystemError(const std::string& action, const std::string& path) {
  const std::string reason = Win32ErrorText(GetLastError());
  return action + " " + text::ShownName(path) + ": " + reason;
}

// The failure to write the file shown as path, after a call that failed.
FileError WriteError(const std::string& path) {
  const DWORD error = GetLastError();
  const FileProblem problem = error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL
                                  ? FileProblem::kDiskFull
                                  : FileProblem::kFailed;
  return FileError(SystemError("Cannot write", path), problem, path);
}

// Why a log could not be opened for appending, from the error of its open.
FileProblem OpenProblem(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return FileProblem::kNotWritable;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return FileProblem::kLocked;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return FileProblem::kDiskFull;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return FileProblem::kMissing;
    default:
      return FileProblem::kFailed;
  }
}

// Writers of one file take turns through a lock on one byte far behind any
// text: locks on Windows keep others from reading what they cover, and a
// reader of the log must not be kept out.
bool LockTurn(HANDLE handle, DWORD flags) {
  OVERLAPPED at{};
  at.Offset = 0xFFFFFFFE;
  at.OffsetHigh = 0x7FFFFFFF;
  return LockFileEx(handle, flags, 0, 1, 0, &at);
}

// Takes an exclusive lock on the file, waiting for it a while (waited says
// so): a run holds the lock of a log for a moment, and a lock held longer is
// not waited out.
bool LockForAWhile(HANDLE handle, bool& waited) {
  waited = false;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    if (LockTurn(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY)) return true;
    waited = true;
    if (GetLastError() != ERROR_LOCK_VIOLATION) return false;
    Sleep(10);
  }
  return false;
}

bool WriteAll(HANDLE handle, const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

bool SetLength(HANDLE handle, std::uint64_t length) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(length);
  return SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
}

}  // namespace

bool TextReader::Open(const std::string& path, std::size_t holdLimit) {
  Close();
  name_ = path;
  // Shared for deleting, so that the file can be replaced while it is read.
  const HANDLE handle = CreateFileW(LongPath(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return Adopt(static_cast<int>(ValueOf(handle)), holdLimit);
}

bool TextReader::Open(const Directory& directory, const std::string& name, std::size_t holdLimit) {
  Close();
  name_ = name;
  // The link itself, never what it names: a link is no file to read here
  // (LocateFile finds the file it names). Windows opens the link; Wine
  // opens the file a Unix symbolic link names, which only its final path
  // tells.
  const std::wstring path = PathIn(directory, name);
  const HANDLE handle =
      CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                  FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle != INVALID_HANDLE_VALUE && !IsNamedEntry(handle, path)) {
    CloseHandle(handle);
    return false;
  }
  return Adopt(static_cast<int>(ValueOf(handle)), holdLimit);
}

bool TextReader::Adopt(int fd, std::size_t holdLimit) {
  if (fd < 0) return false;
  FileFacts facts{};
  if (!FactsOf(HandleOf(fd), facts) ||
      (facts.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      GetFileType(HandleOf(fd)) != FILE_TYPE_DISK) {
    CloseHandle(HandleOf(fd));
    return false;
  }
  size_ = facts.size;
  identity_ = facts.identity;
  modified_ = facts.modified;
  // The read-only attribute is the only permission a file has here.
  permissions_ = (facts.attributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
  Start(fd, holdLimit);
  return true;
}

bool TextReader::StillAt(const Directory& directory, const std::string& name) const {
  // The name must still be the file itself: a link put in its place, even
  // to the same file, would be replaced by a file.
  const std::wstring path = PathIn(directory, name);
  const HANDLE handle = CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FileFacts facts{};
  const bool same = FactsOf(handle, facts) && facts.identity == identity_ &&
                    (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
                    IsNamedEntry(handle, path);
  CloseHandle(handle);
  return same && Unchanged();
}

bool TextReader::Unchanged() const {
  FileFacts facts{};
  return fd_ >= 0 && FactsOf(HandleOf(fd_), facts) && facts.size == size_ &&
         facts.modified == modified_;
}

void TextReader::Close() {
  if (fd_ >= 0) CloseHandle(HandleOf(fd_));
  Reset();
}

std::size_t TextReader::ReadSome(char* into, std::size_t room) {
  DWORD n = 0;
  if (!ReadFile(HandleOf(fd_), into, static_cast<DWORD>(room), &n, nullptr)) {
    throw Exception(SystemError("Cannot read", name_));
  }
  return n;
}

bool TextReader::MoveTo(std::uint64_t offset) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(HandleOf(fd_), at, nullptr, FILE_BEGIN) != 0;
}

namespace {

// Creates a new file, never through a link and never over anything that is
// there: kExists then. Shared for reading only, so that no one else writes it
// while it is open, and for deleting, so that it can take another's name.
FileStatus CreateNew(const std::wstring& path, HANDLE& handle) {
  handle = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                       nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                       nullptr);
  if (handle != INVALID_HANDLE_VALUE) return FileStatus::kOk;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? FileStatus::kExists
                                                                     : FileStatus::kFailed;
}

}  // namespace

FileStatus TextWriter::CreateExclusive(const Directory& directory, const std::string& name,
                                       unsigned) {
  Abandon();
  // A new file takes the access rights that its directory passes on.
  HANDLE handle = INVALID_HANDLE_VALUE;
  const FileStatus status = CreateNew(PathIn(directory, name), handle);
  if (status == FileStatus::kOk) Adopt(static_cast<int>(ValueOf(handle)), name);
  return status;
}

FileProblem TextWriter::OpenAppend(const Directory& directory, const std::string& name, unsigned) {
  Abandon();
  // A link planted in the log's place is not followed. A log is created
  // only where none is, so that Undo knows whether to remove it.
  const std::wstring path = PathIn(directory, name);
  // No right to delete: a reader of the log need not share that.
  constexpr DWORD kAccess = GENERIC_WRITE;
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  bool created = false;
  HANDLE handle = INVALID_HANDLE_VALUE;
  FileFacts facts{};
  for (int attempt = 0; handle == INVALID_HANDLE_VALUE && attempt < 10; ++attempt) {
    handle = CreateFileW(path.c_str(), kAccess, kShare, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    created = false;
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
      handle = CreateFileW(path.c_str(), kAccess, kShare, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      created = handle != INVALID_HANDLE_VALUE;
      if (!created && GetLastError() == ERROR_FILE_EXISTS) continue;
    }
    if (handle == INVALID_HANDLE_VALUE) return OpenProblem(GetLastError());
    // Runs at once over one tree take turns at a log; its length is taken
    // once the turn has come. A log with a second name may be someone
    // else's file linked in its place; it is not written, nor is a log that
    // is a link (which Wine opens as the file it names).
    FileProblem problem = FileProblem::kNone;
    bool waited = false;
    if (!FactsOf(handle, facts)) {
      problem = FileProblem::kFailed;
    } else if ((facts.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      problem = FileProblem::kDirectory;
    } else if ((facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
               !IsNamedEntry(handle, path)) {
      problem = FileProblem::kLink;
    } else if (facts.links > 1) {
      problem = FileProblem::kSecondName;
    } else if (!LockForAWhile(handle, waited)) {
      problem =
          GetLastError() == ERROR_LOCK_VIOLATION ? FileProblem::kLocked : FileProblem::kFailed;
    } else if (waited && !FactsOf(handle, facts)) {
      problem = FileProblem::kFailed;
    }
    if (problem != FileProblem::kNone) {
      CloseHandle(handle);
      return problem;
    }
  }
  if (handle == INVALID_HANDLE_VALUE) return FileProblem::kFailed;
  LARGE_INTEGER end{};
  if (!SetFilePointerEx(handle, end, nullptr, FILE_END)) {
    CloseHandle(handle);
    return FileProblem::kFailed;
  }
  Adopt(static_cast<int>(ValueOf(handle)), name);
  startLength_ = facts.size;
  HANDLE createdIn = INVALID_HANDLE_VALUE;
  if (created &&
      DuplicateHandle(GetCurrentProcess(), NativeAccess::Handle(directory), GetCurrentProcess(),
                      &createdIn, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    createdIn_ = static_cast<int>(ValueOf(createdIn));
  }
  return FileProblem::kNone;
}

bool TextWriter::Undo() {
  if (fd_ < 0) return false;
  used_ = 0;
  bool done = false;
  if (createdIn_ >= 0) {
    // Removed only while its name still holds the file this writer created.
    const std::wstring folder = DirectoryPath(HandleOf(createdIn_));
    const std::wstring path =
        folder.empty() ? folder : folder + (folder.back() == L'\\' ? L"" : L"\\") + WideOf(path_);
    const HANDLE named = CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    FileFacts mine{};
    FileFacts found{};
    if (named != INVALID_HANDLE_VALUE) {
      const bool same =
          FactsOf(HandleOf(fd_), mine) && FactsOf(named, found) && mine.identity == found.identity;
      CloseHandle(named);
      done = same && DeleteFileW(path.c_str());
    }
  }
  if (!done) done = SetLength(HandleOf(fd_), startLength_);
  Abandon();
  return done;
}

void TextWriter::WriteOut(const char* data, std::size_t size) {
  if (!WriteAll(HandleOf(fd_), data, size)) throw WriteError(shown_);
}

void TextWriter::SyncFile() {
  if (!FlushFileBuffers(HandleOf(fd_))) throw WriteError(shown_);
}

bool TextWriter::CopyFromFile(const TextReader& source, std::uint64_t from, std::uint64_t to) {
  const HANDLE sourceHandle = NativeAccess::Handle(source);
  if (sourceHandle == INVALID_HANDLE_VALUE) return false;
  Flush();
  std::uint64_t at = from;
  std::uint64_t left = to - from;
  // Read at an offset, so that the reader's own position stays as it was.
  while (left > 0) {
    const DWORD chunk = left < kTextBufferSize ? static_cast<DWORD>(left) : kTextBufferSize;
    OVERLAPPED offset{};
    offset.Offset = static_cast<DWORD>(at);
    offset.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD n = 0;
    if (!ReadFile(sourceHandle, buffer_.get(), chunk, &n, &offset) || n == 0) return false;
    used_ = n;
    Flush();
    at += n;
    left -= n;
  }
  return true;
}

void TextWriter::CloseFile() {
  const HANDLE handle = HandleOf(fd_);
  fd_ = -1;
  if (createdIn_ >= 0) CloseHandle(HandleOf(createdIn_));
  createdIn_ = -1;
  if (!CloseHandle(handle)) throw WriteError(shown_);
}

void TextWriter::Abandon() {
  memory_ = nullptr;
  if (fd_ >= 0) CloseHandle(HandleOf(fd_));
  fd_ = -1;
  used_ = 0;
  if (createdIn_ >= 0) CloseHandle(HandleOf(createdIn_));
  createdIn_ = -1;
}

// The log's end is not read back here: a log on Windows is opened for
// writing only.
bool TextWriter::ReadEnd(std::uint64_t, const std::function<bool(std::string_view)>&) const {
  return false;
}

// Windows gives a new log the permissions of its folder; who may read it is
// the folder's matter, not the tool's.
FileProblem LogProblem(TextWriter&, const TextReader&) { return FileProblem::kNone; }
FileProblem LogProblem(const TextReader&, const TextReader&) { return FileProblem::kNone; }

}  // namespace platform
