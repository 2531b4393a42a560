// Replaces a settings file (the INI file, the registry hive) safely: the new
// content goes to a temporary file beside the file it replaces, which takes
// its place by one rename. Until Commit the old file is untouched; a reader
// sees either the old or the new content, never a part. A source is
// replaced by SourceReplacement, which also checks that it stayed the file
// that was read.
#pragma once

#include <cstdint>
#include <string>

#include "platform/FileSystem.h"
#include "platform/HeldTemporary.h"
#include "platform/TextFile.h"

namespace platform {

// The temporary file is removed with the object unless Commit succeeded.
class AtomicFile : public HeldTemporary {
 public:
  AtomicFile() = default;

  // Prepares to replace target through the file temporary, created
  // exclusively and never through a link; kExists leaves a file of that name
  // exactly as it is.
  FileStatus Open(const std::string& target, const std::string& temporary);

  // The same with a temporary file of a fresh, unused name beside target.
  FileStatus OpenUnique(const std::string& target);

  // The same for the file name in directory, which stays open until Commit:
  // no path is resolved again. shown names the file in messages.
  FileStatus OpenUnique(const Directory& directory, const std::string& name,
                        const std::string& shown);

  // Writes what is buffered, gives the temporary file the permission bits
  // (and owner and group, where allowed) of target when it exists, puts its
  // bytes on the disk and closes it. Throws Exception when writing fails;
  // the temporary file stays until Commit or the destructor. Harmless when
  // done already.
  void Complete();

  // Completes the temporary file unless done and renames it over target.
  // kFailed when it did not; the temporary file is then removed.
  FileStatus Commit();

 private:
  FileStatus Create(const std::string& temporaryName);
  // Commit's work once the file is complete.
  FileStatus Rename();
};

}  // namespace platform
