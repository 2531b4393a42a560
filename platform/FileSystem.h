// The file system. Every path given to these functions is a path of the
// system, written with backslashes; it is turned into a native path here and
// nowhere else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The native form of a system path: on POSIX every "\" becomes "/".
std::string NativePath(const std::string& path);

// True when path names an existing entry that is not a directory (links followed).
bool IsFile(const std::string& path);

// True when path names an existing directory (links followed).
bool IsDirectory(const std::string& path);

// What a listing already knows of an entry, so that the caller can skip a test.
enum class EntryKind { kUnknown, kFile, kDirectory };

struct DirectoryEntry {
  std::string name;
  EntryKind kind;  // kFile and kDirectory are certain; kUnknown needs IsFile/IsDirectory
};

// Every entry of a directory, hidden ones and "." and ".." included, in the
// order the file system gives them. Empty when the directory cannot be listed.
std::vector<DirectoryEntry> ListDirectory(const std::string& directory);

// The identity of a directory (device and inode), to recognise it again when
// it is reached through a link. False when it cannot be found.
struct FileIdentity {
  std::uint64_t device;
  std::uint64_t inode;
  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode;
  }
};
bool GetIdentity(const std::string& path, FileIdentity& identity);

// Creates one directory. False when it cannot be created.
bool CreateDirectory(const std::string& path);

// The path of the file that path finally names: links are followed and the
// result names the real file in its own directory. path itself when it is no
// link or the link cannot be followed.
std::string FinalTarget(const std::string& path);

// True when the process may replace the file: it has a write permission bit,
// the process may write it, and the process may write its directory. path
// names the file itself, not a link to it (see FinalTarget).
bool CanReplaceFile(const std::string& path);

// Removes a file. False when it could not be removed.
bool RemoveFile(const std::string& path);

}  // namespace platform
