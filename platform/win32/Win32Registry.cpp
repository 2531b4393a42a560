#include <windows.h>

#include <vector>

#include "base/Exception.h"
#include "platform/Registry.h"
#include "platform/win32/Win32Error.h"

namespace platform {
namespace {

// The key below HKEY_CURRENT_USER as the registry takes it: no leading,
// trailing or doubled backslash (a REGPATH read back from what WRITEREG wrote
// ends in two).
std::string SubKey(const std::string& keyPath) {
  std::string key;
  std::size_t pos = 0;
  while (pos <= keyPath.size()) {
    std::size_t end = keyPath.find('\\', pos);
    if (end == std::string::npos) end = keyPath.size();
    if (end > pos) {
      if (!key.empty()) key += '\\';
      key += keyPath.substr(pos, end - pos);
    }
    pos = end + 1;
  }
  return key;
}

std::string KeyDisplayName(const std::string& keyPath) {
  const std::string key = SubKey(keyPath);
  return key.empty() ? "HKEY_CURRENT_USER" : "HKEY_CURRENT_USER\\" + key;
}

// Closes an open key when it goes out of scope.
class OpenKey {
 public:
  OpenKey() = default;
  ~OpenKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  HKEY* Receive() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

std::string RegistryHivePath() { return "HKEY_CURRENT_USER"; }

bool ReadRegistryString(const std::string& keyPath, const std::string& valueName,
                        std::string& value) {
  OpenKey key;
  // A key that cannot be opened, for whatever reason, reads as missing.
  if (RegOpenKeyExA(HKEY_CURRENT_USER, SubKey(keyPath).c_str(), 0, KEY_QUERY_VALUE,
                    key.Receive()) != ERROR_SUCCESS) {
    return false;
  }
  const char* name = valueName.c_str();
  std::vector<BYTE> data(256);
  DWORD type = 0;
  LONG result;
  for (;;) {
    DWORD size = static_cast<DWORD>(data.size());
    result = RegQueryValueExA(key.Get(), name, nullptr, &type, data.data(), &size);
    if (result == ERROR_MORE_DATA) {
      data.resize(static_cast<std::size_t>(size) + 1);
      continue;
    }
    data.resize(result == ERROR_SUCCESS ? size : 0);
    break;
  }
  if (result == ERROR_FILE_NOT_FOUND) {
    value.clear();
    return true;
  }
  if (result == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
    // The stored text ends in its NUL (a value written by hand may lack it).
    std::string text(data.begin(), data.end());
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    value = std::move(text);
    return true;
  }
  throw Exception("The registry value \"" + (valueName.empty() ? "@" : valueName) + "\" of " +
                  KeyDisplayName(keyPath) + " is not a text value");
}

void WriteRegistryString(const std::string& keyPath, const std::string& valueName,
                         const std::string& value) {
  OpenKey key;
  LONG result =
      RegCreateKeyExA(HKEY_CURRENT_USER, SubKey(keyPath).c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key.Receive(), nullptr);
  if (result == ERROR_SUCCESS) {
    result = RegSetValueExA(key.Get(), valueName.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
  }
  if (result != ERROR_SUCCESS) {
    throw Exception("Cannot write the registry key " + KeyDisplayName(keyPath) + ": " +
                    Win32ErrorText(static_cast<DWORD>(result)));
  }
}

}  // namespace platform
