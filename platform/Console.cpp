#include "platform/Console.h"

#include <cstdio>

#include "platform/ConsoleStream.h"

namespace platform {
namespace {

ConsoleSink* installedSink = nullptr;

}  // namespace

void WriteLine(const std::string& line) {
  if (installedSink != nullptr) {
    installedSink->WriteLine(line);
    return;
  }
  WriteStreamLine(stdout, {}, line);
}

void WriteLine(std::string_view head, std::string_view text) {
  if (installedSink != nullptr) {
    installedSink->WriteLine(std::string(head).append(text));
    return;
  }
  WriteStreamLine(stdout, head, text);
}

void WriteErrorLine(const std::string& line) {
  if (installedSink != nullptr) {
    installedSink->WriteErrorLine(line);
    return;
  }
  // What was written to standard output comes first where both are shown.
  std::fflush(stdout);
  WriteStreamLine(stderr, {}, line);
}

bool ReadStandardInput(std::string& text) {
  UseBinaryInput();
  text.clear();
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) {
    text.append(buffer, n);
  }
  return std::ferror(stdin) == 0;
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
