// Replaces a file safely: the new content goes to a temporary file beside the
// file it replaces, which takes its place by one rename. Until Commit the old
// file is untouched; a reader sees either the old or the new content, never a
// part. Serves the rewritten sources, the INI file and the registry hive.
#pragma once

#include <string>

#include "platform/TextFile.h"

namespace platform {

class AtomicFile {
 public:
  enum class Status { kOk, kExists, kFailed };

  AtomicFile() = default;
  // Removes the temporary file unless Commit has succeeded.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Prepares to replace target through the file temporary, created
  // exclusively and never through a link; kExists leaves a file of that name
  // exactly as it is.
  Status Open(const std::string& target, const std::string& temporary);

  // The same with a temporary file of a fresh, unused name beside target.
  Status OpenUnique(const std::string& target);

  TextWriter& Writer() { return writer_; }
  const std::string& TemporaryPath() const { return temporary_; }

  // Writes what is buffered, gives the temporary file the permission bits
  // (and owner and group, where allowed) of target when target exists, and
  // closes it. Throws Exception when writing fails; the temporary file stays
  // until Commit or the destructor. Harmless when done already.
  void Complete();

  // Completes the temporary file unless done and renames it over target.
  // False when any step fails; the temporary file is then removed.
  bool Commit();

 private:
  TextWriter writer_;
  std::string target_;
  std::string temporary_;
  bool pending_ = false;
};

}  // namespace platform
