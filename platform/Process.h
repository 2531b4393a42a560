// The running process: its command line, its program file, and the
// permissions of the files it creates.
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

// The permission bits a file that this process creates with the bits
// requested gets: those less the process's umask (read once). Windows has
// no such bits: 0644, as git shows every file there.
unsigned CreatedFilePermissions(unsigned requested);

}  // namespace platform
