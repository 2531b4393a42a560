#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/FileSystem.h"
#include "platform/TextScan.h"

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

bool CreateDirectory(const std::string& path) { return mkdir(NativePath(path).c_str(), 0777) == 0; }

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
  const std::string native = NativePath(path);
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
  constexpr std::size_t kChunk = std::size_t{256} * 1024;
  // Most sources fit in one read: spare them the advice and the read that
  // only finds the end.
  if (static_cast<std::size_t>(info.st_size) > kChunk) {
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  const std::size_t size = static_cast<std::size_t>(info.st_size);
  std::size_t total = 0;
  // The tail of one chunk is kept before the next, so that a needle split
  // between two reads is found; CRs inside it may need a few bytes more.
  constexpr std::size_t kKeep = 64;
  static thread_local std::string buffer;
  buffer.resize(kChunk + kKeep);
  std::size_t carried = 0;
  bool atFileStart = true;
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
    total += static_cast<std::size_t>(n);
    const std::size_t filled = carried + static_cast<std::size_t>(n);
    // Undecided only after a pathological run of CRs: count it as present,
    // and the full reading decides.
    if (FindTextNeedle(buffer.data(), filled, needle, atFileStart) != NeedleFound::kNo) {
      result = ScanResult::kPresent;
      break;
    }
    if (total == size) break;
    const std::size_t keep = filled < kKeep ? filled : kKeep;
    atFileStart = atFileStart && keep == filled;
    memmove(&buffer[0], &buffer[filled - keep], keep);
    carried = keep;
  }
  close(fd);
  return result;
}

}  // namespace platform
