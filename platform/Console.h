// Standard output and standard error, and standard input read whole. Every
// line ends with the platform's line end: LF on Linux (a Windows build
// writes CR LF).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Where console lines go; tests install their own to capture them.
class ConsoleSink {
 public:
  virtual ~ConsoleSink() = default;
  virtual void WriteLine(const std::string& line) = 0;
  virtual void WriteErrorLine(const std::string& line) = 0;
};

// Writes line and the line end to standard output (or the installed sink).
void WriteLine(const std::string& line);

// Writes head and text as one line, the same way, without joining them
// first: a line of a diff may be as long as a whole source.
void WriteLine(std::string_view head, std::string_view text);

// Writes line and the line end to standard error (or the installed sink).
void WriteErrorLine(const std::string& line);

// Whether standard error is a terminal (false while a sink is installed).
bool ErrorIsTerminal();

// Shows text (one short line) as the status line at the foot of standard
// error, in place of the one shown before; the next line written to either
// stream, or ClearStatusLine, removes it first. Meant for a terminal.
void ShowStatusLine(const std::string& text);
void ClearStatusLine();

// Every byte of standard input up to its end, unchanged, into text. False
// when it cannot be read.
bool ReadStandardInput(std::string& text);

// Pushes buffered output to the terminal or file.
void FlushConsole();

// Installs sink for every later line; nullptr restores the real console.
// Returns the sink that was installed before.
ConsoleSink* SetConsoleSink(ConsoleSink* sink);

}  // namespace platform
