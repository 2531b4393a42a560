// File calls that go to another table, the one in use when made, so that a
// test can change one of them and keep the rest: ProgramLink answers what
// the program's file is, which the process finds in /proc/self/exe.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/FileCalls.h"

namespace testsupport {

class ForwardedFileCalls : public platform::FileCalls {
 public:
  ForwardedFileCalls() : FTo(platform::Calls()) {}

  int OpenAt(int at, const char* name, int flags, mode_t mode) override {
    return FTo.OpenAt(at, name, flags, mode);
  }
  int Close(int fd) override { return FTo.Close(fd); }
  int Duplicate(int fd) override { return FTo.Duplicate(fd); }
  int StatusFlags(int fd) override { return FTo.StatusFlags(fd); }
  ssize_t Read(int fd, void* into, std::size_t size) override { return FTo.Read(fd, into, size); }
  ssize_t ReadAt(int fd, void* into, std::size_t size, off_t offset) override {
    return FTo.ReadAt(fd, into, size, offset);
  }
  ssize_t Write(int fd, const void* data, std::size_t size) override {
    return FTo.Write(fd, data, size);
  }
  off_t Seek(int fd, off_t offset, int whence) override { return FTo.Seek(fd, offset, whence); }
  int Status(int fd, struct stat* info) override { return FTo.Status(fd, info); }
  int StatusAt(int at, const char* name, struct stat* info, int flags) override {
    return FTo.StatusAt(at, name, info, flags);
  }
  int Truncate(int fd, off_t length) override { return FTo.Truncate(fd, length); }
  int SyncData(int fd) override { return FTo.SyncData(fd); }
  int Sync(int fd) override { return FTo.Sync(fd); }
  int Lock(int fd, int operation) override { return FTo.Lock(fd, operation); }
  int ChangeMode(int fd, mode_t mode) override { return FTo.ChangeMode(fd, mode); }
  int ChangeOwner(int fd, uid_t owner, gid_t group) override {
    return FTo.ChangeOwner(fd, owner, group);
  }
  int AccessAt(int at, const char* name, int mode, int flags) override {
    return FTo.AccessAt(at, name, mode, flags);
  }
  int MakeDirectoryAt(int at, const char* name, mode_t mode) override {
    return FTo.MakeDirectoryAt(at, name, mode);
  }
  int UnlinkAt(int at, const char* name, int flags) override {
    return FTo.UnlinkAt(at, name, flags);
  }
  int RenameAt(int from, const char* fromName, int to, const char* toName,
               unsigned flags) override {
    return FTo.RenameAt(from, fromName, to, toName, flags);
  }
  int LinkAt(int from, const char* fromName, int to, const char* toName, int flags) override {
    return FTo.LinkAt(from, fromName, to, toName, flags);
  }
  bool RealPath(const char* path, std::string& resolved) override {
    return FTo.RealPath(path, resolved);
  }
  ssize_t CopyRange(int from, off_t* fromOffset, int to, std::size_t size) override {
    return FTo.CopyRange(from, fromOffset, to, size);
  }
  void AdviseSequential(int fd) override { FTo.AdviseSequential(fd); }
  int List(int fd, std::vector<platform::DirectoryEntry>& entries) override {
    return FTo.List(fd, entries);
  }
  int SetAttribute(int fd, const char* name, const void* value, std::size_t size) override {
    return FTo.SetAttribute(fd, name, value, size);
  }
  ssize_t GetAttribute(int fd, const char* name, void* into, std::size_t size) override {
    return FTo.GetAttribute(fd, name, into, size);
  }
  int RemoveAttribute(int fd, const char* name) override { return FTo.RemoveAttribute(fd, name); }
  ssize_t ListAttributes(int fd, char* into, std::size_t size) override {
    return FTo.ListAttributes(fd, into, size);
  }
  ssize_t ReadLinkAt(int at, const char* name, char* into, std::size_t size) override {
    return FTo.ReadLinkAt(at, name, into, size);
  }

 private:
  platform::FileCalls& FTo;
};

// While it lives, the program's file is APath (a native path) for the
// process layer, and every other call goes to the table in use before.
class ProgramLink final : public ForwardedFileCalls {
 public:
  explicit ProgramLink(std::string APath) : FPath(std::move(APath)) {
    FBefore = platform::UseFileCalls(this);
  }
  ~ProgramLink() override { platform::UseFileCalls(FBefore); }
  ProgramLink(const ProgramLink&) = delete;
  ProgramLink& operator=(const ProgramLink&) = delete;

  ssize_t ReadLinkAt(int at, const char* name, char* into, std::size_t size) override {
    if (std::strcmp(name, "/proc/self/exe") != 0) {
      return ForwardedFileCalls::ReadLinkAt(at, name, into, size);
    }
    const std::size_t n = std::min(size, FPath.size());
    std::memcpy(into, FPath.data(), n);
    return static_cast<ssize_t>(n);
  }

 private:
  std::string FPath;
  platform::FileCalls* FBefore = nullptr;
};

}  // namespace testsupport
