// What each system adds to the console: how one line goes to a stream, and
// how standard input gives its bytes unchanged.
#pragma once

#include <cstdio>
#include <string_view>

namespace platform {

// Writes head, text and this system's line end to stream (stdout or
// stderr).
void WriteStreamLine(std::FILE* stream, std::string_view head, std::string_view text);

// Writes text to stream as it is, with no line end.
void WriteStreamText(std::FILE* stream, std::string_view text);

// Whether stream is a terminal.
bool StreamIsTerminal(std::FILE* stream);

// Makes stdin give its bytes as they are (no line ends turned into others,
// no stop at a Ctrl-Z).
void UseBinaryInput();

}  // namespace platform
