// What AtomicFile (the settings files) and SourceReplacement (the sources)
// share: a temporary file beside the file it is to replace, written through
// Writer() and kept open by a second handle until it takes that file's
// place or is removed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/FileSystem.h"
#include "platform/TextFile.h"

namespace platform {

class HeldTemporary {
 public:
  HeldTemporary(const HeldTemporary&) = delete;
  HeldTemporary& operator=(const HeldTemporary&) = delete;

  TextWriter& Writer() { return writer_; }
  const std::string& TemporaryPath() const { return temporary_; }

 protected:
  HeldTemporary() = default;
  // Removes the temporary file unless it took its target's place.
  ~HeldTemporary();

  // Creates temporaryName in directory_ exclusively (never through a
  // link), with the permission bits given less the umask, as the temporary
  // file, held and removed by an interruption until it is committed;
  // kExists leaves a file of that name as it is.
  FileStatus CreateTemporary(const std::string& temporaryName, unsigned permissions);

  // Removes the temporary file, while its name still holds the file made
  // here, and forgets it.
  void RemoveTemporary();

  // Puts the temporary file's bytes on the disk and closes it, so that a
  // power loss after it takes its target's name leaves the old file or the
  // whole new one, never an empty one.
  void PutOnDisk();

  // The frame of a Commit: kFailed when no temporary file is pending;
  // otherwise complete (which throws Exception when the file cannot be
  // finished: it is then removed, kFailed) and put it in place, with the
  // process's interruptions held back meanwhile where they would remove it.
  FileStatus CommitWith(const std::function<void()>& complete,
                        const std::function<FileStatus()>& putInPlace);

  TextWriter writer_;
  // The directory of a target given by its path; here, so that it is still
  // open when the destructor removes the temporary file in it.
  Directory ownDirectory_;
  const Directory* directory_ = nullptr;
  std::string target_;     // the name of the file to replace, in directory_
  std::string temporary_;  // the path of the temporary file, for messages
  std::string temporaryName_;
  std::intptr_t held_ = -1;  // the temporary file, kept open after Complete
  bool pending_ = false;

 private:
  // Runs commit with the interruptions that would remove the temporary
  // file held back (POSIX signals; Windows has none to hold).
  FileStatus HoldingInterruptions(const std::function<FileStatus()>& commit);
};

}  // namespace platform
