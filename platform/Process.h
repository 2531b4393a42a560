// The running process: its command line and its program file.
#pragma once

#include <string>

namespace platform {

// Records the argument vector; main calls this first.
void SetProcessArguments(int argc, const char* const* argv);

// The whole command line as one text: the program's file name without its
// directory, then every argument preceded by one blank.
std::string CommandLine();

// The program file's full path, links resolved, as a path text: with
// backslashes ("\\home\\ann\\bin\\histrel"), mapped to a native path only
// where a file is reached.
std::string ProgramPath();

// Lets the process hold as many descriptors as the system allows it: the
// walk keeps one directory of every level open. On POSIX the soft limit is
// raised to the hard one; Windows has no such limit, nothing changes there.
void RaiseOpenFileLimit();

// Replaces the command line and the program path, given as a native path or
// a path text (tests only). Kept in the product because the path comes from
// /proc/self/exe, which a test cannot point at a directory of its own, where
// the INI file beside the program is.
void SetProcessForTesting(const std::string& commandLine, const std::string& programPath);

}  // namespace platform
