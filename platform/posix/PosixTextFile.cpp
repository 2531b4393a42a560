#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Exception.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "platform/TextScan.h"
#include "platform/posix/PosixNative.h"

namespace platform {
namespace {

constexpr std::size_t kBufferSize = std::size_t{256} * 1024;
constexpr char kCtrlZ = 26;

// A buffer is allocated once per reader or writer and kept for its next
// file. It is not zero-filled: only the pages that a file fills are touched,
// which matters when a run opens thousands of small files.
void AllocateBuffer(std::unique_ptr<char[]>& buffer) {
  if (!buffer) buffer.reset(new char[kBufferSize]);
}

std::string SystemError(const std::string& action, const std::string& path) {
  return action + " " + path + ": " + strerror(errno);
}

// Takes an exclusive lock on fd, waiting for it a while (waited says so): a run holds the
// lock of a log for a moment, and a lock held longer is not waited out.
bool LockForAWhile(int fd, bool& waited) {
  waited = false;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    waited = true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    usleep(10000);
  }
  return false;
}

}  // namespace

TextReader::TextReader()
    : fd_(-1),
      capacity_(0),
      bufferSize_(kBufferSize),
      window_(0),
      pos_(0),
      end_(0),
      base_(0),
      size_(0),
      eof_(true),
      stopped_(false),
      lastEnd_(LineEnd::kNone) {}

TextReader::~TextReader() { Close(); }

void TextReader::SetBufferSize(std::size_t size) { bufferSize_ = size > 0 ? size : 1; }

bool TextReader::Open(const std::string& path, std::size_t holdLimit) {
  Close();
  name_ = path;
  // O_NONBLOCK so that a FIFO without a writer does not hang the open; only
  // regular files are read as text.
  return Adopt(open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK), holdLimit);
}

bool TextReader::Open(const Directory& directory, const std::string& name, std::size_t holdLimit) {
  Close();
  name_ = name;
  return Adopt(openat(NativeAccess::Descriptor(directory), name.c_str(),
                      O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW),
               holdLimit);
}

bool TextReader::Adopt(int fd, std::size_t holdLimit) {
  if (fd < 0) return false;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return false;
  }
  size_ = static_cast<std::uint64_t>(info.st_size);
  identity_ = FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                           static_cast<std::uint64_t>(info.st_ino)};
  modified_ = ModifiedTime(info);
  permissions_ = static_cast<unsigned>(info.st_mode & 07777);
  // One byte more than the file, so that the first read already tells that
  // it reached the end.
  window_ = bufferSize_;
  if (size_ <= holdLimit && size_ + 1 > window_) window_ = static_cast<std::size_t>(size_) + 1;
  if (window_ > capacity_) {
    // Not zero-filled: only the pages that a file fills are touched, which
    // matters when a run opens thousands of small files.
    buffer_.reset(new char[window_]);
    capacity_ = window_;
  }
  // Read-ahead advice pays only for files that take more than one read.
  if (size_ >= window_) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  fd_ = fd;
  pos_ = end_ = 0;
  base_ = 0;
  eof_ = false;
  stopped_ = false;
  return true;
}

bool TextReader::StillAt(const Directory& directory, const std::string& name) const {
  struct stat info {};
  return fstatat(NativeAccess::Descriptor(directory), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) ==
             0 &&
         static_cast<std::uint64_t>(info.st_dev) == identity_.device &&
         static_cast<std::uint64_t>(info.st_ino) == identity_.inode && Unchanged();
}

bool TextReader::Unchanged() const {
  struct stat info {};
  return fd_ >= 0 && fstat(fd_, &info) == 0 && static_cast<std::uint64_t>(info.st_size) == size_ &&
         ModifiedTime(info) == modified_;
}

void TextReader::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  eof_ = true;
  stopped_ = false;
  pos_ = end_ = 0;
  base_ = 0;
}

bool TextReader::Fill() {
  if (stopped_ || eof_ || fd_ < 0) return false;
  if (pos_ > 0) {
    memmove(buffer_.get(), buffer_.get() + pos_, end_ - pos_);
    base_ += pos_;
    end_ -= pos_;
    pos_ = 0;
  }
  if (end_ >= window_) return false;
  for (;;) {
    const std::size_t room = window_ - end_;
    const ssize_t n = read(fd_, buffer_.get() + end_, room);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Exception(SystemError("Cannot read", name_));
    }
    if (n == 0) {
      eof_ = true;
      return false;
    }
    end_ += static_cast<std::size_t>(n);
    // A regular file gives fewer bytes than asked for only at its end: spare
    // the read that would only find it, but only when the size it had at the
    // open agrees (files of /proc say 0 and give a page at a time).
    if (static_cast<std::size_t>(n) < room && base_ + end_ == size_) eof_ = true;
    return true;
  }
}

bool TextReader::Seek(std::uint64_t offset) {
  if (fd_ < 0) return false;
  stopped_ = false;
  if (offset >= base_ && offset <= base_ + end_) {
    pos_ = static_cast<std::size_t>(offset - base_);
    return true;
  }
  if (lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return false;
  base_ = offset;
  pos_ = end_ = 0;
  eof_ = false;
  return true;
}

const char* TextReader::Buffered(std::uint64_t from, std::uint64_t to) const {
  if (from < base_ || to > base_ + end_ || from > to) return nullptr;
  return buffer_.get() + (from - base_);
}

bool TextReader::MayHold(const std::string& needle) {
  // The tail of what was searched is kept before the next read, so that a
  // needle split between two reads is found; CRs inside it may need a few
  // bytes more, and then the answer is yes.
  const std::size_t keep = window_ / 2 < 64 ? window_ / 2 : 64;
  for (;;) {
    if (pos_ < end_) {
      if (FindTextNeedle(buffer_.get() + pos_, end_ - pos_, needle, Offset() == 0) !=
          NeedleFound::kNo) {
        return true;
      }
      if (end_ - pos_ > keep) pos_ = end_ - keep;
    }
    if (!Fill()) return false;
  }
}

bool TextReader::SkipLines(const LineStops& stops) {
  if (fd_ < 0 || stopped_) return false;
  for (;;) {
    const char* data = buffer_.get();
    // Only whole lines are looked at: the last one may go on in the next read.
    std::size_t limit = end_;
    while (limit > pos_ && data[limit - 1] != '\n') --limit;
    if (limit > pos_) {
      pos_ = stops.FirstStop(data, pos_, limit);
      if (pos_ < limit) return true;
    }
    if (!Fill()) {
      // At the end a last line without a line end is left for ReadLine, as is
      // a line longer than the buffer.
      return !eof_ || pos_ < end_;
    }
  }
}

bool TextReader::ReadLine(std::string& line) {
  line.clear();
  if (stopped_) return false;
  bool any = false;  // something of this line was read
  for (;;) {
    if (pos_ >= end_ && !Fill()) {
      lastEnd_ = LineEnd::kNone;
      return any;
    }
    const char* start = buffer_.get() + pos_;
    const std::size_t avail = end_ - pos_;
    const char* lf = static_cast<const char*>(memchr(start, '\n', avail));
    const std::size_t limit = lf != nullptr ? static_cast<std::size_t>(lf - start) : avail;
    // The Ctrl-Z is not taken: the offset then tells where it stands.
    if (const char* z = static_cast<const char*>(memchr(start, kCtrlZ, limit))) {
      const std::size_t taken = static_cast<std::size_t>(z - start);
      line.append(start, taken);
      pos_ += taken;
      stopped_ = true;
      lastEnd_ = LineEnd::kCtrlZ;
      return any || taken > 0;
    }
    line.append(start, limit);
    any = true;
    if (lf == nullptr) {
      pos_ = end_;
      continue;
    }
    pos_ += limit + 1;
    // The CR of a CR LF may have come with the previous read: it is the last
    // byte taken either way. Any other CR stays in the line.
    lastEnd_ = LineEnd::kLf;
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      lastEnd_ = LineEnd::kCrLf;
    }
    return true;
  }
}

LineEnd TextReader::FirstLineEnd() {
  if (!Seek(0)) return LineEnd::kNone;
  char previous = 0;
  for (;;) {
    if (pos_ < end_) {
      const char* start = buffer_.get() + pos_;
      const std::size_t avail = end_ - pos_;
      const char* lf = static_cast<const char*>(memchr(start, '\n', avail));
      const std::size_t limit = lf != nullptr ? static_cast<std::size_t>(lf - start) : avail;
      if (memchr(start, kCtrlZ, limit) != nullptr) return LineEnd::kNone;
      if (lf != nullptr) {
        const char before = limit > 0 ? start[limit - 1] : previous;
        return before == '\r' ? LineEnd::kCrLf : LineEnd::kLf;
      }
      previous = start[avail - 1];
      pos_ = end_;
    }
    if (!Fill()) return LineEnd::kNone;
  }
}

bool TextReader::Holds(char byte) {
  for (;;) {
    if (pos_ < end_ && memchr(buffer_.get() + pos_, byte, end_ - pos_) != nullptr) return true;
    pos_ = end_;
    if (!Fill()) return false;
  }
}

TextWriter::TextWriter() : fd_(-1), used_(0) {}

TextWriter::~TextWriter() { Abandon(); }

FileStatus TextWriter::CreateExclusive(const std::string& path) {
  Abandon();
  const int fd =
      open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? FileStatus::kExists : FileStatus::kFailed;
  Adopt(fd, path);
  return FileStatus::kOk;
}

FileStatus TextWriter::CreateExclusive(const Directory& directory, const std::string& name,
                                       unsigned permissions) {
  Abandon();
  // Readable by nobody else while it is written, whatever the umask: it
  // holds the text of a source that may be private. The lock tells a later
  // run that the file is not left over.
  const int fd = openat(NativeAccess::Descriptor(directory), name.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions);
  if (fd < 0) return errno == EEXIST ? FileStatus::kExists : FileStatus::kFailed;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    // Another run opened it in the moment since it was created.
    unlinkat(NativeAccess::Descriptor(directory), name.c_str(), 0);
    close(fd);
    return FileStatus::kExists;
  }
  Adopt(fd, name);
  return FileStatus::kOk;
}

bool TextWriter::OpenAppend(const std::string& path) {
  Abandon();
  const int fd = open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  Adopt(fd, path);
  return true;
}

bool TextWriter::OpenAppend(const Directory& directory, const std::string& name,
                            unsigned permissions) {
  Abandon();
  // A link planted in the log's place is not followed, and a FIFO neither
  // hangs the open nor is written. A log is created only where none is, so
  // that Undo knows whether to remove it.
  const int at = NativeAccess::Descriptor(directory);
  constexpr int kFlags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  bool created = false;
  int fd = -1;
  struct stat info {};
  for (int attempt = 0; fd < 0 && attempt < 10; ++attempt) {
    fd = openat(at, name.c_str(), kFlags);
    created = false;
    if (fd < 0 && errno == ENOENT) {
      fd = openat(at, name.c_str(), kFlags | O_CREAT | O_EXCL, permissions);
      created = fd >= 0;
      if (fd < 0 && errno == EEXIST) continue;
    }
    if (fd < 0) return false;
    // Runs at once over one tree take turns at a log; its length is taken
    // once the turn has come. A log that the run before removed again (see
    // Undo) is looked for anew.
    // A log with a second name may be someone else's file linked in its
    // place; it is not written.
    bool waited = false;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink > 1 ||
        !LockForAWhile(fd, waited) || (waited && fstat(fd, &info) != 0)) {
      close(fd);
      return false;
    }
    if (info.st_nlink == 0) {
      close(fd);
      fd = -1;
    }
  }
  if (fd < 0) return false;
  Adopt(fd, name);
  startLength_ = static_cast<std::uint64_t>(info.st_size);
  if (created) createdIn_ = fcntl(at, F_DUPFD_CLOEXEC, 0);
  return true;
}

bool TextWriter::Undo() {
  if (fd_ < 0) return false;
  used_ = 0;
  bool done = false;
  struct stat mine {};
  struct stat named {};
  if (createdIn_ >= 0 && fstat(fd_, &mine) == 0 &&
      fstatat(createdIn_, path_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) {
    done = unlinkat(createdIn_, path_.c_str(), 0) == 0;
  }
  if (!done) done = ftruncate(fd_, static_cast<off_t>(startLength_)) == 0;
  Abandon();
  return done;
}

bool TextWriter::Adopt(int fd, const std::string& path) {
  fd_ = fd;
  path_ = path;
  AllocateBuffer(buffer_);
  used_ = 0;
  startLength_ = 0;
  return true;
}

void TextWriter::OpenMemory(std::string& text) {
  Abandon();
  memory_ = &text;
  path_ = "(memory)";
  AllocateBuffer(buffer_);
  used_ = 0;
}

void TextWriter::Flush() {
  if (memory_ != nullptr) {
    memory_->append(buffer_.get(), used_);
    used_ = 0;
    return;
  }
  std::size_t done = 0;
  while (done < used_) {
    const ssize_t n = write(fd_, buffer_.get() + done, used_ - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      used_ = 0;
      throw Exception(SystemError("Cannot write", path_));
    }
    done += static_cast<std::size_t>(n);
  }
  used_ = 0;
}

void TextWriter::Write(const char* data, std::size_t size) {
  if (memory_ != nullptr) {
    memory_->append(data, size);
    return;
  }
  if (fd_ < 0) throw Exception("Cannot write " + path_ + ": the file is not open");
  if (used_ + size > kBufferSize) {
    Flush();
    if (size > kBufferSize) {
      used_ = 0;
      std::size_t done = 0;
      while (done < size) {
        const ssize_t n = write(fd_, data + done, size - done);
        if (n < 0) {
          if (errno == EINTR) continue;
          throw Exception(SystemError("Cannot write", path_));
        }
        done += static_cast<std::size_t>(n);
      }
      return;
    }
  }
  memcpy(buffer_.get() + used_, data, size);
  used_ += size;
}

bool TextWriter::CopyFrom(const TextReader& source, std::uint64_t from, std::uint64_t to) {
  if (to <= from) return true;
  if (const char* held = NativeAccess::Buffered(source, from, to)) {
    Write(held, static_cast<std::size_t>(to - from));
    return true;
  }
  if (fd_ < 0 && memory_ == nullptr) {
    throw Exception("Cannot write " + path_ + ": the file is not open");
  }
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
    const ssize_t n = copy_file_range(sourceFd, &at, fd_, nullptr, left, 0);
    if (n > 0) {
      left -= static_cast<std::uint64_t>(n);
      continue;
    }
    if (n == 0) return false;  // the source ended early
    if (errno == EINTR) continue;
    break;
  }
  while (left > 0) {
    const std::size_t chunk = left < kBufferSize ? static_cast<std::size_t>(left) : kBufferSize;
    const ssize_t n = pread(sourceFd, buffer_.get(), chunk, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    used_ = static_cast<std::size_t>(n);
    Flush();
    at += n;
    left -= static_cast<std::uint64_t>(n);
  }
  return true;
}

void TextWriter::WriteLine(const std::string& line) {
  Write(line.data(), line.size());
  Write("\r\n", 2);
}

void TextWriter::Close() {
  if (memory_ != nullptr) {
    memory_ = nullptr;
    return;
  }
  if (fd_ < 0) return;
  try {
    Flush();
  } catch (...) {
    Abandon();
    throw;
  }
  const int fd = fd_;
  fd_ = -1;
  if (createdIn_ >= 0) close(createdIn_);
  createdIn_ = -1;
  if (close(fd) != 0) throw Exception(SystemError("Cannot write", path_));
}

void TextWriter::Abandon() {
  memory_ = nullptr;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  used_ = 0;
  if (createdIn_ >= 0) close(createdIn_);
  createdIn_ = -1;
}

}  // namespace platform
