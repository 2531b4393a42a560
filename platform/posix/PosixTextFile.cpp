#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/Exception.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "platform/posix/FileCalls.h"
#include "platform/posix/PosixNative.h"
#include "text/ShownName.h"
#include "text/TextScan.h"

namespace platform {
namespace {

// The name is quoted when it holds a control character (text::ShownName).
std::string SystemError(const std::string& action, const std::string& path) {
  const std::string reason = strerror(errno);
  return action + " " + text::ShownName(path) + ": " + reason;
}

// The failure to write the file shown as path, after a call that set errno.
FileError WriteError(const std::string& path) {
  const FileProblem problem =
      errno == ENOSPC || errno == EDQUOT ? FileProblem::kDiskFull : FileProblem::kFailed;
  return FileError(SystemError("Cannot write", path), problem, path);
}

// Why a log could not be opened for appending, from the errno of its open.
FileProblem OpenProblem(int error) {
  switch (error) {
    case ELOOP:
      return FileProblem::kLink;
    case EISDIR:
      return FileProblem::kDirectory;
    case ENXIO:  // a FIFO without a reader, opened for writing only
      return FileProblem::kFifo;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
      return FileProblem::kNotWritable;
    case ENOSPC:
    case EDQUOT:
      return FileProblem::kDiskFull;
    case ENOENT:
    case ENOTDIR:
      return FileProblem::kMissing;
    default:
      return FileProblem::kFailed;
  }
}

// Why a file of this kind is no log.
FileProblem KindProblem(const struct stat& info) {
  if (S_ISDIR(info.st_mode)) return FileProblem::kDirectory;
  if (S_ISFIFO(info.st_mode)) return FileProblem::kFifo;
  if (S_ISLNK(info.st_mode)) return FileProblem::kLink;
  return FileProblem::kNotRegular;
}

}  // namespace

bool TextReader::Open(const std::string& path, std::size_t holdLimit) {
  Close();
  name_ = path;
  // O_NONBLOCK so that a FIFO without a writer does not hang the open; only
  // regular files are read as text.
  return Adopt(
      Calls().OpenAt(AT_FDCWD, NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0),
      holdLimit);
}

bool TextReader::Open(const Directory& directory, const std::string& name, std::size_t holdLimit) {
  Close();
  name_ = name;
  return Adopt(Calls().OpenAt(NativeAccess::Descriptor(directory), name.c_str(),
                              O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0),
               holdLimit);
}

bool TextReader::Adopt(int fd, std::size_t holdLimit) {
  if (fd < 0) return false;
  struct stat info {};
  if (Calls().Status(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    Calls().Close(fd);
    return false;
  }
  size_ = static_cast<std::uint64_t>(info.st_size);
  identity_ = FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                           static_cast<std::uint64_t>(info.st_ino)};
  modified_ = ModifiedTime(info);
  permissions_ = static_cast<unsigned>(info.st_mode & 07777);
  Start(fd, holdLimit);
  // Read-ahead advice pays only for files that take more than one read.
  if (size_ >= window_) Calls().AdviseSequential(fd);
  return true;
}

bool TextReader::StillAt(const Directory& directory, const std::string& name) const {
  struct stat info {};
  return Calls().StatusAt(NativeAccess::Descriptor(directory), name.c_str(), &info,
                          AT_SYMLINK_NOFOLLOW) == 0 &&
         static_cast<std::uint64_t>(info.st_dev) == identity_.device &&
         static_cast<std::uint64_t>(info.st_ino) == identity_.inode && Unchanged();
}

bool TextReader::Unchanged() const {
  struct stat info {};
  return fd_ >= 0 && Calls().Status(fd_, &info) == 0 &&
         static_cast<std::uint64_t>(info.st_size) == size_ && ModifiedTime(info) == modified_;
}

void TextReader::Close() {
  if (fd_ >= 0) Calls().Close(fd_);
  Reset();
}

std::size_t TextReader::ReadSome(char* into, std::size_t room) {
  for (;;) {
    const ssize_t n = Calls().Read(fd_, into, room);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) throw Exception(SystemError("Cannot read", name_));
  }
}

bool TextReader::MoveTo(std::uint64_t offset) {
  return Calls().Seek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

FileStatus TextWriter::CreateExclusive(const Directory& directory, const std::string& name,
                                       unsigned permissions) {
  Abandon();
  // Readable by nobody else while it is written, whatever the umask: it
  // holds the text of a source that may be private. The lock tells a later
  // run that the file is not left over.
  const int fd = Calls().OpenAt(NativeAccess::Descriptor(directory), name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions);
  if (fd < 0) return errno == EEXIST ? FileStatus::kExists : FileStatus::kFailed;
  if (Calls().Lock(fd, LOCK_EX | LOCK_NB) != 0) {
    // Another run opened it in the moment since it was created.
    Calls().UnlinkAt(NativeAccess::Descriptor(directory), name.c_str(), 0);
    Calls().Close(fd);
    return FileStatus::kExists;
  }
  Adopt(fd, name);
  return FileStatus::kOk;
}

FileProblem TextWriter::OpenAppend(const Directory& directory, const std::string& name,
                                   unsigned permissions) {
  Abandon();
  // A link planted in the log's place is not followed, and a FIFO neither
  // hangs the open nor is written. A log is created only where none is, so
  // that Undo knows whether to remove it.
  const int at = NativeAccess::Descriptor(directory);
  // Read as well where allowed, so that its end can be compared.
  constexpr int kFlags = O_RDWR | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  bool created = false;
  int fd = -1;
  struct stat info {};
  for (int attempt = 0; fd < 0 && attempt < 10; ++attempt) {
    fd = Calls().OpenAt(at, name.c_str(), kFlags, 0);
    if (fd < 0 && errno == EACCES)
      fd = Calls().OpenAt(at, name.c_str(), (kFlags & ~O_RDWR) | O_WRONLY, 0);
    created = false;
    if (fd < 0 && errno == ENOENT) {
      fd = Calls().OpenAt(at, name.c_str(), kFlags | O_CREAT | O_EXCL, permissions);
      created = fd >= 0;
      if (fd < 0 && errno == EEXIST) continue;
    }
    if (fd < 0) return OpenProblem(errno);
    // Runs at once over one tree take turns at a log; its length is taken
    // once the turn has come. A log that the run before removed again (see
    // Undo) is looked for anew.
    // A log with a second name may be someone else's file linked in its
    // place; it is not written.
    FileProblem problem = FileProblem::kNone;
    bool waited = false;
    // The length is read again after a wait, as the other run left it.
    const bool statusRead = Calls().Status(fd, &info) == 0;
    if (statusRead && !S_ISREG(info.st_mode)) {
      problem = KindProblem(info);
    } else if (statusRead && info.st_nlink > 1) {
      problem = FileProblem::kSecondName;
    } else if (statusRead && !LockForAWhile(fd, waited)) {
      problem = errno == EWOULDBLOCK ? FileProblem::kLocked : FileProblem::kFailed;
    } else if (!statusRead || (waited && Calls().Status(fd, &info) != 0)) {
      problem = FileProblem::kFailed;
    }
    if (problem != FileProblem::kNone) {
      Calls().Close(fd);
      return problem;
    }
    if (info.st_nlink == 0) {
      Calls().Close(fd);
      fd = -1;
    }
  }
  if (fd < 0) return FileProblem::kFailed;
  Adopt(fd, name);
  startLength_ = static_cast<std::uint64_t>(info.st_size);
  if (created) createdIn_ = Calls().Duplicate(at);
  return FileProblem::kNone;
}

bool TextWriter::ReadEnd(std::uint64_t size,
                         const std::function<bool(std::string_view)>& slice) const {
  struct stat info {};
  if (fd_ < 0 || Calls().Status(fd_, &info) != 0 ||
      static_cast<std::uint64_t>(info.st_size) < size) {
    return false;
  }
  // In slices, so that a long end is not held whole.
  std::string part;
  for (off_t at = info.st_size - static_cast<off_t>(size); at < info.st_size;) {
    part.resize(static_cast<std::size_t>(
        std::min<std::uint64_t>(kTextBufferSize, static_cast<std::uint64_t>(info.st_size - at))));
    const ssize_t n = Calls().ReadAt(fd_, &part[0], part.size(), at);
    if (n <= 0 || !slice(std::string_view(part.data(), static_cast<std::size_t>(n)))) return false;
    at += n;
  }
  return true;
}

FileProblem LogProblem(TextWriter& log, const TextReader& source) {
  struct stat logInfo {};
  struct stat sourceInfo {};
  // A new log is readable by the source's group, not by the process's.
  if (log.createdIn_ >= 0 && Calls().Status(NativeAccess::Descriptor(source), &sourceInfo) == 0 &&
      Calls().ChangeOwner(log.fd_, static_cast<uid_t>(-1), sourceInfo.st_gid) != 0) {
    // Not a group of this process's user: the check below decides.
  }
  if (Calls().Status(NativeAccess::Descriptor(log), &logInfo) != 0 ||
      Calls().Status(NativeAccess::Descriptor(source), &sourceInfo) != 0) {
    return FileProblem::kFailed;
  }
  return LogProblem(logInfo, sourceInfo);
}

FileProblem LogProblem(const TextReader& log, const TextReader& source) {
  struct stat logInfo {};
  struct stat sourceInfo {};
  if (Calls().Status(NativeAccess::Descriptor(log), &logInfo) != 0 ||
      Calls().Status(NativeAccess::Descriptor(source), &sourceInfo) != 0) {
    return FileProblem::kFailed;
  }
  return LogProblem(logInfo, sourceInfo);
}

bool TextWriter::Undo() {
  if (fd_ < 0) return false;
  used_ = 0;
  bool done = false;
  struct stat mine {};
  struct stat named {};
  if (createdIn_ >= 0 && Calls().Status(fd_, &mine) == 0 &&
      Calls().StatusAt(createdIn_, path_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) {
    done = Calls().UnlinkAt(createdIn_, path_.c_str(), 0) == 0;
  }
  if (!done) done = Calls().Truncate(fd_, static_cast<off_t>(startLength_)) == 0;
  Abandon();
  return done;
}

void TextWriter::WriteOut(const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = Calls().Write(fd_, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw WriteError(shown_);
    }
    done += static_cast<std::size_t>(n);
  }
}

void TextWriter::SyncFile() {
  // The data and what reading it back needs (the size), not every
  // timestamp.
  if (Calls().SyncData(fd_) != 0) throw WriteError(shown_);
}

bool TextWriter::CopyFromFile(const TextReader& source, std::uint64_t from, std::uint64_t to) {
  const int sourceFd = NativeAccess::Descriptor(source);
  if (sourceFd < 0) return false;
  Flush();
  off_t at = static_cast<off_t>(from);
  std::uint64_t left = to - from;
  // The kernel copies from file to file without the bytes passing through
  // this process; where it cannot (another file system, or into memory),
  // they are read and written, and a failure of either is reported as it
  // happens there.
  while (left > 0 && memory_ == nullptr) {
    const ssize_t n = Calls().CopyRange(sourceFd, &at, fd_, left);
    if (n > 0) {
      left -= static_cast<std::uint64_t>(n);
      continue;
    }
    if (n == 0) return false;  // the source ended early
    if (errno == EINTR) continue;
    break;
  }
  while (left > 0) {
    const std::size_t chunk =
        left < kTextBufferSize ? static_cast<std::size_t>(left) : kTextBufferSize;
    const ssize_t n = Calls().ReadAt(sourceFd, buffer_.get(), chunk, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    used_ = static_cast<std::size_t>(n);
    Flush();
    at += n;
    left -= static_cast<std::uint64_t>(n);
  }
  return true;
}

void TextWriter::CloseFile() {
  const int fd = fd_;
  fd_ = -1;
  if (createdIn_ >= 0) Calls().Close(createdIn_);
  createdIn_ = -1;
  if (Calls().Close(fd) != 0) throw WriteError(shown_);
}

void TextWriter::Abandon() {
  memory_ = nullptr;
  if (fd_ >= 0) Calls().Close(fd_);
  fd_ = -1;
  used_ = 0;
  if (createdIn_ >= 0) Calls().Close(createdIn_);
  createdIn_ = -1;
}

}  // namespace platform
