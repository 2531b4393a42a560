#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace platform
