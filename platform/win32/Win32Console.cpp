#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/ConsoleStream.h"

namespace platform {
namespace {

// The C library's text mode would turn the "\r\n" written here into
// "\r\r\n": both streams are switched to binary once, before the first byte.
void UseBinaryStreams() {
  static const bool switched = [] {
    std::fflush(stdout);
    std::fflush(stderr);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    return true;
  }();
  (void)switched;
}

}  // namespace

void WriteStreamLine(std::FILE* stream, std::string_view head, std::string_view text) {
  UseBinaryStreams();
  // An empty piece may have no bytes at all to point at.
  if (!head.empty()) std::fwrite(head.data(), 1, head.size(), stream);
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stream);
  std::fwrite("\r\n", 1, 2, stream);
}

void WriteStreamText(std::FILE* stream, std::string_view text) {
  UseBinaryStreams();
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stream);
}

bool StreamIsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

void UseBinaryInput() {
  static const bool switched = [] {
    _setmode(_fileno(stdin), _O_BINARY);
    return true;
  }();
  (void)switched;
}

}  // namespace platform
