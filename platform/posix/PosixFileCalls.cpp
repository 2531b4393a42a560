// The system's file calls: each operation of FileCalls is the system call
// it names.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/posix/FileCalls.h"

namespace platform {

namespace {

class SystemFileCalls final : public FileCalls {
 public:
  int OpenAt(int at, const char* name, int flags, mode_t mode) override {
    return openat(at, name, flags, mode);
  }
  int Close(int fd) override { return close(fd); }
  int Duplicate(int fd) override { return fcntl(fd, F_DUPFD_CLOEXEC, 0); }
  int StatusFlags(int fd) override { return fcntl(fd, F_GETFL); }
  ssize_t Read(int fd, void* into, std::size_t size) override { return read(fd, into, size); }
  ssize_t ReadAt(int fd, void* into, std::size_t size, off_t offset) override {
    return pread(fd, into, size, offset);
  }
  ssize_t Write(int fd, const void* data, std::size_t size) override {
    return write(fd, data, size);
  }
  off_t Seek(int fd, off_t offset, int whence) override { return lseek(fd, offset, whence); }
  int Status(int fd, struct stat* info) override { return fstat(fd, info); }
  int StatusAt(int at, const char* name, struct stat* info, int flags) override {
    return fstatat(at, name, info, flags);
  }
  int Truncate(int fd, off_t length) override { return ftruncate(fd, length); }
  int SyncData(int fd) override { return fdatasync(fd); }
  int Sync(int fd) override { return fsync(fd); }
  int Lock(int fd, int operation) override { return flock(fd, operation); }
  int ChangeMode(int fd, mode_t mode) override { return fchmod(fd, mode); }
  int ChangeOwner(int fd, uid_t owner, gid_t group) override { return fchown(fd, owner, group); }
  int AccessAt(int at, const char* name, int mode, int flags) override {
    return faccessat(at, name, mode, flags);
  }
  int MakeDirectoryAt(int at, const char* name, mode_t mode) override {
    return mkdirat(at, name, mode);
  }
  int UnlinkAt(int at, const char* name, int flags) override { return unlinkat(at, name, flags); }
  int RenameAt(int from, const char* fromName, int to, const char* toName,
               unsigned flags) override {
    if (flags == 0) return renameat(from, fromName, to, toName);
    return renameat2(from, fromName, to, toName, flags);
  }
  int LinkAt(int from, const char* fromName, int to, const char* toName, int flags) override {
    return linkat(from, fromName, to, toName, flags);
  }
  ssize_t ReadLinkAt(int at, const char* name, char* into, std::size_t size) override {
    return readlinkat(at, name, into, size);
  }
  bool RealPath(const char* path, std::string& resolved) override {
    char* found = realpath(path, nullptr);
    if (found == nullptr) return false;
    resolved = found;
    free(found);  // NOLINT(cppcoreguidelines-no-malloc): realpath's own allocation
    return true;
  }
  ssize_t CopyRange(int from, off_t* fromOffset, int to, std::size_t size) override {
    return copy_file_range(from, fromOffset, to, nullptr, size, 0);
  }
  void AdviseSequential(int fd) override { posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL); }
  int List(int fd, std::vector<DirectoryEntry>& entries) override;
  int SetAttribute(int fd, const char* name, const void* value, std::size_t size) override {
    return fsetxattr(fd, name, value, size, 0);
  }
  ssize_t GetAttribute(int fd, const char* name, void* into, std::size_t size) override {
    return fgetxattr(fd, name, into, size);
  }
  int RemoveAttribute(int fd, const char* name) override { return fremovexattr(fd, name); }
  ssize_t ListAttributes(int fd, char* into, std::size_t size) override {
    return flistxattr(fd, into, size);
  }
};

int SystemFileCalls::List(int fd, std::vector<DirectoryEntry>& entries) {
  const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return -1;
  DIR* dir = fdopendir(copy);
  if (dir == nullptr) {
    const int error = errno;
    close(copy);
    errno = error;
    return -1;
  }
  // The copy shares its position with fd.
  rewinddir(dir);
  for (;;) {
    errno = 0;
    const struct dirent* entry = readdir(dir);
    if (entry == nullptr) break;
    EntryKind kind = EntryKind::kUnknown;
#ifdef _DIRENT_HAVE_D_TYPE
    if (entry->d_type == DT_REG) kind = EntryKind::kFile;
    if (entry->d_type == DT_DIR) kind = EntryKind::kDirectory;
#endif
    entries.push_back(DirectoryEntry{entry->d_name, kind});
  }
  const int error = errno;
  closedir(dir);
  errno = error;
  return error == 0 ? 0 : -1;
}

SystemFileCalls gSystem;
FileCalls* gInUse = &gSystem;

}  // namespace

FileCalls& Calls() { return *gInUse; }

FileCalls* UseFileCalls(FileCalls* calls) {
  FileCalls* before = gInUse;
  gInUse = calls != nullptr ? calls : &gSystem;
  return before;
}

}  // namespace platform
