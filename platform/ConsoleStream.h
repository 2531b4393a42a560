// What each system adds to the console: how one line goes to a stream.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

// Writes line and this system's line end to stream (stdout or stderr).
void WriteStreamLine(std::FILE* stream, const std::string& line);

}  // namespace platform
