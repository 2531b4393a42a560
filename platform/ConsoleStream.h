// What each system adds to the console: how one line goes to a stream.
#pragma once

#include <cstdio>
#include <string_view>

namespace platform {

// Writes head, text and this system's line end to stream (stdout or
// stderr).
void WriteStreamLine(std::FILE* stream, std::string_view head, std::string_view text);

}  // namespace platform
