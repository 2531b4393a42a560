#include <windows.h>

#include <vector>

#include "base/Exception.h"
#include "platform/PrivateProfile.h"
#include "platform/win32/Win32Error.h"
#include "platform/win32/Win32Native.h"

namespace platform {
namespace {

// The service looks for a file named without a directory in the Windows
// directory, not in the current one: every name is made absolute first.
std::string FullPath(const std::string& file) {
  // Made whole by the wide function, which knows no length limit; the
  // service itself is given the ANSI path it takes.
  const std::wstring path = LongPath(file);
  return path.empty() ? file : ShortForm(path);
}

}  // namespace

IniSection ReadIniSection(const std::string& file, const std::string& section) {
  const std::string path = FullPath(file);
  std::vector<char> buffer(4096);
  DWORD length;
  for (;;) {
    length = GetPrivateProfileSectionA(section.c_str(), buffer.data(),
                                       static_cast<DWORD>(buffer.size()), path.c_str());
    // A section that did not fit comes back cut, its length the buffer's less two.
    if (length + 2 < buffer.size()) break;
    buffer.resize(buffer.size() * 4);
  }
  // The system keeps the file; each call makes the entries anew.
  auto entries = std::make_shared<std::vector<std::string>>();
  std::size_t start = 0;
  while (start < length) {
    const std::string entry(buffer.data() + start);
    entries->push_back(entry);
    start += entry.size() + 1;
  }
  return entries;
}

void WriteIniEntry(const std::string& file, const std::string& section, const std::string& name,
                   const std::string& value) {
  const std::string path = FullPath(file);
  if (!WritePrivateProfileStringA(section.c_str(), name.c_str(), value.c_str(), path.c_str())) {
    throw Exception("Cannot write the INI file " + file + ": " + Win32ErrorText(GetLastError()));
  }
}

}  // namespace platform
