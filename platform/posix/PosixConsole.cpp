#include <unistd.h>

#include <cstdio>

#include "platform/ConsoleStream.h"

namespace platform {

void WriteStreamLine(std::FILE* stream, std::string_view head, std::string_view text) {
  // An empty piece may have no bytes at all to point at.
  if (!head.empty()) std::fwrite(head.data(), 1, head.size(), stream);
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stream);
  std::fwrite("\n", 1, 1, stream);
}

void WriteStreamText(std::FILE* stream, std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stream);
}

bool StreamIsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

// POSIX streams have no text mode.
void UseBinaryInput() {}

}  // namespace platform
