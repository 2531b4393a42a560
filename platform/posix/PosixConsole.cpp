#include <cstdio>

#include "platform/Console.h"

namespace platform {
namespace {

ConsoleSink* installedSink = nullptr;

void WriteTo(std::FILE* stream, const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fwrite("\n", 1, 1, stream);
}

}  // namespace

void WriteLine(const std::string& line) {
  if (installedSink != nullptr) {
    installedSink->WriteLine(line);
    return;
  }
  WriteTo(stdout, line);
}

void WriteErrorLine(const std::string& line) {
  if (installedSink != nullptr) {
    installedSink->WriteErrorLine(line);
    return;
  }
  std::fflush(stdout);
  WriteTo(stderr, line);
}

void FlushConsole() {
  std::fflush(stdout);
  std::fflush(stderr);
}

ConsoleSink* SetConsoleSink(ConsoleSink* sink) {
  ConsoleSink* previous = installedSink;
  installedSink = sink;
  return previous;
}

}  // namespace platform
