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

// The system path of nativePath, a native path as a shell gives it
// ("src/a.pas" gives "src\\a.pas"; Windows takes both separators). False when
// it cannot be written as one: on POSIX a path that holds a backslash, which
// a system path would read as a separator.
bool SystemPathOf(const std::string& nativePath, std::string& path);

// Every byte of the file at nativePath, a native path as a shell gives it
// (links followed; a FIFO is read to its end), into text. False when it
// cannot be opened or read.
bool ReadNativeFile(const std::string& nativePath, std::string& text);

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

// Why a file cannot be used as asked, where the system tells: kNone when
// it can. The tool shows each with a reason of its own.
enum class FileProblem {
  kNone,
  kMissing,               // there is no such file
  kDirectory,             // it is a directory
  kLink,                  // it is a symbolic link, which is not followed there
  kFifo,                  // it is a FIFO
  kNotRegular,            // it is no regular file: a device, a socket
  kSecondName,            // it has a second name (a hard link)
  kNotReadable,           // this user may not read it
  kNotWritable,           // it is read-only, or this user may not write it
  kDirectoryNotWritable,  // its directory may not be written
  kStickyDirectory,       // another user's file in a directory where only owners replace files
  kLocked,                // another process holds its lock longer than a run would
  kOtherOwner,            // a log of another user (see LogProblem)
  kReadableByOthers,      // a log that users may read who may not read its source
  kDiskFull,              // no room is left on its disk (or in the user's quota)
  kFailed,                // anything else
};

// The outcome of creating, opening or replacing a file.
//   kExists: something of that name is there already and was left as it is;
//   kChanged: the file changed after it was read, so it was not replaced.
enum class FileStatus { kOk, kExists, kChanged, kFailed };

// The identity of a directory (device and inode), to recognise it again when
// it is reached through a link. False when it cannot be found.
struct FileIdentity {
  std::uint64_t device;
  std::uint64_t inode;
  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode;
  }
};

// An open directory. Everything in it is reached by name relative to it, so
// that a name is resolved once, a directory renamed or swapped by someone
// else while it is walked does not lead the walk elsewhere, and depth has
// no limit.
class NativeAccess;
class Directory {
 public:
  Directory() = default;
  ~Directory();
  Directory(Directory&& other) noexcept;
  Directory& operator=(Directory&& other) noexcept;
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  // Opens the directory that path names (links followed). False when there
  // is none or it cannot be opened.
  bool Open(const std::string& path);

  // The outcome of OpenChild.
  //   kNoDirectory: there is no directory to enter by that name: it is no
  //   directory, it has gone, or it is a link that is not followed;
  //   kFailed: there is one, but it cannot be opened (no descriptor or
  //   memory left, an input/output error, no way through).
  enum class ChildStatus { kOpened, kNoDirectory, kFailed };

  // Opens the subdirectory name of parent. A link is followed, unless
  // another user planted it to lead where that user has no say (a link
  // whose owner is neither this process's user, nor root, nor the owner
  // of what it names).
  ChildStatus OpenChild(const Directory& parent, const std::string& name);

  bool IsOpen() const { return handle_ >= 0; }
  void Close();

  // The device and inode of the open directory.
  const FileIdentity& Identity() const { return identity_; }

  // Every entry, hidden ones and "." and ".." included, in the order the
  // file system gives them, into entries. A directory that may be passed
  // through but not listed has none. False when the listing failed (no
  // descriptor or memory left, an input/output error); entries is then
  // incomplete.
  bool List(std::vector<DirectoryEntry>& entries) const;

  // What name is in this directory, links followed: kFile for anything that
  // exists and is no directory, kUnknown when nothing (reachable) is there.
  EntryKind KindOf(const std::string& name) const;

  // Whether anything has name in this directory, a link that leads nowhere
  // included.
  bool Holds(const std::string& name) const;

 private:
  friend class NativeAccess;
  std::intptr_t handle_ = -1;
  FileIdentity identity_{};
  // A name in it was replaced since it was opened: Close has the system
  // put the directory on the disk, once for all the names replaced.
  mutable bool unsynced_ = false;
};

// Where the file that name in directory finally names lives: its directory
// and its name there (name itself in directory when it is no link). False
// when it cannot be found, names no regular file, or a link on the way is
// one that another user planted (see Directory::OpenChild).
bool LocateFile(const Directory& directory, const std::string& name, Directory& home,
                std::string& homeName);

// Creates one directory. False when it cannot be created.
bool CreateDirectory(const std::string& path);

// The path of the file that path finally names: links are followed and the
// result names the real file in its own directory. path itself when it is no
// link or the link cannot be followed.
std::string FinalTarget(const std::string& path);

// kNone when the process may replace the file name in directory, which must
// be the file itself, not a link to it (see LocateFile): it has a write
// permission bit, the process may write it and the directory, and, where the
// directory is sticky, the process may replace files of the file's owner in
// it. Otherwise what keeps it from that (kMissing, kNotWritable,
// kDirectoryNotWritable, ...).
FileProblem ReplaceProblem(const Directory& directory, const std::string& name);

inline bool CanReplaceFile(const Directory& directory, const std::string& name) {
  return ReplaceProblem(directory, name) == FileProblem::kNone;
}

}  // namespace platform
