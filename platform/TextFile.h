// Text files read line by line and written line by line. Bytes pass
// unchanged: there is no conversion of characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Exception.h"
#include "platform/FileSystem.h"

namespace text {
class LineStops;
}  // namespace text

namespace platform {

// A failure to write a text file, with what kept it from that where the
// system tells (kDiskFull; else kFailed) and the file as messages name it.
class FileError : public Exception {
 public:
  FileError(const std::string& message, FileProblem problem, std::string shown)
      : Exception(message), problem_(problem), shown_(std::move(shown)) {}
  FileProblem Problem() const { return problem_; }
  const std::string& Shown() const { return shown_; }

 private:
  FileProblem problem_;
  std::string shown_;
};

// How much one read or write of a text file takes at most, unless a file is
// held whole.
constexpr std::size_t kTextBufferSize = std::size_t{256} * 1024;

// How a line read ended: LF, CR LF, the end of the file, or a Ctrl-Z.
// kPart: the line goes on; ReadLine gave only a part of it (see
// SetLinePart).
enum class LineEnd { kLf, kCrLf, kNone, kCtrlZ, kPart };

// Reads a text file line by line: LF or CR LF ends a line, a CR not followed
// by LF is a byte of its line like any other, byte 26 (Ctrl-Z) ends the
// input, a last line without a line end is still a line. Lines have no
// length limit.
class TextReader {
 public:
  TextReader();
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  // Opens path for reading; false when it cannot be opened or is no regular
  // file. A file of at most holdLimit bytes is read whole at its first read
  // and kept: going back in it and copying from it then read nothing again.
  bool Open(const std::string& path, std::size_t holdLimit = 0);

  // The same for name in directory, which must be the file itself, not a
  // link to it (see LocateFile).
  bool Open(const Directory& directory, const std::string& name, std::size_t holdLimit = 0);

  // Whether the open file still has the size and modification time that it
  // had when it was opened.
  bool Unchanged() const;

  // Whether name in directory still is the open file (no link), and it is
  // unchanged.
  bool StillAt(const Directory& directory, const std::string& name) const;

  // The permission bits of the open file.
  unsigned Permissions() const { return permissions_; }

  // Reads the next line into line, without its line end. False at the end of
  // the input. Throws Exception when reading fails.
  bool ReadLine(std::string& line);

  // How the last line that ReadLine gave ended.
  LineEnd LastLineEnd() const { return lastEnd_; }

  // Whether a Ctrl-Z ended the input; Offset() is then that of the Ctrl-Z.
  bool AtCtrlZ() const { return stopped_; }

  // The offset in the file of the next byte that reading takes.
  std::uint64_t Offset() const { return base_ + pos_; }

  // The file's size when it was opened.
  std::uint64_t Size() const { return size_; }

  // How the first line of the file ends: kLf, kCrLf, or kNone when the file
  // holds no LF before its first Ctrl-Z. The position is then undefined.
  // Throws Exception when reading fails.
  LineEnd FirstLineEnd();

  // From now on every byte read, from the start of the file on, is also
  // looked at for a NUL byte while it is in the buffer anyway.
  void WatchForNul();

  // Whether the file, Ctrl-Z or not, holds a NUL byte (or cannot be read to
  // its end). Only what was not looked at since WatchForNul is read; the
  // position is then undefined. Throws Exception when reading fails.
  bool HoldsNul();

  // Goes on reading at offset, which is taken as the start of a line. False
  // when the file cannot be positioned there.
  bool Seek(std::uint64_t offset);

  // Whether the rest of the text may hold needle (no CR or LF in it); the
  // position is then undefined. True may be said of a text that proves not to
  // hold it, never false of one that does. Throws Exception when reading
  // fails.
  bool MayHold(const std::string& needle);

  // Passes over whole lines that stops lets pass, and stops at the start of
  // the first line that it does not (or at one longer than the buffer, which
  // ReadLine then takes). False at the end of the input. Throws Exception
  // when reading fails.
  bool SkipLines(const text::LineStops& stops);

  // The same, showing each run of the lines passed over to passed (whole
  // lines, in order, each byte once) before it goes on.
  bool SkipLines(const text::LineStops& stops,
                 const std::function<void(const char* data, std::size_t size)>& passed);

  // Closes the file; harmless when it is not open.
  void Close();

  // The size of the buffer from the next Open on (tests make it small).
  void SetBufferSize(std::size_t size);

  // From now on ReadLine gives a line longer than size in parts: each part
  // ends after the first blank at or beyond size bytes of it (LastLineEnd is
  // then kPart), so that a long line is never held whole unless it is one
  // long word. Where parts end depends only on the line, not on the reads.
  void SetLinePart(std::size_t size) { linePart_ = size; }

 private:
  friend class NativeAccess;
  friend class TextWriter;  // copies from the buffer (CopyFrom)

  bool Adopt(int fd, std::size_t holdLimit);
  // Takes fd, once the system's part of Adopt has read its size, and sizes
  // the buffer for it; Reset forgets the file after the system closed it.
  void Start(int fd, std::size_t holdLimit);
  void Reset();
  // The system's reading: up to room bytes (0 at the end; throws Exception
  // when reading fails), and going to offset (false when that fails).
  std::size_t ReadSome(char* into, std::size_t room);
  bool MoveTo(std::uint64_t offset);
  // Looks at the bytes buffer_[from, to) for a NUL when they go on where the
  // watch stands.
  void Watch(std::size_t from, std::size_t to);
  // Keeps the unread bytes and reads more behind them; false when nothing
  // more can be read (the end of the input, or a full buffer).
  bool Fill();
  // The bytes [from, to) of the file when the buffer holds them, else nullptr.
  const char* Buffered(std::uint64_t from, std::uint64_t to) const;

  int fd_;
  std::unique_ptr<char[]> buffer_;  // allocated once, grown only to hold a file
  std::size_t capacity_;
  std::size_t bufferSize_;  // how much one read takes, unless the file is held
  std::size_t linePart_ = static_cast<std::size_t>(-1);
  std::size_t window_;  // how much of the buffer this file uses
  std::size_t pos_;
  std::size_t end_;
  std::uint64_t base_;  // the offset in the file of buffer_[0]
  std::uint64_t size_;  // the file's size when it was opened
  FileIdentity identity_{};
  std::int64_t modified_ = 0;  // the modification time when it was opened, in ns
  unsigned permissions_ = 0;
  bool eof_;                   // nothing more to read behind end_
  bool stopped_;               // a Ctrl-Z ended the input
  bool watching_ = false;      // WatchForNul was called for this file
  bool nul_ = false;           // a NUL byte was seen while watching
  std::uint64_t watched_ = 0;  // the bytes [0, watched_) were looked at
  LineEnd lastEnd_;
  std::string name_;  // how messages name the file
};

// Writes a file through a buffer. WriteLine adds CR LF.
class TextWriter {
 public:
  TextWriter();
  ~TextWriter();
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;

  // Creates the new file name in directory, with permissions (less the
  // umask); never truncates or follows a link: kExists when anything of
  // that name is there already. The default makes it readable and writable
  // by this process's user alone. It
  // is locked against other writers until it is closed (see
  // RemoveLeftoverTemporary).
  FileStatus CreateExclusive(const Directory& directory, const std::string& name,
                             unsigned permissions = 0600);

  // Opens name in directory for appending, creating it with permissions
  // (less the process's umask) when missing, and locks it against other
  // writers until it is closed. Never follows a link and never waits for a
  // reader. kNone when it is open; else why not: kLink, kFifo, kDirectory,
  // kNotRegular, kSecondName (a hard link), kNotWritable, kLocked (another
  // process held it longer than a run holds a log), kDiskFull, kMissing (the
  // directory went), kFailed.
  FileProblem OpenAppend(const Directory& directory, const std::string& name, unsigned permissions);

  // Cuts the file back to the length it had when OpenAppend opened it, or
  // removes it when OpenAppend created it, so that a write that failed
  // half-way, or lines whose source was not replaced, leave nothing behind.
  // Closes the file. False when that fails.
  bool Undo();

  // Gives the last size bytes of the file, as it is, to slice in slices
  // one after the other, while it says true. False when the file is
  // shorter, cannot be read, or slice said false. Nothing buffered counts.
  bool ReadEnd(std::uint64_t size, const std::function<bool(std::string_view)>& slice) const;

  // Writes into text, behind what it holds, instead of a file, until Close
  // or Abandon; text must outlive that. A preview makes new texts this way.
  void OpenMemory(std::string& text);

  // Takes every byte and keeps none, until Close or Abandon: a rewrite
  // that only has to succeed or fail, as a run's would, writes this way.
  // CopyFrom still reads what it copies.
  void OpenDiscard();

  bool IsOpen() const { return fd_ >= 0 || memory_ != nullptr; }

  // How messages name the file from now on (the name it was opened by
  // stays the one its directory knows it by).
  void SetName(const std::string& name) { shown_ = name; }

  // Writes line followed by CR LF. Throws Exception when writing fails.
  void WriteLine(const std::string& line);

  // Writes bytes as they are. Throws FileError when writing fails.
  void Write(const char* data, std::size_t size);
  void Write(const std::string& text) { Write(text.data(), text.size()); }

  // Writes the bytes [from, to) of the file that source reads, as they are:
  // from its buffer when it holds them, else file to file in the kernel. False
  // when source cannot give them all (it was shortened, or reading failed);
  // throws Exception when writing fails.
  bool CopyFrom(const TextReader& source, std::uint64_t from, std::uint64_t to);

  // Writes what is buffered and closes. Throws Exception when that fails.
  void Close();

  // Closes without reporting anything; for clean-up after a failure.
  void Abandon();

  void Flush();

  // Writes what is buffered and has the system put the file's bytes on the
  // disk, so that they outlive a power loss. Throws Exception when that
  // fails (an input/output error, or a disk that filled up late).
  void Sync();

 private:
  friend class NativeAccess;
  friend FileProblem LogProblem(TextWriter& log, const TextReader& source);

  bool Adopt(int fd, const std::string& path);
  void AllocateBuffer();
  // The system's writing of all size bytes, and its closing of the file
  // once all is written; both throw Exception when they fail.
  void WriteOut(const char* data, std::size_t size);
  void CloseFile();
  // The system's part of Sync.
  void SyncFile();
  // The system's copying of the bytes [from, to) that source does not hold
  // in its buffer (see CopyFrom).
  bool CopyFromFile(const TextReader& source, std::uint64_t from, std::uint64_t to);

  int fd_;
  std::string* memory_ = nullptr;   // written into instead of fd_ when set
  bool discard_ = false;            // with memory_: nothing is kept in it
  std::string discarded_;           // memory_ when discarding: stays empty
  std::uint64_t startLength_ = 0;   // the length when OpenAppend opened the file
  int createdIn_ = -1;              // the directory of a file that OpenAppend created
  std::string path_;                // the name in its directory
  std::string shown_;               // how messages name it
  std::unique_ptr<char[]> buffer_;  // allocated once, never zero-filled
  std::size_t used_;
};

// kNone when the log that log has open may take the notes of the source that
// source has open: it has one name, its owner is this process's user, the
// source's owner or root, and no one may read it who may not read the
// source; else kSecondName, kOtherOwner, kReadableByOthers or kFailed. A log
// that another user planted beside a private source would hand its notes
// on. A log that OpenAppend created first takes the source's group, where
// the process may give it.
FileProblem LogProblem(TextWriter& log, const TextReader& source);
FileProblem LogProblem(const TextReader& log, const TextReader& source);

}  // namespace platform
