#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Process.h"
#include "platform/posix/FileCalls.h"

namespace platform {
namespace {

std::string commandLine;
std::string programPath;

std::string BaseName(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A path text of the system: every "/" of a native path becomes "\\", as in
// every other path text, so that it survives the switch language (where "/"
// starts a switch) when WRITEINI writes the program's directory.
std::string SystemPathOf(std::string native) {
  for (char& c : native) {
    if (c == '/') c = '\\';
  }
  return native;
}

// Read through the file calls, so that a test can say where the program is
// (and so where its INI file is).
std::string ReadProgramPath(const char* argv0) {
  char buffer[PATH_MAX + 1];
  const ssize_t n = Calls().ReadLinkAt(AT_FDCWD, "/proc/self/exe", buffer, PATH_MAX);
  if (n > 0) return std::string(buffer, static_cast<std::size_t>(n));
  std::string resolved;
  if (Calls().RealPath(argv0 != nullptr ? argv0 : "", resolved)) return resolved;
  return argv0 != nullptr ? argv0 : "";
}

}  // namespace

void SetProcessArguments(int argc, const char* const* argv) {
  const char* argv0 = argc > 0 ? argv[0] : nullptr;
  const std::string native = ReadProgramPath(argv0);
  programPath = SystemPathOf(native);
  // Only the file name stands in front of the arguments, so that the slashes
  // of a POSIX path never become switch pieces.
  commandLine = BaseName(argv0 != nullptr ? argv0 : native);
  for (int i = 1; i < argc; ++i) {
    commandLine += ' ';
    commandLine += argv[i];
  }
}

std::string CommandLine() { return commandLine; }

std::string ProgramPath() { return programPath; }

void RaiseOpenFileLimit() {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  // Where it cannot be raised, a tree too deep for the limit ends the walk
  // with a message.
  setrlimit(RLIMIT_NOFILE, &limit);
}

unsigned CreatedFilePermissions(unsigned requested) {
  // The umask can only be read by setting it: it is set back at once, and
  // read only the first time, before any file of the run is created.
  static const unsigned mask = [] {
    const mode_t old = umask(0);
    umask(old);
    return static_cast<unsigned>(old);
  }();
  return requested & ~mask & 07777U;
}

}  // namespace platform
