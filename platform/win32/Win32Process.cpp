#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "platform/win32/Win32Native.h"

namespace platform {
namespace {

std::string commandLine;
std::string programPath;

std::string ModuleFileName() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    // A path that did not fit comes back cut to the buffer's size.
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

// One piece of a command line: its text as given and the argument that the
// C runtime makes of it.
struct Piece {
  std::string raw;
  std::string argument;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The program's name: up to the closing quote when it starts with one (no
// backslash rules), else up to the first blank.
Piece ProgramPiece(const std::string& text, std::size_t& at) {
  Piece piece;
  bool quoted = false;
  for (; at < text.size() && (quoted || !IsBlank(text[at])); ++at) {
    if (text[at] == '"') {
      quoted = !quoted;
    } else {
      piece.argument += text[at];
    }
  }
  piece.raw = text.substr(0, at);
  return piece;
}

// Splits a command line as the C runtime does for argv: a blank outside
// quotes ends an argument; 2n backslashes before a quote give n and the
// quote opens or closes, 2n+1 give n and a literal quote; "" inside quotes
// is a literal quote; other backslashes are kept.
std::vector<Piece> SplitCommandLine(const std::string& text) {
  std::size_t at = 0;
  std::vector<Piece> pieces{ProgramPiece(text, at)};
  for (;;) {
    while (at < text.size() && IsBlank(text[at])) ++at;
    if (at >= text.size()) break;
    const std::size_t start = at;
    Piece piece;
    bool quoted = false;
    while (at < text.size() && (quoted || !IsBlank(text[at]))) {
      std::size_t backslashes = 0;
      for (; at < text.size() && text[at] == '\\'; ++at) ++backslashes;
      if (at >= text.size() || text[at] != '"') {
        piece.argument.append(backslashes, '\\');
        if (backslashes == 0) piece.argument += text[at++];
        continue;
      }
      piece.argument.append(backslashes / 2, '\\');
      if (backslashes % 2 == 1) {
        piece.argument += '"';
      } else if (quoted && at + 1 < text.size() && text[at + 1] == '"') {
        piece.argument += '"';
        ++at;
      } else {
        quoted = !quoted;
      }
      ++at;
    }
    piece.raw = text.substr(start, at - start);
    pieces.push_back(piece);
  }
  return pieces;
}

}  // namespace

std::string CommandLineOf(const std::string& raw, const std::vector<std::string>& kept) {
  const std::vector<Piece> pieces = SplitCommandLine(raw);
  std::string result = pieces.front().raw;
  std::size_t next = 1;
  for (std::size_t i = 1; i < pieces.size() && next < kept.size(); ++i) {
    if (pieces[i].argument != kept[next]) continue;
    result += ' ';
    result += pieces[i].raw;
    ++next;
  }
  // Where the pieces and the arguments do not agree, the whole line is read.
  return next == kept.size() ? result : raw;
}

void SetProcessArguments(int argc, const char* const* argv) {
  // The switches are read from the command line as the process was given
  // it, with its quotes, not as the C library split it; but only from the
  // pieces that stand for the arguments kept for them, so that the
  // program's options and the names after "--" are not read as switches.
  const char* text = GetCommandLineA();
  commandLine = CommandLineOf(text != nullptr ? text : "",
                              std::vector<std::string>(argv, argv + std::max(argc, 0)));
  programPath = ModuleFileName();
}

std::string CommandLine() { return commandLine; }

std::string ProgramPath() { return programPath; }

void RaiseOpenFileLimit() {}

unsigned CreatedFilePermissions(unsigned requested) {
  (void)requested;
  return 0644;
}

}  // namespace platform
