#include <windows.h>

#include <vector>

#include "platform/Process.h"

namespace platform {
namespace {

std::string commandLine;
std::string programPath;
bool overridden = false;

std::string ModuleFileName() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    // A path that did not fit comes back cut to the buffer's size.
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

// Forward slashes of a test's path become the backslashes of every path text.
std::string SystemPathOf(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

}  // namespace

void SetProcessArguments(int, const char* const*) {
  if (overridden) return;
  // The command line as the process was given it, not as the C library split
  // it: the switches are read from the text after its first "/".
  const char* text = GetCommandLineA();
  commandLine = text != nullptr ? text : "";
  programPath = ModuleFileName();
}

std::string CommandLine() { return commandLine; }

std::string ProgramPath() { return programPath; }

void RaiseOpenFileLimit() {}

void SetProcessForTesting(const std::string& aCommandLine, const std::string& aProgramPath) {
  commandLine = aCommandLine;
  programPath = SystemPathOf(aProgramPath);
  overridden = true;
}

unsigned CreatedFilePermissions(unsigned requested) {
  (void)requested;
  return 0644;
}

}  // namespace platform
