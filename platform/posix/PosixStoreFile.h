// What the two stores (INI files, registry hive) need from the POSIX file
// system: whole-file reading and one locked read-modify-write with atomic
// replacement. Internal to platform/posix/.
#pragma once

#include <functional>
#include <string>

namespace platform {

enum class ReadResult { kOk, kMissing, kFailed };

// Reads the whole file at the native path into content. kMissing when there
// is no such file (or a part of its directory is missing); kFailed with errno
// set when it exists but cannot be read (a directory, no permission, ...).
ReadResult ReadWholeFile(const std::string& nativePath, std::string& content);

// Replaces the file at the native path by content: a fresh temporary file
// beside it, renamed over it. 0, or the errno of the step that failed; the
// temporary file is gone either way.
int ReplaceWholeFile(const std::string& nativePath, const std::string& content);

// Rewrites the store file (an INI file, the registry hive) at the native
// path, which names the file itself, not a link to it: under an exclusive
// lock on its directory, reads it (a missing file reads as empty), checks
// that it may be replaced and replaces it by change(its text) when that
// differs. 0, or the errno of the step that failed; what change throws
// passes through.
int RewriteStoreFile(const std::string& nativePath,
                     const std::function<std::string(const std::string&)>& change);

// Creates the directory at the native path and its missing parents with the
// permission bits mode. 0, or the errno of the step that failed.
int CreateDirectories(const std::string& nativePath, unsigned mode);

// The native directory that holds the native path ("." for a bare name).
std::string DirectoryOf(const std::string& nativePath);

// The system's text for an errno value.
std::string ErrorText(int error);

}  // namespace platform
