#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/Exception.h"
#include "platform/FileSystem.h"
#include "platform/PrivateProfile.h"
#include "platform/posix/PosixStoreFile.h"
#include "text/IniText.h"

namespace platform {
namespace {

[[noreturn]] void Fail(const std::string& file, const std::string& reason) {
  throw Exception("Cannot write the INI file " + file + ": " + reason);
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
}

void WriteIniEntry(const std::string& file, const std::string& section, const std::string& name,
                   const std::string& value) {
  // A link to the INI file stays a link: the file it points to is rewritten.
  const std::string target = NativePath(FinalTarget(file));
  const int error = RewriteStoreFile(target, [&](const std::string& content) {
    try {
      return text::IniSetEntry(content, section, name, value);
    } catch (const Exception& e) {
      Fail(file, e.Message());
    }
  });
  if (error != 0) Fail(file, ErrorText(error));
}

}  // namespace platform
