// The buffering of text files, the same on every system: each system gives
// how a file is opened and closed, read (ReadSome), positioned (MoveTo) and
// written (WriteOut).
#include <algorithm>
#include <cstring>

#include "base/Exception.h"
#include "platform/TextFile.h"
#include "text/TextScan.h"

namespace platform {
namespace {

constexpr char kCtrlZ = 26;

}  // namespace

TextReader::TextReader()
    : fd_(-1),
      capacity_(0),
      bufferSize_(kTextBufferSize),
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

void TextReader::Start(int fd, std::size_t holdLimit) {
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
  fd_ = fd;
  pos_ = end_ = 0;
  base_ = 0;
  eof_ = false;
  stopped_ = false;
  watching_ = false;
}

void TextReader::Reset() {
  fd_ = -1;
  eof_ = true;
  stopped_ = false;
  pos_ = end_ = 0;
  base_ = 0;
  watching_ = false;
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
  const std::size_t room = window_ - end_;
  const std::size_t n = ReadSome(buffer_.get() + end_, room);
  if (n == 0) {
    eof_ = true;
    return false;
  }
  Watch(end_, end_ + n);
  end_ += n;
  // A regular file gives fewer bytes than asked for only at its end: spare
  // the read that would only find it, but only when the size it had at the
  // open agrees (files of /proc say 0 and give a page at a time).
  if (n < room && base_ + end_ == size_) eof_ = true;
  return true;
}

void TextReader::Watch(std::size_t from, std::size_t to) {
  // Bytes are looked at while they are still in the cache, and each once:
  // only those that go on where the watch stands.
  if (!watching_ || nul_ || base_ + from > watched_ || base_ + to <= watched_) return;
  const std::size_t start = static_cast<std::size_t>(watched_ - base_);
  nul_ = memchr(buffer_.get() + start, '\0', to - start) != nullptr;
  watched_ = base_ + to;
}

void TextReader::WatchForNul() {
  watching_ = true;
  watched_ = 0;
  nul_ = false;
  Watch(0, end_);
}

bool TextReader::Seek(std::uint64_t offset) {
  if (fd_ < 0) return false;
  stopped_ = false;
  if (offset >= base_ && offset <= base_ + end_) {
    pos_ = static_cast<std::size_t>(offset - base_);
    return true;
  }
  if (!MoveTo(offset)) return false;
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
      if (text::FindTextNeedle(buffer_.get() + pos_, end_ - pos_, needle, Offset() == 0) !=
          text::NeedleFound::kNo) {
        return true;
      }
      if (end_ - pos_ > keep) pos_ = end_ - keep;
    }
    if (!Fill()) return false;
  }
}

bool TextReader::SkipLines(const text::LineStops& stops) { return SkipLines(stops, nullptr); }

bool TextReader::SkipLines(const text::LineStops& stops,
                           const std::function<void(const char* data, std::size_t size)>& passed) {
  if (fd_ < 0 || stopped_) return false;
  for (;;) {
    const char* data = buffer_.get();
    // Only whole lines are looked at: the last one may go on in the next read.
    std::size_t limit = end_;
    while (limit > pos_ && data[limit - 1] != '\n') --limit;
    if (limit > pos_) {
      const std::size_t from = pos_;
      pos_ = stops.FirstStop(data, pos_, limit);
      if (passed && pos_ > from) passed(data + from, pos_ - from);
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
    // A long line is cut after a blank beyond the part size; the rest of it
    // stays to be read.
    if (line.size() > linePart_) {
      const std::size_t chunk = line.size() - limit;
      const std::size_t blank = line.find(' ', std::max(linePart_, chunk));
      if (blank != std::string::npos) {
        pos_ += blank + 1 - chunk;
        line.resize(blank + 1);
        lastEnd_ = LineEnd::kPart;
        return true;
      }
    }
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

bool TextReader::HoldsNul() {
  if (!watching_) WatchForNul();
  // Bytes read since the watch began were looked at as they came; only the
  // rest is read now, Ctrl-Z or not.
  if (nul_) return true;
  // A file that cannot be read on counts as holding one: it is left alone.
  if (!Seek(watched_)) return true;
  Watch(pos_, end_);
  while (!nul_) {
    pos_ = end_;
    if (!Fill()) break;
  }
  return nul_;
}

TextWriter::TextWriter() : fd_(-1), used_(0) {}

TextWriter::~TextWriter() { Abandon(); }

bool TextWriter::Adopt(int fd, const std::string& path) {
  fd_ = fd;
  path_ = path;
  shown_ = path;
  AllocateBuffer();
  used_ = 0;
  startLength_ = 0;
  createdIn_ = -1;
  return true;
}

void TextWriter::AllocateBuffer() {
  // Allocated once and kept for the next file. Not zero-filled: only the
  // pages that a file fills are touched, which matters when a run writes
  // thousands of small files.
  if (!buffer_) buffer_.reset(new char[kTextBufferSize]);
}

void TextWriter::OpenMemory(std::string& text) {
  Abandon();
  memory_ = &text;
  discard_ = false;
  path_ = "(memory)";
  shown_ = path_;
  AllocateBuffer();
  used_ = 0;
}

void TextWriter::OpenDiscard() {
  // Written like memory that keeps nothing, so that each system's copying
  // reads the bytes as it does for memory.
  OpenMemory(discarded_);
  discard_ = true;
}

void TextWriter::Flush() {
  const std::size_t used = used_;
  used_ = 0;
  if (memory_ != nullptr) {
    if (!discard_) memory_->append(buffer_.get(), used);
  } else if (used > 0) {
    WriteOut(buffer_.get(), used);
  }
}

void TextWriter::Sync() {
  Flush();
  if (memory_ == nullptr && fd_ >= 0) SyncFile();
}

void TextWriter::Write(const char* data, std::size_t size) {
  if (memory_ != nullptr) {
    if (!discard_) memory_->append(data, size);
    return;
  }
  if (fd_ < 0) throw Exception("Cannot write " + shown_ + ": the file is not open");
  if (used_ + size > kTextBufferSize) {
    Flush();
    if (size > kTextBufferSize) {
      WriteOut(data, size);
      return;
    }
  }
  memcpy(buffer_.get() + used_, data, size);
  used_ += size;
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
  CloseFile();
}

bool TextWriter::CopyFrom(const TextReader& source, std::uint64_t from, std::uint64_t to) {
  if (to <= from) return true;
  if (const char* held = source.Buffered(from, to)) {
    Write(held, static_cast<std::size_t>(to - from));
    return true;
  }
  if (fd_ < 0 && memory_ == nullptr) {
    throw Exception("Cannot write " + shown_ + ": the file is not open");
  }
  return CopyFromFile(source, from, to);
}

void TextWriter::WriteLine(const std::string& line) {
  Write(line.data(), line.size());
  Write("\r\n", 2);
}

}  // namespace platform
