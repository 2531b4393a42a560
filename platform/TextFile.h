// Text files read line by line and written with CR LF line ends. Bytes pass
// unchanged: there is no conversion of characters.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Reads a text file line by line: LF or CR LF ends a line, a CR not followed
// by LF is dropped, byte 26 (Ctrl-Z) ends the input, a last line without a
// line end is still a line. Lines have no length limit.
class TextReader {
 public:
  TextReader();
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  // Opens path for reading; false when it cannot be opened or is no regular
  // file.
  bool Open(const std::string& path);

  // Reads the next line into line, without its line end. False at the end of
  // the input. Throws Exception when reading fails.
  bool ReadLine(std::string& line);

  // Closes the file; harmless when it is not open.
  void Close();

 private:
  bool Fill();

  int fd_;
  std::unique_ptr<char[]> buffer_;  // allocated once, never zero-filled
  std::size_t pos_;
  std::size_t end_;
  bool atEnd_;
};

// Writes a file through a buffer. WriteLine adds CR LF.
class TextWriter {
 public:
  enum class CreateResult { kOk, kExists, kFailed };

  TextWriter();
  ~TextWriter();
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;

  // Creates a new file; never truncates or follows a link: kExists when
  // anything of that name is there already.
  CreateResult CreateExclusive(const std::string& path);

  // Opens path for appending, creating it when missing. False on failure.
  bool OpenAppend(const std::string& path);

  bool IsOpen() const { return fd_ >= 0; }

  // Writes line followed by CR LF. Throws Exception when writing fails.
  void WriteLine(const std::string& line);

  // Writes bytes as they are. Throws Exception when writing fails.
  void Write(const char* data, std::size_t size);
  void Write(const std::string& text) { Write(text.data(), text.size()); }

  // Writes what is buffered and closes. Throws Exception when that fails.
  void Close();

  // Closes without reporting anything; for clean-up after a failure.
  void Abandon();

  // The descriptor while open (for the platform layer only).
  int Descriptor() const { return fd_; }

 private:
  void Flush();

  int fd_;
  std::string path_;
  std::unique_ptr<char[]> buffer_;  // allocated once, never zero-filled
  std::size_t used_;
};

}  // namespace platform
