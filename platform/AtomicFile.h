// Replaces a file safely: the new content goes to a temporary file beside the
// file it replaces, which takes its place by one rename. Until Commit the old
// file is untouched; a reader sees either the old or the new content, never a
// part. Serves the rewritten sources, the INI file and the registry hive.
#pragma once

#include <cstdint>
#include <string>

#include "platform/FileSystem.h"
#include "platform/TextFile.h"

namespace platform {

class AtomicFile {
 public:
  AtomicFile() = default;
  // Removes the temporary file unless Commit has succeeded.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

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

  // Prepares to replace name in directory, the file that source has open,
  // through temporaryName in the same directory. Only that file is ever
  // replaced: if the name has come to mean another file, or the file has
  // changed since source opened it, Commit says kChanged and leaves it. The
  // new file takes owner, permission bits and extended attributes (ACLs
  // included) from source. source must stay open until Commit. Messages
  // name the temporary file by shownTemporary.
  FileStatus Open(const Directory& directory, const std::string& name,
                  const std::string& temporaryName, const TextReader& source,
                  const std::string& shownTemporary);

  // Notes in the temporary file the length of log before this run writes
  // to it, so that a later run removing the temporary file left by a
  // killed one cuts the log back (see RemoveLeftoverTemporary).
  void NoteLog(const TextWriter& log);

  TextWriter& Writer() { return writer_; }
  const std::string& TemporaryPath() const { return temporary_; }

  // Writes what is buffered, gives the temporary file the permission bits
  // (and owner and group, where allowed, and extended attributes) of the
  // source, or of target when it exists, and closes it. Throws Exception
  // when writing fails or the attributes cannot be copied; the temporary
  // file stays until Commit or the destructor. Harmless when done already.
  void Complete();

  // Completes the temporary file unless done and lets it take the place of
  // target. kChanged (see Open) or kFailed when it did not; the temporary
  // file is then removed.
  FileStatus Commit();

 private:
  FileStatus Create(const std::string& temporaryName, unsigned permissions);
  void RemoveTemporary();
  // Commit's work, once the process's interruptions are held back.
  FileStatus Swap();

  TextWriter writer_;
  Directory ownDirectory_;  // the directory of a target given by its path
  const Directory* directory_ = nullptr;
  std::string target_;     // the name in directory_
  std::string temporary_;  // the path of the temporary file, for messages
  std::string temporaryName_;
  const TextReader* source_ = nullptr;
  std::intptr_t held_ = -1;    // the temporary file, kept open after Complete
  unsigned deferredMode_ = 0;  // the permission bits it gets only at Commit
  bool pending_ = false;
};

}  // namespace platform
