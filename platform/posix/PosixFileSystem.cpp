#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/FileSystem.h"

namespace platform {

std::string NativePath(const std::string& path) {
  std::string result = path;
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  return result;
}

bool IsFile(const std::string& path) {
  struct stat info {};
  return stat(NativePath(path).c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return stat(NativePath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<DirectoryEntry> ListDirectory(const std::string& directory) {
  std::vector<DirectoryEntry> entries;
  std::string native = NativePath(directory);
  if (native.empty()) native = ".";
  DIR* dir = opendir(native.c_str());
  if (dir == nullptr) return entries;
  while (const struct dirent* entry = readdir(dir)) {
    EntryKind kind = EntryKind::kUnknown;
#ifdef _DIRENT_HAVE_D_TYPE
    if (entry->d_type == DT_REG) kind = EntryKind::kFile;
    if (entry->d_type == DT_DIR) kind = EntryKind::kDirectory;
#endif
    entries.push_back(DirectoryEntry{entry->d_name, kind});
  }
  closedir(dir);
  return entries;
}

bool GetIdentity(const std::string& path, FileIdentity& identity) {
  struct stat info {};
  if (stat(NativePath(path).c_str(), &info) != 0) return false;
  identity.device = static_cast<std::uint64_t>(info.st_dev);
  identity.inode = static_cast<std::uint64_t>(info.st_ino);
  return true;
}

bool CreateDirectory(const std::string& path) {
  return mkdir(NativePath(path).c_str(), 0777) == 0;
}

std::string FinalTarget(const std::string& path) {
  const std::string native = NativePath(path);
  struct stat info {};
  if (lstat(native.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char* resolved = realpath(native.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string result = resolved;
  free(resolved);
  return result;
}

namespace {

std::string DirectoryOf(const std::string& native) {
  const std::string::size_type slash = native.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return native.substr(0, slash);
}

}  // namespace

bool CanReplaceFile(const std::string& path) {
  const std::string native = NativePath(FinalTarget(path));
  struct stat info {};
  if (stat(native.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
  // No write bit at all is the read-only attribute; it holds for root too.
  if ((info.st_mode & 0222) == 0) return false;
  if (access(native.c_str(), W_OK) != 0) return false;
  return access(DirectoryOf(native).c_str(), W_OK | X_OK) == 0;
}

bool RemoveFile(const std::string& path) { return unlink(NativePath(path).c_str()) == 0; }

ScanResult ScanFileFor(const std::string& path, const std::string& needle) {
  // O_NONBLOCK so that a FIFO without a writer does not hang the open; only
  // regular files are text files here.
  const int fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return ScanResult::kCannotOpen;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return ScanResult::kCannotOpen;
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  constexpr std::size_t kChunk = std::size_t{256} * 1024;
  static thread_local std::string buffer;
  const std::size_t keep = needle.empty() ? 0 : needle.size() - 1;
  buffer.resize(kChunk + keep);
  std::size_t carried = 0;
  // A CR ended the previous chunk; whether it stands alone depends on the
  // first byte of this one.
  bool crPending = false;
  ScanResult result = ScanResult::kAbsent;
  for (;;) {
    const ssize_t n = read(fd, &buffer[carried], kChunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      // An unreadable file may still hold the needle; let the full reading
      // report the failure.
      result = ScanResult::kPresent;
      break;
    }
    if (n == 0) break;
    const std::size_t filled = carried + static_cast<std::size_t>(n);
    if (memmem(buffer.data(), filled, needle.data(), needle.size()) != nullptr) {
      result = ScanResult::kPresent;
      break;
    }
    // Reading as text drops a CR that no LF follows, which can join the
    // needle ("CV<CR>S*"): such a file counts as holding it.
    const char* fresh = buffer.data() + carried;
    const char* const end = buffer.data() + filled;
    if (crPending && *fresh != '\n') {
      result = ScanResult::kPresent;
      break;
    }
    crPending = false;
    bool loneCr = false;
    while (const char* cr = static_cast<const char*>(memchr(fresh, '\r', static_cast<std::size_t>(end - fresh)))) {
      if (cr + 1 == end) {
        crPending = true;
        break;
      }
      if (cr[1] != '\n') {
        loneCr = true;
        break;
      }
      fresh = cr + 2;
    }
    if (loneCr) {
      result = ScanResult::kPresent;
      break;
    }
    carried = filled < keep ? filled : keep;
    memmove(&buffer[0], &buffer[filled - carried], carried);
  }
  close(fd);
  return result;
}

}  // namespace platform
