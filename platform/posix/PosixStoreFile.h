// What the two stores (INI files, registry hive) need from the POSIX file
// system: whole-file reading, an exclusive lock held across a
// read-modify-write, and atomic replacement. Internal to platform/posix/.
#pragma once

#include <string>

namespace platform {

enum class ReadResult { kOk, kMissing, kFailed };

// Reads the whole file at the native path into content. kMissing when there
// is no such file (or a part of its directory is missing); kFailed with errno
// set when it exists but cannot be read (a directory, no permission, ...).
ReadResult ReadWholeFile(const std::string& nativePath, std::string& content);

// An exclusive flock on an open descriptor, released when the object goes.
class ExclusiveLock {
 public:
  ExclusiveLock() = default;
  ~ExclusiveLock();
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

  // Opens the native path with the open(2) flags (close-on-exec added) and
  // waits until the lock is held. 0, or the errno of the step that failed.
  int Acquire(const std::string& nativePath, int flags, unsigned mode = 0);

 private:
  int fd_ = -1;
};

// 0 when the existing file at the native path may be replaced, else EACCES:
// a file with no write permission bit is read-only for everyone, as a
// Windows file with the read-only attribute is.
int CheckReplaceable(const std::string& nativePath);

// Replaces the file at the native path by content: a fresh temporary file
// beside it, renamed over it. 0, or the errno of the step that failed; the
// temporary file is gone either way.
int ReplaceWholeFile(const std::string& nativePath, const std::string& content);

// Creates the directory at the native path and its missing parents with the
// permission bits mode. 0, or the errno of the step that failed.
int CreateDirectories(const std::string& nativePath, unsigned mode);

// The native directory that holds the native path ("." for a bare name).
std::string DirectoryOf(const std::string& nativePath);

// The system's text for an errno value.
std::string ErrorText(int error);

}  // namespace platform
