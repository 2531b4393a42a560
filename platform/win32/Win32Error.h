// The system's text for a Windows error code.
#pragma once

#include <windows.h>

#include <string>

namespace platform {

// FormatMessageA's text for error (GetLastError or a registry result),
// without its line end; "error N" when the system has none.
std::string Win32ErrorText(DWORD error);

}  // namespace platform
