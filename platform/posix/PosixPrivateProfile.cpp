#include <fcntl.h>

#include <cerrno>

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

  // The lock is taken on the directory, not on the file: the file is replaced
  // by a rename, so a lock on it would stay with the old copy, and a lock
  // file would leave a second file beside every INI file. Every writer of
  // this file locks the directory of its real place, whichever path it used.
  ExclusiveLock lock;
  if (const int error = lock.Acquire(DirectoryOf(target), O_RDONLY | O_DIRECTORY)) {
    Fail(file, ErrorText(error));
  }

  std::string text;
  switch (ReadWholeFile(target, text)) {
    case ReadResult::kOk:
      if (const int error = CheckReplaceable(target)) Fail(file, ErrorText(error));
      break;
    case ReadResult::kMissing:
      break;
    case ReadResult::kFailed:
      Fail(file, ErrorText(errno));
  }

  std::string changed;
  try {
    changed = IniSetEntry(text, section, name, value);
  } catch (const Exception& e) {
    Fail(file, e.Message());
  }
  if (changed == text) return;  // the entry has that value already
  if (const int error = ReplaceWholeFile(target, changed)) Fail(file, ErrorText(error));
}

}  // namespace platform
