#include <cstdio>

#include "platform/ConsoleStream.h"

namespace platform {

void WriteStreamLine(std::FILE* stream, std::string_view head, std::string_view text) {
  std::fwrite(head.data(), 1, head.size(), stream);
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fwrite("\n", 1, 1, stream);
}

}  // namespace platform
