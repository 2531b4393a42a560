#include "platform/Exception.h"
#include "platform/FileSystem.h"
#include "platform/IniText.h"
#include "platform/PrivateProfile.h"
#include "platform/posix/PosixStoreFile.h"

namespace platform {
namespace {

[[noreturn]] void Fail(const std::string& file, const std::string& reason) {
  throw Exception("Cannot write the INI file " + file + ": " + reason);
}

}  // namespace

std::vector<std::string> ReadIniSection(const std::string& file, const std::string& section) {
  std::string text;
  // The Windows service reads a file it cannot open as one without sections.
  if (ReadWholeFile(NativePath(file), text) != ReadResult::kOk) return {};
  return IniSectionEntries(text, section);
}

void WriteIniEntry(const std::string& file, const std::string& section, const std::string& name,
                   const std::string& value) {
  // A link to the INI file stays a link: the file it points to is rewritten.
  const std::string target = NativePath(FinalTarget(file));
  const int error = RewriteStoreFile(target, [&](const std::string& text) {
    try {
      return IniSetEntry(text, section, name, value);
    } catch (const Exception& e) {
      Fail(file, e.Message());
    }
  });
  if (error != 0) Fail(file, ErrorText(error));
}

}  // namespace platform
