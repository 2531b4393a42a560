#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Exception.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "platform/TextScan.h"

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
  // O_NONBLOCK so that a FIFO without a writer does not hang the open; only
  // regular files are read as text.
  const int fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return false;
  }
  size_ = static_cast<std::uint64_t>(info.st_size);
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
      throw Exception(SystemError("Cannot read", "file"));
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

TextWriter::CreateResult TextWriter::CreateExclusive(const std::string& path) {
  Abandon();
  const int fd =
      open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? CreateResult::kExists : CreateResult::kFailed;
  fd_ = fd;
  path_ = path;
  AllocateBuffer(buffer_);
  used_ = 0;
  return CreateResult::kOk;
}

bool TextWriter::OpenAppend(const std::string& path) {
  Abandon();
  const int fd = open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  fd_ = fd;
  path_ = path;
  AllocateBuffer(buffer_);
  used_ = 0;
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
  if (const char* held = source.Buffered(from, to)) {
    Write(held, static_cast<std::size_t>(to - from));
    return true;
  }
  if (fd_ < 0 && memory_ == nullptr) {
    throw Exception("Cannot write " + path_ + ": the file is not open");
  }
  if (source.fd_ < 0) return false;
  Flush();
  off_t at = static_cast<off_t>(from);
  std::uint64_t left = to - from;
  // The kernel copies from file to file without the bytes passing through
  // this process; where it cannot (another file system, or into memory),
  // they are read and written, and a failure of either is reported as it
  // happens there.
  while (left > 0 && memory_ == nullptr) {
    const ssize_t n = copy_file_range(source.fd_, &at, fd_, nullptr, left, 0);
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
    const ssize_t n = pread(source.fd_, buffer_.get(), chunk, at);
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
  if (close(fd) != 0) throw Exception(SystemError("Cannot write", path_));
}

void TextWriter::Abandon() {
  memory_ = nullptr;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  used_ = 0;
}

}  // namespace platform
