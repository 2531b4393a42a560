// The file operations of the POSIX side of the platform layer, as one table.
// Directory, TextReader, TextWriter, SourceReplacement and AtomicFile make
// every call that reaches the file system through Calls(), never straight,
// so that a whole run can be held in another file system: the tests hold it
// in memory (tests/MemoryFileSystem.h), where a simulated power loss can
// drop what was never synced. Each operation is the system call of its
// comment, with its arguments, results and errno; descriptors are the
// table's own and mean nothing to another.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

namespace platform {

class FileCalls {
 public:
  virtual ~FileCalls() = default;

  virtual int OpenAt(int at, const char* name, int flags, mode_t mode) = 0;  // openat
  virtual int Close(int fd) = 0;                                             // close
  // fcntl(fd, F_DUPFD_CLOEXEC, 0)
  virtual int Duplicate(int fd) = 0;
  // fcntl(fd, F_GETFL)
  virtual int StatusFlags(int fd) = 0;
  virtual ssize_t Read(int fd, void* into, std::size_t size) = 0;                    // read
  virtual ssize_t ReadAt(int fd, void* into, std::size_t size, off_t offset) = 0;    // pread
  virtual ssize_t Write(int fd, const void* data, std::size_t size) = 0;             // write
  virtual off_t Seek(int fd, off_t offset, int whence) = 0;                          // lseek
  virtual int Status(int fd, struct stat* info) = 0;                                 // fstat
  virtual int StatusAt(int at, const char* name, struct stat* info, int flags) = 0;  // fstatat
  virtual int Truncate(int fd, off_t length) = 0;                                    // ftruncate
  virtual int SyncData(int fd) = 0;                                                  // fdatasync
  virtual int Sync(int fd) = 0;                                                      // fsync
  virtual int Lock(int fd, int operation) = 0;                                       // flock
  virtual int ChangeMode(int fd, mode_t mode) = 0;                                   // fchmod
  virtual int ChangeOwner(int fd, uid_t owner, gid_t group) = 0;                     // fchown
  virtual int AccessAt(int at, const char* name, int mode, int flags) = 0;           // faccessat
  virtual int MakeDirectoryAt(int at, const char* name, mode_t mode) = 0;            // mkdirat
  virtual int UnlinkAt(int at, const char* name, int flags) = 0;                     // unlinkat
  // renameat2; flags 0 is renameat
  virtual int RenameAt(int from, const char* fromName, int to, const char* toName,
                       unsigned flags) = 0;
  // linkat; a name "/proc/self/fd/N" with AT_FDCWD names descriptor N
  virtual int LinkAt(int from, const char* fromName, int to, const char* toName, int flags) = 0;
  virtual ssize_t ReadLinkAt(int at, const char* name, char* into, std::size_t size) = 0;
  // realpath: false, with errno, when path cannot be resolved
  virtual bool RealPath(const char* path, std::string& resolved) = 0;
  // copy_file_range(from, fromOffset, to, nullptr, size, 0)
  virtual ssize_t CopyRange(int from, off_t* fromOffset, int to, std::size_t size) = 0;
  // posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL)
  virtual void AdviseSequential(int fd) = 0;
  // fdopendir on a copy of fd, rewinddir, readdir to the end: every entry,
  // "." and ".." included; -1 with errno when the listing failed.
  virtual int List(int fd, std::vector<DirectoryEntry>& entries) = 0;
  virtual int SetAttribute(int fd, const char* name, const void* value, std::size_t size) = 0;
  virtual ssize_t GetAttribute(int fd, const char* name, void* into, std::size_t size) = 0;
  virtual int RemoveAttribute(int fd, const char* name) = 0;
  virtual ssize_t ListAttributes(int fd, char* into, std::size_t size) = 0;  // flistxattr
};

// The table in use: the system's unless UseFileCalls gave another.
FileCalls& Calls();

// Makes calls the table in use (nullptr: the system's again); gives the one
// before. Not for use while another thread makes file calls.
FileCalls* UseFileCalls(FileCalls* calls);

}  // namespace platform
