#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/Exception.h"
#include "platform/FileSystem.h"
#include "platform/PrivateProfile.h"
#include "platform/posix/PosixStoreFile.h"
#include "text/IniText.h"

namespace platform {
namespace {

// "Cannot read the INI file FILE: reason", or write.
[[noreturn]] void Fail(const char* doing, const std::string& file, const std::string& reason) {
  throw Exception(std::string("Cannot ") + doing + " the INI file " + file + ": " + reason);
}

}  // namespace

IniSection ReadIniSection(const std::string& file, const std::string& section) {
  // The switch library asks for every switch, so the text is read once and
  // each section taken from it once, as long as the file stays as it was.
  struct TIniFile {
    std::string text;
    std::map<std::string, IniSection> sections;
  };
  // The Windows service reads a file it cannot open as one without sections.
  static StoreFileCache<TIniFile> cache([](std::string text) {
    return TIniFile{std::move(text), {}};
  });
  try {
    return cache.Use(NativePath(file), [&](TIniFile& ini) {
      auto found = ini.sections.find(section);
      if (found == ini.sections.end()) {
        found = ini.sections
                    .emplace(section, std::make_shared<const std::vector<std::string>>(
                                          text::IniSectionEntries(ini.text, section)))
                    .first;
      }
      return found->second;
    });
  } catch (const StoreFileError& refused) {
    Fail("read", file, refused.Message());
  }
}

void WriteIniEntry(const std::string& file, const std::string& section, const std::string& name,
                   const std::string& value) {
  int error = 0;
  try {
    error = RewriteStoreFile(NativePath(file), [&](const std::string& content) {
      return text::IniSetEntry(content, section, name, value);
    });
  } catch (const Exception& e) {
    // A refused file, or a name that the file cannot hold.
    Fail("write", file, e.Message());
  }
  if (error != 0) Fail("write", file, ErrorText(error));
}

}  // namespace platform
