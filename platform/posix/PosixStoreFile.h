// What the two stores (INI files, registry hive) need from the POSIX file
// system: whole-file reading and one locked read-modify-write with atomic
// replacement. Internal to platform/posix/.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "base/Exception.h"

namespace platform {

enum class ReadResult { kOk, kMissing, kFailed };

// A store may lie where other users can write (the INI file beside a
// program in a shared folder, a hive in a home that others can reach), and
// its settings steer what the tool does, so it is taken only as a sound
// file: a regular file of at most kStoreSizeLimit bytes that this process's
// user or root owns and that not every user may write (its group may),
// reached through no link that another user planted (see FollowLinks). It
// is never waited for: a FIFO is opened without blocking and refused.
constexpr std::int64_t kStoreSizeLimit = std::int64_t{16} * 1024 * 1024;

// A store file that is refused, or whose folder stays locked: the message is
// the reason ("it is no regular file"), which the stores put into their own
// messages. A refused store is an error, not a store without settings: a
// file planted in its place must not quietly change what a run is told.
class StoreFileError : public Exception {
 public:
  using Exception::Exception;
};

// What a file was when it was read: device, inode, size and modification
// time. A file changed, replaced or removed since then has another stamp.
struct FileStamp {
  bool known = false;  // false: the file could not be looked at (never equal)
  bool exists = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedSeconds = 0;
  std::int64_t modifiedNanoseconds = 0;

  bool operator==(const FileStamp& other) const {
    return known && other.known && exists == other.exists && device == other.device &&
           inode == other.inode && size == other.size && modifiedSeconds == other.modifiedSeconds &&
           modifiedNanoseconds == other.modifiedNanoseconds;
  }
};

// The stamp of the file at the native path as it is now (one stat, links
// followed: it only tells whether to read the file again).
FileStamp StampOf(const std::string& nativePath);

// Reads the whole store file at the native path into content, by the rules
// above; stamp is what the descriptor that was read gave (unknown when the
// read failed or the file was changed in the last second or two; not
// existing when the file is missing). kMissing when there is no such file
// (or a part of its directory is missing); kFailed with errno set when it
// exists but cannot be read (a directory, no permission). Throws
// StoreFileError when it is refused.
ReadResult ReadWholeFile(const std::string& nativePath, std::string& content, FileStamp& stamp);

// Keeps the parsed form of store files (an INI file, the hive) for the life
// of the process, so that each is read and parsed once however often it is
// looked up. Each use asks the file system again (one stat) and reads and
// parses the file again when its stamp changed, so a change by another
// process or by a write of this one is seen at the next look-up. A missing
// or unreadable file is parsed from the empty text; an unreadable one is
// read again at every use. A refused file throws StoreFileError at every
// use: nothing of it is kept.
template <class TParsed>
class StoreFileCache {
 public:
  using TParse = std::function<TParsed(std::string)>;
  explicit StoreFileCache(TParse parse) : parse_(std::move(parse)) {}

  // Calls use with the parsed file at the native path and returns its result.
  template <class TUse>
  auto Use(const std::string& nativePath, TUse use) -> decltype(use(std::declval<TParsed&>())) {
    const std::lock_guard<std::mutex> hold(lock_);
    auto found = entries_.find(nativePath);
    if (found == entries_.end() || !(found->second.first == StampOf(nativePath))) {
      std::string text;
      FileStamp stamp;
      if (ReadWholeFile(nativePath, text, stamp) != ReadResult::kOk) text.clear();
      TParsed parsed = parse_(std::move(text));
      if (found == entries_.end()) {
        found = entries_.emplace(nativePath, std::make_pair(stamp, std::move(parsed))).first;
      } else {
        found->second = std::make_pair(stamp, std::move(parsed));
      }
    }
    return use(found->second.second);
  }

 private:
  TParse parse_;
  std::mutex lock_;
  std::map<std::string, std::pair<FileStamp, TParsed>> entries_;
};

// Rewrites the store file (an INI file, the registry hive) at the native
// path: follows its links as ReadWholeFile does (a link stays a link; the
// file it names is rewritten, in its own directory), takes an exclusive
// lock on that directory, waiting kLockWaitMilliseconds at most, reads the
// file (a missing file reads as empty), checks that it may be replaced and
// replaces it by change(its text), by a fresh temporary file renamed over
// it, when that differs. 0, or the errno of the step that failed; throws
// StoreFileError when the file is refused or the lock is not had in time;
// what change throws passes through.
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
