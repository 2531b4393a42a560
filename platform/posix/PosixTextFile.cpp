#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Exception.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"

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

TextReader::TextReader() : fd_(-1), pos_(0), end_(0), atEnd_(true) {}

TextReader::~TextReader() { Close(); }

bool TextReader::Open(const std::string& path) {
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
  // Read-ahead advice pays only for files that take more than one read.
  if (static_cast<std::size_t>(info.st_size) > kBufferSize) {
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  fd_ = fd;
  AllocateBuffer(buffer_);
  pos_ = 0;
  end_ = 0;
  atEnd_ = false;
  return true;
}

void TextReader::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  atEnd_ = true;
  pos_ = end_ = 0;
}

bool TextReader::Fill() {
  if (atEnd_ || fd_ < 0) return false;
  for (;;) {
    const ssize_t n = read(fd_, buffer_.get(), kBufferSize);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Exception(SystemError("Cannot read", "file"));
    }
    if (n == 0) {
      atEnd_ = true;
      return false;
    }
    pos_ = 0;
    end_ = static_cast<std::size_t>(n);
    return true;
  }
}

bool TextReader::ReadLine(std::string& line) {
  line.clear();
  bool any = false;        // something of this line was read, its end included
  bool pendingCr = false;  // a CR whose fate depends on the next byte
  for (;;) {
    if (pos_ >= end_ && !Fill()) {
      // End of input: a pending CR is a lone CR and is dropped.
      return any;
    }
    const char* start = buffer_.get() + pos_;
    const std::size_t avail = end_ - pos_;
    if (pendingCr) {
      pendingCr = false;
      if (*start == '\n') {
        ++pos_;
        return true;
      }
      // The CR stood alone and is dropped; go on with this byte.
    }
    // Find the first LF, CR or Ctrl-Z in what is buffered.
    std::size_t i = 0;
    const char* lf = static_cast<const char*>(memchr(start, '\n', avail));
    const std::size_t limit = lf != nullptr ? static_cast<std::size_t>(lf - start) : avail;
    while (i < limit && start[i] != '\r' && start[i] != kCtrlZ) ++i;
    line.append(start, i);
    if (i > 0) any = true;
    pos_ += i;
    if (i == avail) continue;
    const char c = start[i];
    ++pos_;
    if (c == '\n') return true;
    if (c == kCtrlZ) {
      atEnd_ = true;
      pos_ = end_ = 0;
      return any;
    }
    any = true;  // a CR: end of line when LF follows, else dropped
    pendingCr = true;
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

void TextWriter::Flush() {
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

void TextWriter::WriteLine(const std::string& line) {
  Write(line.data(), line.size());
  Write("\r\n", 2);
}

void TextWriter::Close() {
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
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  used_ = 0;
}

}  // namespace platform
