#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/Console.h"

namespace platform {
namespace {

ConsoleSink* installedSink = nullptr;

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

void WriteTo(std::FILE* stream, const std::string& line) {
  UseBinaryStreams();
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fwrite("\r\n", 1, 2, stream);
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
