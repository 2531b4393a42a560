#include "platform/Console.h"

#include <algorithm>
#include <cstdio>

#include "platform/ConsoleStream.h"

namespace platform {
namespace {

ConsoleSink* installedSink = nullptr;

// The width of the status line shown on standard error; 0: none is shown.
std::size_t statusWidth = 0;

// A line of standard output removes the status line when it would be
// written over it: when standard output is a terminal too.
void ClearStatusBeforeOutput() {
  if (statusWidth == 0) return;
  static const bool outputIsTerminal = StreamIsTerminal(stdout);
  if (outputIsTerminal) ClearStatusLine();
}

}  // namespace

void WriteLine(const std::string& line) {
  if (installedSink != nullptr) {
    installedSink->WriteLine(line);
    return;
  }
  ClearStatusBeforeOutput();
  WriteStreamLine(stdout, {}, line);
}

void WriteLine(std::string_view head, std::string_view text) {
  if (installedSink != nullptr) {
    installedSink->WriteLine(std::string(head).append(text));
    return;
  }
  ClearStatusBeforeOutput();
  WriteStreamLine(stdout, head, text);
}

void WriteErrorLine(const std::string& line) {
  if (installedSink != nullptr) {
    installedSink->WriteErrorLine(line);
    return;
  }
  ClearStatusLine();
  // What was written to standard output comes first where both are shown.
  std::fflush(stdout);
  WriteStreamLine(stderr, {}, line);
}

bool ErrorIsTerminal() { return installedSink == nullptr && StreamIsTerminal(stderr); }

void ShowStatusLine(const std::string& text) {
  if (installedSink != nullptr) return;
  // Lines of standard output first, so that none lands behind the status.
  std::fflush(stdout);
  // Blanks over what is left of a longer line before; no control sequence,
  // which not every terminal reads.
  std::string shown = "\r" + text;
  if (text.size() < statusWidth) shown.append(statusWidth - text.size(), ' ');
  WriteStreamText(stderr, shown);
  std::fflush(stderr);
  statusWidth = std::max(statusWidth, text.size());
}

void ClearStatusLine() {
  if (statusWidth == 0) return;
  WriteStreamText(stderr, "\r" + std::string(statusWidth, ' ') + "\r");
  std::fflush(stderr);
  statusWidth = 0;
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
