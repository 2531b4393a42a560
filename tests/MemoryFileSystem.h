// A file system in memory behind platform::FileCalls, so that a whole run of
// the worker can be held in it (platform::UseFileCalls(&memory)): fast for
// tests and fuzzers, and able to show what a power loss at any call would
// leave on the disk. Linux semantics, as far as the POSIX layer relies on
// them; the test support only, never the product.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/FileCalls.h"

namespace testsupport {

// Regular files, directories and symbolic links under one root "/", which is
// also the working directory. Descriptors are numbered from 1 << 20, so that
// none is ever taken for the system's. Owner and group of what it creates are
// the process's effective ones; root passes every permission check but
// execute on a file without any x bit. Extended attributes in user.*,
// trusted.* (root's alone) and security.*. "/proc/self/fd/N" means descriptor
// N to LinkAt alone. Where Linux would wait for ever (flock without LOCK_NB
// on a lock another description holds) the call fails with EDEADLK; a failed
// Close still frees the descriptor, as on Linux.
//
// Every call of the table is one step, numbered from 0. The disk is modelled
// as an ordered journal (ext4 data=ordered, XFS): metadata (names, modes,
// owners, attributes, link counts, which files exist) reaches it in the order
// it was made, all of it at the latest with any successful Sync or SyncData;
// a file's bytes and length reach it only by a sync of that file.
//
// Thread-safe (the read-ahead of a walk reads on several threads), but the
// numbering of steps is repeatable only when one thread makes the calls.
class MemoryFileSystem final : public platform::FileCalls {
 public:
  MemoryFileSystem();
  ~MemoryFileSystem() override;
  MemoryFileSystem(MemoryFileSystem&& other) noexcept;
  MemoryFileSystem& operator=(MemoryFileSystem&& other) noexcept;
  MemoryFileSystem(const MemoryFileSystem&) = delete;
  MemoryFileSystem& operator=(const MemoryFileSystem&) = delete;

  // The table.
  int OpenAt(int at, const char* name, int flags, mode_t mode) override;
  int Close(int fd) override;
  int Duplicate(int fd) override;
  int StatusFlags(int fd) override;
  ssize_t Read(int fd, void* into, std::size_t size) override;
  ssize_t ReadAt(int fd, void* into, std::size_t size, off_t offset) override;
  ssize_t Write(int fd, const void* data, std::size_t size) override;
  off_t Seek(int fd, off_t offset, int whence) override;
  int Status(int fd, struct stat* info) override;
  int StatusAt(int at, const char* name, struct stat* info, int flags) override;
  int Truncate(int fd, off_t length) override;
  int SyncData(int fd) override;
  int Sync(int fd) override;
  int Lock(int fd, int operation) override;
  int ChangeMode(int fd, mode_t mode) override;
  int ChangeOwner(int fd, uid_t owner, gid_t group) override;
  int AccessAt(int at, const char* name, int mode, int flags) override;
  int MakeDirectoryAt(int at, const char* name, mode_t mode) override;
  int UnlinkAt(int at, const char* name, int flags) override;
  int RenameAt(int from, const char* fromName, int to, const char* toName, unsigned flags) override;
  int LinkAt(int from, const char* fromName, int to, const char* toName, int flags) override;
  ssize_t ReadLinkAt(int at, const char* name, char* into, std::size_t size) override;
  bool RealPath(const char* path, std::string& resolved) override;
  ssize_t CopyRange(int from, off_t* fromOffset, int to, std::size_t size) override;
  void AdviseSequential(int fd) override;
  int List(int fd, std::vector<platform::DirectoryEntry>& entries) override;
  int SetAttribute(int fd, const char* name, const void* value, std::size_t size) override;
  ssize_t GetAttribute(int fd, const char* name, void* into, std::size_t size) override;
  int RemoveAttribute(int fd, const char* name) override;
  ssize_t ListAttributes(int fd, char* into, std::size_t size) override;

  // What a test builds and looks at; no steps, and they never fail. Paths
  // are absolute or relative to "/"; links on the way are followed.

  // Writes path whole, making missing parent directories (0755).
  void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644);
  // The bytes of the file path (its last link followed); false when there is none.
  bool ReadFile(const std::string& path, std::string& content) const;
  // Makes path and missing parents; an existing directory is kept.
  void MakeDirectory(const std::string& path, mode_t mode = 0755);
  // Makes path a symbolic link with target (replacing what was there).
  void MakeLink(const std::string& path, const std::string& target);
  // Makes mask the umask of the calls that create (at first the process's
  // umask when the first file system was made).
  void SetUmask(mode_t mask);
  // Gives the entry path (a link itself, not what it names) owner and group.
  void SetOwner(const std::string& path, uid_t owner, gid_t group);
  // Whether anything has the name path, a dangling link included.
  bool Exists(const std::string& path) const;
  // The status of path without following a last link; st_mode 0 when missing.
  struct stat StatusOf(const std::string& path) const;
  // The names in the directory path, sorted, without "." and "..".
  std::vector<std::string> Names(const std::string& directoryPath) const;
  // Every regular file below directoryPath by its path relative to it, with
  // its bytes; links are not followed.
  std::map<std::string, std::string> Files(const std::string& directoryPath) const;

  // Power loss and faults.

  // Everything the tree holds now is on the disk (after building a test tree).
  void SyncEverything();
  // How many calls have been made.
  std::size_t Steps() const;
  // The call numbered step and every later one fail with EIO and change nothing.
  void LosePowerAt(std::size_t step);
  // The call numbered step fails with error and changes nothing; later ones work.
  void FailCall(std::size_t step, int error);
  // While on, the metadata after each step is kept, so that AfterPowerLoss can
  // give any prefix of it; off by default, since it costs a copy per change.
  void RecordMetadata(bool on);
  // The steps up to and including the last successful sync: the metadata the
  // disk holds at the least.
  std::size_t CommittedSteps() const;
  // The file system a machine finds after a power loss: the metadata as after
  // metadataSteps steps (clamped to at least CommittedSteps() and at most the
  // steps that succeeded; without recording, always the latter), each file's
  // bytes as last synced (never synced: empty). No descriptor is open, and
  // everything in it counts as on the disk.
  MemoryFileSystem AfterPowerLoss(std::size_t metadataSteps) const;

 private:
  struct State;
  class Call;
  explicit MemoryFileSystem(std::unique_ptr<State> state);

  std::unique_ptr<State> state_;
  std::unique_ptr<std::mutex> mutex_;
};

}  // namespace testsupport
