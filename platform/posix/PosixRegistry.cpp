#include <stdlib.h>

#include "base/Exception.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/posix/PosixHome.h"
#include "platform/posix/PosixStoreFile.h"
#include "text/RegistryHive.h"

namespace platform {
namespace {

// The key as a person reads it: HKEY_CURRENT_USER\Software\...
std::string KeyDisplayName(const std::string& keyPath) {
  std::string name = "HKEY_CURRENT_USER";
  std::size_t pos = 0;
  while (pos <= keyPath.size()) {
    std::size_t end = keyPath.find('\\', pos);
    if (end == std::string::npos) end = keyPath.size();
    if (end > pos) name += "\\" + keyPath.substr(pos, end - pos);
    pos = end + 1;
  }
  return name;
}

// "Cannot read the registry hive HIVE: reason", or write.
[[noreturn]] void Fail(const char* doing, const std::string& hive, const std::string& reason) {
  throw Exception(std::string("Cannot ") + doing + " the registry hive " + hive + ": " + reason);
}

}  // namespace

std::string RegistryHivePath() {
  // As the XDG base directory rules say: an empty or relative value does not count.
  const char* config = getenv("XDG_CONFIG_HOME");
  std::string base = config != nullptr && config[0] == '/' ? config : HomeDirectory() + "/.config";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/programswitch/HKEY_CURRENT_USER.reg";
}

bool ReadRegistryString(const std::string& keyPath, const std::string& valueName,
                        std::string& value) {
  // A hive that cannot be read has no keys, as a key that cannot be opened
  // reads as missing on Windows; a refused one is an error. It is parsed
  // once while it stays as it was: the switch library looks up every switch
  // in it.
  static StoreFileCache<text::RegistryHive> cache(
      [](std::string content) { return text::RegistryHive(std::move(content)); });
  const std::string path = RegistryHivePath();
  std::string found;
  text::RegistryHive::Lookup lookup = text::RegistryHive::Lookup::kNoKey;
  try {
    lookup = cache.Use(NativePath(path), [&](const text::RegistryHive& hive) {
      return hive.Find(keyPath, valueName, found);
    });
  } catch (const StoreFileError& refused) {
    Fail("read", path, refused.Message());
  }
  switch (lookup) {
    case text::RegistryHive::Lookup::kNoKey:
      return false;
    case text::RegistryHive::Lookup::kNoValue:
      value.clear();
      return true;
    case text::RegistryHive::Lookup::kText:
      value = std::move(found);
      return true;
    case text::RegistryHive::Lookup::kNotText:
      break;
  }
  throw Exception("The registry value \"" + (valueName.empty() ? "@" : valueName) + "\" of " +
                  KeyDisplayName(keyPath) + " is not a text value");
}

void WriteRegistryString(const std::string& keyPath, const std::string& valueName,
                         const std::string& value) {
  const std::string hive = RegistryHivePath();
  if (const int error = CreateDirectories(DirectoryOf(hive), 0700)) {
    Fail("write", hive, ErrorText(error));
  }
  // A hive that is a link (kept with other settings) stays a link.
  int error = 0;
  try {
    error = RewriteStoreFile(NativePath(hive), [&](const std::string& content) {
      text::RegistryHive model(content);
      model.SetString(keyPath, valueName, value);
      return model.Text();
    });
  } catch (const Exception& e) {
    // A refused hive, or a key or value name that the hive cannot hold.
    Fail("write", hive, e.Message());
  }
  if (error != 0) Fail("write", hive, ErrorText(error));
}

}  // namespace platform
