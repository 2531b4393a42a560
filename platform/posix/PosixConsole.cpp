#include <cstdio>

#include "platform/ConsoleStream.h"

namespace platform {

void WriteStreamLine(std::FILE* stream, const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fwrite("\n", 1, 1, stream);
}

}  // namespace platform
