// Puts the new text of a source in place of the old one, and cleans up
// after a run that was killed while it did. The new text goes to a marked
// temporary file beside the source, which takes the source's place only if
// the name still means the file that was read, unchanged. The log that
// takes the run's entry is noted in the temporary file, so that a later run
// that finds the temporary file left over cuts the log back (see
// RemoveLeftoverTemporary). The marks and what each step leaves behind are
// described at the top of posix/PosixSourceReplacement.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "platform/FileSystem.h"
#include "platform/HeldTemporary.h"
#include "platform/TextFile.h"

namespace platform {

// The temporary file is removed with the object unless Commit succeeded.
class SourceReplacement : public HeldTemporary {
 public:
  SourceReplacement() = default;

  // Prepares to replace name in directory, the file that source has open,
  // through temporaryName in the same directory, created exclusively and
  // never through a link; kExists leaves a file of that name exactly as it
  // is. Only that file is ever replaced: if the name has come to mean
  // another file, or the file has changed since source opened it, Commit
  // says kChanged and leaves it. The new file takes owner, permission bits
  // and extended attributes (ACLs included) from source. source must stay
  // open until Commit. Messages name the temporary file by shownTemporary.
  FileStatus Open(const Directory& directory, const std::string& name,
                  const std::string& temporaryName, const TextReader& source,
                  const std::string& shownTemporary);

  // Notes in the temporary file the length of log before this run writes
  // to it, so that a later run removing the temporary file left by a
  // killed one cuts the log back (see RemoveLeftoverTemporary). Throws
  // Exception when the note cannot be written where the file system keeps
  // such notes at all. False where it keeps none, so that a later run
  // cannot tell a leftover of this one.
  bool NoteLog(const TextWriter& log);

  // Writes what is buffered, gives the temporary file the permission bits
  // (and owner and group, where allowed, and extended attributes) of the
  // source, puts its bytes on the disk and closes it. Throws Exception when
  // writing fails or the attributes cannot be copied; the temporary file
  // stays until Commit or the destructor. Harmless when done already.
  void Complete();

  // Completes the temporary file unless done and lets it take the source's
  // place. kChanged (see Open) or kFailed when it did not; the temporary
  // file is then removed.
  FileStatus Commit();

 private:
  FileStatus Create(const std::string& temporaryName);
  // Commit's work once the file is complete.
  FileStatus Swap();

  const TextReader* source_ = nullptr;
  unsigned deferredMode_ = 0;  // the permission bits it gets only at Commit
};

// Removes the file temporaryName in directory when this tool left it behind
// there as the temporary file of sourceName (its run was killed), and cuts
// the log logName in logDirectory back to what it was before that run wrote
// to it, unless the source was replaced already. kKept, with nothing
// changed, when temporaryName is anything else: a file whose mark another
// user could have set, a link, a file that a running process still holds, a
// file this tool did not create; kLogLocked, with nothing changed, when the
// log stays locked by another process longer than a run would hold it.
enum class LeftoverStatus { kRemoved, kKept, kLogLocked };
LeftoverStatus RemoveLeftoverTemporary(const Directory& directory, const std::string& temporaryName,
                                       const std::string& sourceName, const Directory& logDirectory,
                                       const std::string& logName);

}  // namespace platform
