#include "tests/MemoryFileSystem.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <utility>

namespace testsupport {
namespace {

constexpr int kFirstDescriptor = 1 << 20;
constexpr dev_t kDevice = 0x6d656d;  // "mem"
constexpr ino_t kRoot = 1;
constexpr int kLinkHops = 40;
constexpr std::size_t kNameMax = 255;
constexpr std::size_t kAttributeMax = 65536;
// What the kernel adds to the flags of every descriptor but O_PATH's on a
// 64-bit system (the C library's O_LARGEFILE is 0 there).
constexpr int kLargeFile = 0100000;
constexpr int kTemporaryFile = O_TMPFILE & ~O_DIRECTORY;
constexpr std::uint64_t kEpochSeconds = 1700000000;

enum : unsigned { kExecute = 1, kWrite = 2, kRead = 4 };

// The process's umask, read once without changing it (umask() would, for a
// moment, for every thread); reading it for every file system would cost a
// fuzzer more than all its calls.
mode_t ProcessUmask() {
  static const mode_t kUmask = [] {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.compare(0, 6, "Umask:") == 0) {
        return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
      }
    }
    return static_cast<mode_t>(022);
  }();
  return kUmask;
}

timespec TimeOf(std::uint64_t tick) {
  timespec time{};
  time.tv_sec = static_cast<time_t>(kEpochSeconds + tick / 1000000000);
  time.tv_nsec = static_cast<long>(tick % 1000000000);
  return time;
}

bool IsDotName(std::string_view name) { return name == "." || name == ".."; }

// What a directory entry, an inode and an open file description hold; the
// bytes of regular files are kept apart from the rest, so that a record of
// the metadata copies no data.
struct Node {
  mode_t mode = 0;  // 0: no inode of this number
  uid_t owner = 0;
  gid_t group = 0;
  nlink_t links = 0;
  std::uint64_t modified = 0;
  std::uint64_t changed = 0;
  ino_t parent = 0;       // directories
  bool linkable = false;  // made by O_TMPFILE without O_EXCL: may get a name
  int opens = 0;          // open file descriptions: an unnamed inode lives while one is
  std::string target;     // links
  std::map<std::string, std::string, std::less<>> attributes;
  std::map<std::string, ino_t, std::less<>> entries;  // directories
};

struct Metadata {
  std::vector<Node> nodes;  // by inode number
  std::uint64_t clock = 0;  // ticks once per change: the times of the inodes
};

struct Content {
  std::string bytes;
  std::string synced;  // what the disk holds
};

struct Description {
  ino_t node = 0;
  int flags = 0;  // as F_GETFL shows them
  off_t offset = 0;
  int lock = 0;  // LOCK_SH, LOCK_EX or none
};

// Where a name leads: the directory that holds (or would hold) it, the name
// there, and the inode (0 when there is none).
struct Place {
  ino_t directory = 0;
  std::string name;
  ino_t node = 0;
};

}  // namespace

struct MemoryFileSystem::State {
  Metadata meta;
  std::vector<Content> contents;  // by inode number
  std::vector<std::shared_ptr<Description>> descriptors;
  uid_t user = geteuid();
  gid_t group = getegid();
  std::vector<gid_t> groups;
  mode_t umask = ProcessUmask();

  std::size_t steps = 0;
  std::size_t committed = 0;
  std::size_t lossAt = std::numeric_limits<std::size_t>::max();
  std::map<std::size_t, int> failures;
  bool recording = false;
  std::vector<std::pair<std::size_t, std::shared_ptr<const Metadata>>> records;
  bool changed = false;  // by the call under way
  // Walk's components, kept from call to call to spare allocations.
  mutable std::vector<std::string_view> walk;
  mutable bool checking = true;  // false while a test's helper works: no permission checks

  State() {
    const int count = getgroups(0, nullptr);
    if (count > 0) {
      groups.resize(static_cast<std::size_t>(count));
      groups.resize(static_cast<std::size_t>(getgroups(count, groups.data())));
    }
    meta.nodes.reserve(32);
    meta.nodes.resize(kRoot + 1);
    Node& root = meta.nodes[kRoot];
    root.mode = S_IFDIR | 0755;
    root.owner = user;
    root.group = group;
    root.links = 2;
    root.parent = kRoot;
    contents.reserve(32);
    contents.resize(kRoot + 1);
  }

  // --- bookkeeping

  void Record() {
    auto copy = std::make_shared<const Metadata>(meta);
    if (!records.empty() && records.back().first == steps) {
      records.back().second = std::move(copy);
    } else {
      records.emplace_back(steps, std::move(copy));
    }
  }

  // A successful sync: the journal holds everything before it.
  void Commit() {
    committed = steps;
    std::size_t keep = 0;
    while (keep + 1 < records.size() && records[keep + 1].first <= committed) ++keep;
    records.erase(records.begin(), records.begin() + static_cast<std::ptrdiff_t>(keep));
  }

  void Touch(ino_t number, bool data) {
    Node& node = meta.nodes[number];
    node.changed = ++meta.clock;
    if (data) node.modified = node.changed;
    changed = true;
  }

  // A new inode without a name (a directory counts its "." already).
  ino_t NewNode(mode_t mode, const Node& directory) {
    // A set-group-ID directory hands its group on (and the bit, to directories).
    const bool inherit = (directory.mode & S_ISGID) != 0;
    const gid_t inherited = directory.group;
    const ino_t number = meta.nodes.size();
    meta.nodes.emplace_back();
    contents.resize(meta.nodes.size());
    Node& node = meta.nodes.back();
    node.mode = mode;
    node.owner = user;
    node.group = inherit ? inherited : group;
    if (S_ISDIR(mode) && inherit) node.mode |= S_ISGID;
    node.links = S_ISDIR(mode) ? 1 : 0;
    node.modified = node.changed = ++meta.clock;
    changed = true;
    return number;
  }

  // An inode without names goes when its last description closes.
  void MaybeFree(ino_t number) {
    Node& node = meta.nodes[number];
    if (node.mode == 0 || node.links > 0 || node.opens > 0) return;
    node = Node{};
    // A record of the metadata may still hold it, and with it its synced bytes.
    if (recording) {
      contents[number].bytes.clear();
    } else {
      contents[number] = Content{};
    }
    changed = true;
  }

  void Name(ino_t directory, const std::string& name, ino_t number) {
    Node& node = meta.nodes[number];
    meta.nodes[directory].entries.emplace(name, number);
    ++node.links;
    if (S_ISDIR(node.mode)) {
      node.parent = directory;
      ++meta.nodes[directory].links;
    }
    Touch(directory, true);
    Touch(number, false);
  }

  // Takes name from directory. A directory keeps its count (it may be
  // named again, by a rename); the caller sets it to 0 when it goes, and
  // frees the inode (MaybeFree) once nothing refers to it.
  void Unname(ino_t directory, const std::string& name) {
    auto entry = meta.nodes[directory].entries.find(name);
    const ino_t number = entry->second;
    meta.nodes[directory].entries.erase(entry);
    Node& node = meta.nodes[number];
    --node.links;
    if (S_ISDIR(node.mode)) --meta.nodes[directory].links;
    Touch(directory, true);
    Touch(number, false);
  }

  // --- permissions

  bool InGroup(gid_t id) const {
    return id == group || std::find(groups.begin(), groups.end(), id) != groups.end();
  }

  bool May(const Node& node, unsigned want) const {
    if (!checking) return true;
    if (user == 0) return (want & kExecute) == 0 || S_ISDIR(node.mode) || (node.mode & 0111) != 0;
    const unsigned bits = node.owner == user    ? node.mode >> 6
                          : InGroup(node.group) ? node.mode >> 3
                                                : node.mode;
    return (bits & want & 7) == want;
  }

  // In a sticky directory only the owners of the entry and of the directory
  // may take the name away.
  bool MayUnname(const Node& directory, const Node& node) const {
    return !checking || (directory.mode & S_ISVTX) == 0 || user == 0 || node.owner == user ||
           directory.owner == user;
  }

  // --- descriptors

  Description* Find(int fd) const {
    const long index = static_cast<long>(fd) - kFirstDescriptor;
    if (index < 0 || static_cast<std::size_t>(index) >= descriptors.size()) return nullptr;
    return descriptors[static_cast<std::size_t>(index)].get();
  }

  // The descriptor fd, when it may do more than name a file (not O_PATH).
  long Usable(int fd, Description*& description) const {
    description = Find(fd);
    if (description == nullptr || (description->flags & O_PATH) != 0) return -EBADF;
    return 0;
  }

  int Install(std::shared_ptr<Description> description) {
    std::size_t slot = 0;
    while (slot < descriptors.size() && descriptors[slot] != nullptr) ++slot;
    if (slot == descriptors.size()) descriptors.emplace_back();
    descriptors[slot] = std::move(description);
    return kFirstDescriptor + static_cast<int>(slot);
  }

  long NewDescriptor(ino_t number, int flags) {
    auto description = std::make_shared<Description>();
    description->node = number;
    description->flags =
        (flags & O_PATH) != 0
            ? flags & (O_PATH | O_DIRECTORY | O_NOFOLLOW)
            : (flags & ~(O_CREAT | O_EXCL | O_NOCTTY | O_TRUNC | O_CLOEXEC)) | kLargeFile;
    ++meta.nodes[number].opens;
    return Install(std::move(description));
  }

  long CloseDescriptor(int fd) {
    const long index = static_cast<long>(fd) - kFirstDescriptor;
    if (Find(fd) == nullptr) return -EBADF;
    std::shared_ptr<Description> description =
        std::move(descriptors[static_cast<std::size_t>(index)]);
    // The description, and its lock, end with its last descriptor.
    if (description.use_count() == 1) {
      --meta.nodes[description->node].opens;
      MaybeFree(description->node);
    }
    return 0;
  }

  bool Readable(const Description& description) const {
    return (description.flags & O_ACCMODE) != O_WRONLY;
  }
  bool Writable(const Description& description) const {
    return (description.flags & O_ACCMODE) != O_RDONLY;
  }

  // --- names

  long StartOf(int at, std::string_view name, ino_t& start) const {
    // The working directory is the root.
    if ((!name.empty() && name[0] == '/') || at == AT_FDCWD) {
      start = kRoot;
      return 0;
    }
    const Description* description = Find(at);
    if (description == nullptr) return -EBADF;
    start = description->node;
    return S_ISDIR(meta.nodes[start].mode) ? 0 : -ENOTDIR;
  }

  // Walks path from the directory start, component by component, following
  // links on the way and, when followLast, at its end.
  long Walk(ino_t start, std::string_view path, bool followLast, Place& place) const {
    if (path.empty()) return -ENOENT;
    std::vector<std::string_view>& rest = walk;  // the components still to walk, last first
    rest.clear();
    const auto push = [&rest](std::string_view text) {
      const std::size_t before = rest.size();
      std::size_t end = text.size();
      while (end > 0) {
        const std::size_t slash = text.rfind('/', end - 1);
        const std::size_t begin = slash == std::string_view::npos ? 0 : slash + 1;
        if (end > begin) rest.push_back(text.substr(begin, end - begin));
        if (slash == std::string_view::npos) break;
        end = slash;
      }
      if (rest.size() == before) rest.emplace_back(".");  // "/" alone
    };
    push(path);
    // "name/" names a directory, what a last link leads to included.
    const bool directoryOnly = path.back() == '/';
    ino_t directory = path[0] == '/' ? kRoot : start;
    int hops = 0;
    while (!rest.empty()) {
      const std::string_view component = rest.back();
      rest.pop_back();
      const bool last = rest.empty();
      const Node& here = meta.nodes[directory];
      if (!S_ISDIR(here.mode)) return -ENOTDIR;
      if (!May(here, kExecute)) return -EACCES;
      if (component.size() > kNameMax) return -ENAMETOOLONG;
      ino_t next = 0;
      if (component == ".") {
        next = directory;
      } else if (component == "..") {
        next = here.parent;
      } else {
        const auto entry = here.entries.find(component);
        if (entry != here.entries.end()) next = entry->second;
      }
      if (next == 0) {
        if (!last) return -ENOENT;
        place = Place{directory, std::string(component), 0};
        return 0;
      }
      const Node& found = meta.nodes[next];
      if (S_ISLNK(found.mode) && (!last || followLast || directoryOnly)) {
        if (++hops > kLinkHops) return -ELOOP;
        if (found.target.empty()) return -ENOENT;
        if (found.target[0] == '/') directory = kRoot;
        push(found.target);
        continue;
      }
      if (last) {
        if (directoryOnly && !S_ISDIR(found.mode)) return -ENOTDIR;
        place = Place{directory, std::string(component), next};
        return 0;
      }
      directory = next;
    }
    return -ENOENT;
  }

  long Resolve(int at, const char* name, bool followLast, Place& place) const {
    ino_t start = 0;
    const long result = StartOf(at, name, start);
    return result < 0 ? result : Walk(start, name, followLast, place);
  }

  // The inode a call names: the descriptor at itself for an empty name with
  // AT_EMPTY_PATH, else what name leads to.
  long NodeAt(int at, const char* name, int flags, ino_t& number) const {
    if (name[0] == '\0' && (flags & AT_EMPTY_PATH) != 0) {
      if (at == AT_FDCWD) {
        number = kRoot;
        return 0;
      }
      const Description* description = Find(at);
      if (description == nullptr) return -EBADF;
      number = description->node;
      return 0;
    }
    Place place;
    const long result = Resolve(at, name, (flags & AT_SYMLINK_NOFOLLOW) == 0, place);
    if (result < 0) return result;
    if (place.node == 0) return -ENOENT;
    number = place.node;
    return 0;
  }

  // --- the calls; each gives its result, or -errno

  long Open(int at, const char* name, int flags, mode_t mode) {
    const bool path = (flags & O_PATH) != 0;
    if (path) flags &= O_PATH | O_DIRECTORY | O_NOFOLLOW;
    const int access = flags & O_ACCMODE;
    const bool temporary = (flags & kTemporaryFile) != 0;
    if (temporary && access == O_RDONLY) return -EINVAL;
    if ((flags & O_CREAT) != 0 && (flags & O_DIRECTORY) != 0 && !temporary) return -EINVAL;
    const bool exclusive = (flags & O_CREAT) != 0 && (flags & O_EXCL) != 0;
    Place place;
    long result = Resolve(at, name, (flags & O_NOFOLLOW) == 0 && !exclusive, place);
    if (result < 0) return result;
    if (temporary) {
      if (place.node == 0) return -ENOENT;
      const Node& directory = meta.nodes[place.node];
      if (!S_ISDIR(directory.mode)) return -ENOTDIR;
      if (!May(directory, kWrite | kExecute)) return -EACCES;
      const ino_t number = NewNode(S_IFREG | (mode & ~umask & 07777), directory);
      meta.nodes[number].linkable = (flags & O_EXCL) == 0;
      return NewDescriptor(number, flags);
    }
    if (place.node == 0) {
      if ((flags & O_CREAT) == 0) return -ENOENT;
      if (name[std::strlen(name) - 1] == '/') return -EISDIR;  // "new/" names a directory
      if (!May(meta.nodes[place.directory], kWrite | kExecute)) return -EACCES;
      const ino_t number = NewNode(S_IFREG | (mode & ~umask & 07777), meta.nodes[place.directory]);
      Name(place.directory, place.name, number);
      return NewDescriptor(number, flags);
    }
    if (exclusive) return -EEXIST;
    Node& node = meta.nodes[place.node];
    if (S_ISLNK(node.mode) && !(path && (flags & O_DIRECTORY) == 0)) {
      return (flags & O_DIRECTORY) != 0 ? -ENOTDIR : -ELOOP;
    }
    if ((flags & O_DIRECTORY) != 0 && !S_ISDIR(node.mode)) return -ENOTDIR;
    if (path) return NewDescriptor(place.node, flags);
    if (S_ISDIR(node.mode) && (access != O_RDONLY || (flags & O_CREAT) != 0)) return -EISDIR;
    unsigned want = access == O_RDONLY ? kRead : access == O_WRONLY ? kWrite : kRead | kWrite;
    if ((flags & O_TRUNC) != 0) want |= kWrite;
    if (!May(node, want)) return -EACCES;
    if ((flags & O_TRUNC) != 0 && S_ISREG(node.mode) && access != O_RDONLY) {
      contents[place.node].bytes.clear();
      Touch(place.node, true);
    }
    result = NewDescriptor(place.node, flags);
    return result;
  }

  long ReadFrom(const Description& description, void* into, std::size_t size, off_t offset) const {
    if (!Readable(description)) return -EBADF;
    if (S_ISDIR(meta.nodes[description.node].mode)) return -EISDIR;
    if (offset < 0) return -EINVAL;
    const std::string& bytes = contents[description.node].bytes;
    const auto at = static_cast<std::size_t>(offset);
    if (at >= bytes.size()) return 0;
    const std::size_t count = std::min(size, bytes.size() - at);
    std::memcpy(into, bytes.data() + at, count);
    return static_cast<long>(count);
  }

  // Writes data at offset, the gap before it filled with zero bytes.
  void Put(ino_t number, off_t offset, const char* data, std::size_t size) {
    std::string& bytes = contents[number].bytes;
    const auto at = static_cast<std::size_t>(offset);
    if (bytes.size() < at + size) bytes.resize(at + size);
    std::memcpy(&bytes[at], data, size);
    Touch(number, true);
  }

  long Write(int fd, const void* data, std::size_t size) {
    Description* description = nullptr;
    const long result = Usable(fd, description);
    if (result < 0) return result;
    if (!Writable(*description)) return -EBADF;
    if ((description->flags & O_APPEND) != 0) {
      description->offset = static_cast<off_t>(contents[description->node].bytes.size());
    }
    if (size == 0) return 0;
    Put(description->node, description->offset, static_cast<const char*>(data), size);
    description->offset += static_cast<off_t>(size);
    return static_cast<long>(size);
  }

  long Seek(int fd, off_t offset, int whence) {
    Description* description = nullptr;
    const long result = Usable(fd, description);
    if (result < 0) return result;
    off_t base = 0;
    if (whence == SEEK_CUR) {
      base = description->offset;
    } else if (whence == SEEK_END) {
      base = static_cast<off_t>(contents[description->node].bytes.size());
    } else if (whence != SEEK_SET) {
      return -EINVAL;
    }
    if (base + offset < 0) return -EINVAL;
    description->offset = base + offset;
    return description->offset;
  }

  void Fill(ino_t number, struct stat* info) const {
    const Node& node = meta.nodes[number];
    *info = {};
    info->st_dev = kDevice;
    info->st_ino = number;
    info->st_mode = node.mode;
    info->st_nlink = node.links;
    info->st_uid = node.owner;
    info->st_gid = node.group;
    std::size_t size = 4096;
    if (S_ISREG(node.mode)) size = contents[number].bytes.size();
    if (S_ISLNK(node.mode)) size = node.target.size();
    info->st_size = static_cast<off_t>(size);
    info->st_blksize = 4096;
    info->st_blocks = static_cast<blkcnt_t>((size + 511) / 512);
    info->st_mtim = TimeOf(node.modified);
    info->st_atim = info->st_mtim;
    info->st_ctim = TimeOf(node.changed);
  }

  long Truncate(int fd, off_t length) {
    Description* description = nullptr;
    const long result = Usable(fd, description);
    if (result < 0) return result;
    if (!Writable(*description) || !S_ISREG(meta.nodes[description->node].mode) || length < 0) {
      return -EINVAL;
    }
    contents[description->node].bytes.resize(static_cast<std::size_t>(length));
    Touch(description->node, true);
    return 0;
  }

  long Sync(int fd) {
    Description* description = nullptr;
    const long result = Usable(fd, description);
    if (result < 0) return result;
    Content& content = contents[description->node];
    if (S_ISREG(meta.nodes[description->node].mode)) content.synced = content.bytes;
    Commit();
    return 0;
  }

  long Lock(int fd, int operation) {
    Description* description = nullptr;
    const long result = Usable(fd, description);
    if (result < 0) return result;
    const bool wait = (operation & LOCK_NB) == 0;
    operation &= ~LOCK_NB;
    if (operation != LOCK_SH && operation != LOCK_EX && operation != LOCK_UN) return -EINVAL;
    if (operation == LOCK_UN) {
      description->lock = 0;
      return 0;
    }
    for (const auto& other : descriptors) {
      if (other == nullptr || other.get() == description || other->node != description->node ||
          other->lock == 0) {
        continue;
      }
      // Nothing else can give a lock up while this call waits: waiting
      // would be for ever.
      if (other->lock == LOCK_EX || operation == LOCK_EX) return wait ? -EDEADLK : -EWOULDBLOCK;
    }
    description->lock = operation;
    return 0;
  }

  long ChangeMode(int fd, mode_t mode) {
    Description* description = nullptr;
    const long result = Usable(fd, description);
    if (result < 0) return result;
    Node& node = meta.nodes[description->node];
    if (user != 0 && node.owner != user) return -EPERM;
    node.mode = (node.mode & S_IFMT) | (mode & 07777);
    Touch(description->node, false);
    return 0;
  }

  long ChangeOwner(int fd, uid_t owner, gid_t newGroup) {
    Description* description = nullptr;
    const long result = Usable(fd, description);
    if (result < 0) return result;
    Node& node = meta.nodes[description->node];
    constexpr auto kKeepOwner = static_cast<uid_t>(-1);
    constexpr auto kKeepGroup = static_cast<gid_t>(-1);
    if (user != 0 && (node.owner != user || (owner != kKeepOwner && owner != node.owner) ||
                      (newGroup != kKeepGroup && !InGroup(newGroup)))) {
      return -EPERM;
    }
    if (owner != kKeepOwner) node.owner = owner;
    if (newGroup != kKeepGroup) node.group = newGroup;
    // As the kernel does for every chown, root's included.
    if (!S_ISDIR(node.mode)) {
      node.mode &= ~static_cast<mode_t>(S_ISUID);
      if ((node.mode & S_IXGRP) != 0) node.mode &= ~static_cast<mode_t>(S_ISGID);
    }
    Touch(description->node, false);
    return 0;
  }

  long Access(int at, const char* name, int mode, int flags) const {
    if ((mode & ~(R_OK | W_OK | X_OK)) != 0) return -EINVAL;
    ino_t number = 0;
    const long result = NodeAt(at, name, flags, number);
    if (result < 0) return result;
    return May(meta.nodes[number], static_cast<unsigned>(mode)) ? 0 : -EACCES;
  }

  long MakeDirectory(int at, const char* name, mode_t mode) {
    Place place;
    const long result = Resolve(at, name, false, place);
    if (result < 0) return result;
    if (place.node != 0) return -EEXIST;
    const Node& directory = meta.nodes[place.directory];
    if (!May(directory, kWrite | kExecute)) return -EACCES;
    const ino_t number = NewNode(S_IFDIR | (mode & ~umask & 07777), directory);
    Name(place.directory, place.name, number);
    return 0;
  }

  long Unlink(int at, const char* name, int flags) {
    if ((flags & ~AT_REMOVEDIR) != 0) return -EINVAL;
    const bool removeDirectory = (flags & AT_REMOVEDIR) != 0;
    Place place;
    const long result = Resolve(at, name, false, place);
    if (result < 0) return result;
    if (place.node == 0) return -ENOENT;
    if (IsDotName(place.name)) {
      if (!removeDirectory) return -EISDIR;
      return place.name == "." ? -EINVAL : -ENOTEMPTY;
    }
    const Node& node = meta.nodes[place.node];
    if (removeDirectory) {
      if (!S_ISDIR(node.mode)) return -ENOTDIR;
      if (place.node == kRoot) return -EBUSY;
      if (!node.entries.empty()) return -ENOTEMPTY;
    } else if (S_ISDIR(node.mode)) {
      return -EISDIR;
    }
    const Node& directory = meta.nodes[place.directory];
    if (!May(directory, kWrite | kExecute)) return -EACCES;
    if (!MayUnname(directory, node)) return -EPERM;
    Unname(place.directory, place.name);
    if (removeDirectory) meta.nodes[place.node].links = 0;
    MaybeFree(place.node);
    return 0;
  }

  // Whether the directory number is ancestor or any directory above it.
  bool Within(ino_t number, ino_t ancestor) const {
    for (;;) {
      if (number == ancestor) return true;
      if (number == kRoot) return false;
      number = meta.nodes[number].parent;
    }
  }

  long Rename(int from, const char* fromName, int to, const char* toName, unsigned flags) {
    if ((flags & ~(RENAME_NOREPLACE | RENAME_EXCHANGE)) != 0 ||
        flags == (RENAME_NOREPLACE | RENAME_EXCHANGE)) {
      return -EINVAL;
    }
    Place source;
    Place target;
    long result = Resolve(from, fromName, false, source);
    if (result >= 0) result = Resolve(to, toName, false, target);
    if (result < 0) return result;
    if (source.node == 0) return -ENOENT;
    if (IsDotName(source.name) || IsDotName(target.name)) return -EBUSY;
    const Node& sourceDirectory = meta.nodes[source.directory];
    const Node& targetDirectory = meta.nodes[target.directory];
    if (!May(sourceDirectory, kWrite | kExecute) || !May(targetDirectory, kWrite | kExecute)) {
      return -EACCES;
    }
    const bool sourceIsDirectory = S_ISDIR(meta.nodes[source.node].mode);
    if (sourceIsDirectory && Within(target.directory, source.node)) return -EINVAL;
    if ((flags & RENAME_EXCHANGE) != 0) {
      if (target.node == 0) return -ENOENT;
      if (source.node == target.node) return 0;
      if (S_ISDIR(meta.nodes[target.node].mode) && Within(source.directory, target.node)) {
        return -EINVAL;
      }
      if (!MayUnname(sourceDirectory, meta.nodes[source.node]) ||
          !MayUnname(targetDirectory, meta.nodes[target.node])) {
        return -EPERM;
      }
      Unname(source.directory, source.name);
      Unname(target.directory, target.name);
      Name(source.directory, source.name, target.node);
      Name(target.directory, target.name, source.node);
      return 0;
    }
    if (target.node != 0) {
      if ((flags & RENAME_NOREPLACE) != 0) return -EEXIST;
      if (source.node == target.node) return 0;
      const Node& replaced = meta.nodes[target.node];
      if (sourceIsDirectory && !S_ISDIR(replaced.mode)) return -ENOTDIR;
      if (!sourceIsDirectory && S_ISDIR(replaced.mode)) return -EISDIR;
      if (!replaced.entries.empty()) return -ENOTEMPTY;
      if (!MayUnname(targetDirectory, replaced)) return -EPERM;
    }
    if (!MayUnname(sourceDirectory, meta.nodes[source.node])) return -EPERM;
    if (target.node != 0) {
      Unname(target.directory, target.name);
      if (sourceIsDirectory) meta.nodes[target.node].links = 0;
    }
    Unname(source.directory, source.name);
    Name(target.directory, target.name, source.node);
    if (target.node != 0) MaybeFree(target.node);
    return 0;
  }

  long Link(int from, const char* fromName, int to, const char* toName, int flags) {
    if ((flags & ~(AT_SYMLINK_FOLLOW | AT_EMPTY_PATH)) != 0) return -EINVAL;
    ino_t number = 0;
    constexpr std::string_view kDescriptors = "/proc/self/fd/";
    const std::string_view name = fromName;
    if (name.compare(0, kDescriptors.size(), kDescriptors) == 0) {
      // The kernel's link to an open file: followed, it is that file.
      if ((flags & AT_SYMLINK_FOLLOW) == 0) return -EXDEV;
      char* end = nullptr;
      const long fd = std::strtol(fromName + kDescriptors.size(), &end, 10);
      const Description* description = *end == '\0' && fd <= std::numeric_limits<int>::max()
                                           ? Find(static_cast<int>(fd))
                                           : nullptr;
      if (description == nullptr) return -ENOENT;
      number = description->node;
    } else {
      const long result = NodeAt(
          from, fromName,
          (flags & AT_EMPTY_PATH) | ((flags & AT_SYMLINK_FOLLOW) != 0 ? 0 : AT_SYMLINK_NOFOLLOW),
          number);
      if (result < 0) return result;
    }
    const Node& node = meta.nodes[number];
    if (S_ISDIR(node.mode)) return -EPERM;
    if (node.links == 0 && !node.linkable) return -ENOENT;
    Place target;
    const long result = Resolve(to, toName, false, target);
    if (result < 0) return result;
    if (target.node != 0) return -EEXIST;
    if (!May(meta.nodes[target.directory], kWrite | kExecute)) return -EACCES;
    meta.nodes[number].linkable = false;
    Name(target.directory, target.name, number);
    return 0;
  }

  long ReadLink(int at, const char* name, char* into, std::size_t size) const {
    if (size == 0) return -EINVAL;
    ino_t number = 0;
    const long result = NodeAt(at, name, AT_SYMLINK_NOFOLLOW | AT_EMPTY_PATH, number);
    if (result < 0) return result;
    const Node& node = meta.nodes[number];
    if (!S_ISLNK(node.mode)) return name[0] == '\0' ? -ENOENT : -EINVAL;
    const std::size_t count = std::min(size, node.target.size());
    std::copy_n(node.target.data(), count, into);
    return static_cast<long>(count);
  }

  // The absolute path of the directory number, by its parents.
  std::string PathOf(ino_t number) const {
    std::string path;
    while (number != kRoot) {
      const ino_t parent = meta.nodes[number].parent;
      for (const auto& entry : meta.nodes[parent].entries) {
        if (entry.second == number) {
          path.insert(0, "/" + entry.first);
          break;
        }
      }
      number = parent;
    }
    return path.empty() ? "/" : path;
  }

  long RealPath(const char* path, std::string& resolved) const {
    Place place;
    const long result = Resolve(AT_FDCWD, path, true, place);
    if (result < 0) return result;
    if (place.node == 0) return -ENOENT;
    if (S_ISDIR(meta.nodes[place.node].mode)) {
      resolved = PathOf(place.node);
    } else {
      resolved = PathOf(place.directory);
      if (resolved != "/") resolved += '/';
      resolved += place.name;
    }
    return 0;
  }

  long CopyRange(int from, off_t* fromOffset, int to, std::size_t size) {
    Description* source = nullptr;
    Description* target = nullptr;
    long result = Usable(from, source);
    if (result >= 0) result = Usable(to, target);
    if (result < 0) return result;
    const mode_t sourceMode = meta.nodes[source->node].mode;
    const mode_t targetMode = meta.nodes[target->node].mode;
    if (S_ISDIR(sourceMode) || S_ISDIR(targetMode)) return -EISDIR;
    if (!Readable(*source) || !Writable(*target) || (target->flags & O_APPEND) != 0) return -EBADF;
    if (!S_ISREG(sourceMode) || !S_ISREG(targetMode)) return -EINVAL;
    const off_t at = fromOffset != nullptr ? *fromOffset : source->offset;
    if (at < 0) return -EINVAL;
    const std::string& bytes = contents[source->node].bytes;
    const std::size_t count = static_cast<std::size_t>(at) >= bytes.size()
                                  ? 0
                                  : std::min(size, bytes.size() - static_cast<std::size_t>(at));
    if (source->node == target->node && at < target->offset + static_cast<off_t>(count) &&
        target->offset < at + static_cast<off_t>(count)) {
      return -EINVAL;
    }
    if (count == 0) return 0;
    const std::string piece = bytes.substr(static_cast<std::size_t>(at), count);
    Put(target->node, target->offset, piece.data(), count);
    target->offset += static_cast<off_t>(count);
    if (fromOffset != nullptr) {
      *fromOffset += static_cast<off_t>(count);
    } else {
      source->offset += static_cast<off_t>(count);
    }
    return static_cast<long>(count);
  }

  long List(int fd, std::vector<platform::DirectoryEntry>& entries) const {
    Description* description = nullptr;
    const long result = Usable(fd, description);
    if (result < 0) return result;
    const Node& directory = meta.nodes[description->node];
    if (!S_ISDIR(directory.mode)) return -ENOTDIR;
    entries.push_back(platform::DirectoryEntry{".", platform::EntryKind::kDirectory});
    entries.push_back(platform::DirectoryEntry{"..", platform::EntryKind::kDirectory});
    for (const auto& entry : directory.entries) {
      const mode_t mode = meta.nodes[entry.second].mode;
      platform::EntryKind kind = platform::EntryKind::kUnknown;
      if (S_ISREG(mode)) kind = platform::EntryKind::kFile;
      if (S_ISDIR(mode)) kind = platform::EntryKind::kDirectory;
      entries.push_back(platform::DirectoryEntry{entry.first, kind});
    }
    return 0;
  }

  // --- extended attributes

  // Whether name may be used on node: 0, or the error of the call.
  long AttributeAllowed(const Node& node, std::string_view name, bool change) const {
    if (name.empty() || name.size() > kNameMax) return -ERANGE;
    if (name.compare(0, 5, "user.") == 0) {
      // Only files and directories take user attributes; others' bits may not be trusted.
      if (!S_ISREG(node.mode) && !S_ISDIR(node.mode)) return change ? -EPERM : -ENODATA;
      return May(node, change ? kWrite : kRead) ? 0 : -EACCES;
    }
    if (name.compare(0, 8, "trusted.") == 0) {
      if (user == 0) return 0;
      return change ? -EPERM : -ENODATA;
    }
    if (name.compare(0, 9, "security.") == 0) return 0;
    return -EOPNOTSUPP;
  }

  // The node of fd, numbered number, when its attribute name may change.
  long ChangeableAttribute(int fd, const char* name, ino_t& number) {
    Description* description = nullptr;
    const long result = Usable(fd, description);
    if (result < 0) return result;
    number = description->node;
    return AttributeAllowed(meta.nodes[number], name, true);
  }

  long SetAttribute(int fd, const char* name, const void* value, std::size_t size) {
    ino_t number = 0;
    const long result = ChangeableAttribute(fd, name, number);
    if (result < 0) return result;
    if (size > kAttributeMax) return -E2BIG;
    meta.nodes[number].attributes[name].assign(static_cast<const char*>(value), size);
    Touch(number, false);
    return 0;
  }

  long GetAttribute(int fd, const char* name, void* into, std::size_t size) const {
    Description* description = nullptr;
    long result = Usable(fd, description);
    if (result < 0) return result;
    const Node& node = meta.nodes[description->node];
    result = AttributeAllowed(node, name, false);
    if (result < 0) return result;
    const auto found = node.attributes.find(std::string_view(name));
    if (found == node.attributes.end()) return -ENODATA;
    const std::string& value = found->second;
    if (size == 0) return static_cast<long>(value.size());
    if (size < value.size()) return -ERANGE;
    std::memcpy(into, value.data(), value.size());
    return static_cast<long>(value.size());
  }

  long RemoveAttribute(int fd, const char* name) {
    ino_t number = 0;
    const long result = ChangeableAttribute(fd, name, number);
    if (result < 0) return result;
    Node& node = meta.nodes[number];
    const auto found = node.attributes.find(std::string_view(name));
    if (found == node.attributes.end()) return -ENODATA;
    node.attributes.erase(found);
    Touch(number, false);
    return 0;
  }

  long ListAttributes(int fd, char* into, std::size_t size) const {
    Description* description = nullptr;
    const long result = Usable(fd, description);
    if (result < 0) return result;
    std::string names;
    for (const auto& attribute : meta.nodes[description->node].attributes) {
      // Others do not see root's trusted attributes at all.
      if (user != 0 && attribute.first.compare(0, 8, "trusted.") == 0) continue;
      names += attribute.first;
      names += '\0';
    }
    if (size == 0) return static_cast<long>(names.size());
    if (size < names.size()) return -ERANGE;
    std::copy_n(names.data(), names.size(), into);
    return static_cast<long>(names.size());
  }

  // --- the helpers' ways

  // Where path leads from the root, links followed as asked; throws when it
  // cannot be walked (a test's own mistake).
  Place Locate(const std::string& path, bool followLast) const {
    Place place;
    const long result = Walk(kRoot, path, followLast, place);
    if (result < 0) {
      throw std::runtime_error("MemoryFileSystem: cannot walk " + path + ": " +
                               std::strerror(static_cast<int>(-result)));
    }
    return place;
  }

  ino_t Directories(const std::string& path, mode_t mode) {
    ino_t directory = kRoot;
    std::size_t begin = 0;
    while (begin < path.size()) {
      std::size_t end = path.find('/', begin);
      if (end == std::string::npos) end = path.size();
      if (end > begin) {
        const Place place = Locate(path.substr(0, end), true);
        if (place.node == 0) {
          const ino_t number = NewNode(S_IFDIR | (mode & 07777), meta.nodes[place.directory]);
          Name(place.directory, place.name, number);
          directory = number;
        } else if (S_ISDIR(meta.nodes[place.node].mode)) {
          directory = place.node;
        } else {
          throw std::runtime_error("MemoryFileSystem: not a directory: " + path.substr(0, end));
        }
      }
      begin = end + 1;
    }
    return directory;
  }

  static std::string ParentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
  }

  void Files(ino_t directory, const std::string& prefix,
             std::map<std::string, std::string>& files) const {
    for (const auto& entry : meta.nodes[directory].entries) {
      const mode_t mode = meta.nodes[entry.second].mode;
      if (S_ISREG(mode)) files.emplace(prefix + entry.first, contents[entry.second].bytes);
      if (S_ISDIR(mode)) Files(entry.second, prefix + entry.first + "/", files);
    }
  }
};

// One step: counts it, refuses it when the power is lost or a fault is
// planted there, keeps the metadata after it when that is recorded.
class MemoryFileSystem::Call {
 public:
  explicit Call(MemoryFileSystem& fs) : lock_(*fs.mutex_), state_(*fs.state_) {
    const std::size_t step = state_.steps++;
    if (step >= state_.lossAt) {
      error_ = EIO;
    } else {
      const auto planted = state_.failures.find(step);
      if (planted != state_.failures.end()) error_ = planted->second;
    }
    state_.changed = false;
  }
  ~Call() {
    if (state_.recording && state_.changed) {
      const int error = errno;
      state_.Record();
      errno = error;
    }
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  State& state() { return state_; }
  // Whether the call is to fail without doing anything (errno set).
  bool Refused() const {
    if (error_ != 0) errno = error_;
    return error_ != 0;
  }
  long Result(long result) const {
    if (result >= 0) return result;
    errno = static_cast<int>(-result);
    return -1;
  }

 private:
  std::lock_guard<std::mutex> lock_;
  State& state_;
  int error_ = 0;
};

MemoryFileSystem::MemoryFileSystem()
    : state_(std::make_unique<State>()), mutex_(std::make_unique<std::mutex>()) {}

MemoryFileSystem::MemoryFileSystem(std::unique_ptr<State> state)
    : state_(std::move(state)), mutex_(std::make_unique<std::mutex>()) {}

MemoryFileSystem::~MemoryFileSystem() = default;
MemoryFileSystem::MemoryFileSystem(MemoryFileSystem&& other) noexcept = default;
MemoryFileSystem& MemoryFileSystem::operator=(MemoryFileSystem&& other) noexcept = default;

int MemoryFileSystem::OpenAt(int at, const char* name, int flags, mode_t mode) {
  Call call(*this);
  if (call.Refused()) return -1;
  return static_cast<int>(call.Result(call.state().Open(at, name, flags, mode)));
}

int MemoryFileSystem::Close(int fd) {
  Call call(*this);
  // As on Linux, a failed close still frees the descriptor.
  const long result = call.state().CloseDescriptor(fd);
  if (call.Refused()) return -1;
  return static_cast<int>(call.Result(result));
}

int MemoryFileSystem::Duplicate(int fd) {
  Call call(*this);
  if (call.Refused()) return -1;
  State& state = call.state();
  const Description* description = state.Find(fd);
  if (description == nullptr) return static_cast<int>(call.Result(-EBADF));
  return state.Install(state.descriptors[static_cast<std::size_t>(fd - kFirstDescriptor)]);
}

int MemoryFileSystem::StatusFlags(int fd) {
  Call call(*this);
  if (call.Refused()) return -1;
  const Description* description = call.state().Find(fd);
  return static_cast<int>(call.Result(description == nullptr ? -EBADF : description->flags));
}

ssize_t MemoryFileSystem::Read(int fd, void* into, std::size_t size) {
  Call call(*this);
  if (call.Refused()) return -1;
  Description* description = nullptr;
  long result = call.state().Usable(fd, description);
  if (result >= 0) result = call.state().ReadFrom(*description, into, size, description->offset);
  if (result > 0) description->offset += static_cast<off_t>(result);
  return call.Result(result);
}

ssize_t MemoryFileSystem::ReadAt(int fd, void* into, std::size_t size, off_t offset) {
  Call call(*this);
  if (call.Refused()) return -1;
  Description* description = nullptr;
  long result = call.state().Usable(fd, description);
  if (result >= 0) result = call.state().ReadFrom(*description, into, size, offset);
  return call.Result(result);
}

ssize_t MemoryFileSystem::Write(int fd, const void* data, std::size_t size) {
  Call call(*this);
  if (call.Refused()) return -1;
  return call.Result(call.state().Write(fd, data, size));
}

off_t MemoryFileSystem::Seek(int fd, off_t offset, int whence) {
  Call call(*this);
  if (call.Refused()) return -1;
  return call.Result(call.state().Seek(fd, offset, whence));
}

int MemoryFileSystem::Status(int fd, struct stat* info) {
  Call call(*this);
  if (call.Refused()) return -1;
  const Description* description = call.state().Find(fd);
  if (description == nullptr) return static_cast<int>(call.Result(-EBADF));
  call.state().Fill(description->node, info);
  return 0;
}

int MemoryFileSystem::StatusAt(int at, const char* name, struct stat* info, int flags) {
  Call call(*this);
  if (call.Refused()) return -1;
  ino_t number = 0;
  const long result = call.state().NodeAt(at, name, flags, number);
  if (result >= 0) call.state().Fill(number, info);
  return static_cast<int>(call.Result(result));
}

int MemoryFileSystem::Truncate(int fd, off_t length) {
  Call call(*this);
  if (call.Refused()) return -1;
  return static_cast<int>(call.Result(call.state().Truncate(fd, length)));
}

int MemoryFileSystem::SyncData(int fd) {
  Call call(*this);
  if (call.Refused()) return -1;
  return static_cast<int>(call.Result(call.state().Sync(fd)));
}

int MemoryFileSystem::Sync(int fd) {
  Call call(*this);
  if (call.Refused()) return -1;
  return static_cast<int>(call.Result(call.state().Sync(fd)));
}

int MemoryFileSystem::Lock(int fd, int operation) {
  Call call(*this);
  if (call.Refused()) return -1;
  return static_cast<int>(call.Result(call.state().Lock(fd, operation)));
}

int MemoryFileSystem::ChangeMode(int fd, mode_t mode) {
  Call call(*this);
  if (call.Refused()) return -1;
  return static_cast<int>(call.Result(call.state().ChangeMode(fd, mode)));
}

int MemoryFileSystem::ChangeOwner(int fd, uid_t owner, gid_t group) {
  Call call(*this);
  if (call.Refused()) return -1;
  return static_cast<int>(call.Result(call.state().ChangeOwner(fd, owner, group)));
}

int MemoryFileSystem::AccessAt(int at, const char* name, int mode, int flags) {
  Call call(*this);
  if (call.Refused()) return -1;
  return static_cast<int>(call.Result(call.state().Access(at, name, mode, flags)));
}

int MemoryFileSystem::MakeDirectoryAt(int at, const char* name, mode_t mode) {
  Call call(*this);
  if (call.Refused()) return -1;
  return static_cast<int>(call.Result(call.state().MakeDirectory(at, name, mode)));
}

int MemoryFileSystem::UnlinkAt(int at, const char* name, int flags) {
  Call call(*this);
  if (call.Refused()) return -1;
  return static_cast<int>(call.Result(call.state().Unlink(at, name, flags)));
}

int MemoryFileSystem::RenameAt(int from, const char* fromName, int to, const char* toName,
                               unsigned flags) {
  Call call(*this);
  if (call.Refused()) return -1;
  return static_cast<int>(call.Result(call.state().Rename(from, fromName, to, toName, flags)));
}

int MemoryFileSystem::LinkAt(int from, const char* fromName, int to, const char* toName,
                             int flags) {
  Call call(*this);
  if (call.Refused()) return -1;
  return static_cast<int>(call.Result(call.state().Link(from, fromName, to, toName, flags)));
}

ssize_t MemoryFileSystem::ReadLinkAt(int at, const char* name, char* into, std::size_t size) {
  Call call(*this);
  if (call.Refused()) return -1;
  return call.Result(call.state().ReadLink(at, name, into, size));
}

bool MemoryFileSystem::RealPath(const char* path, std::string& resolved) {
  Call call(*this);
  if (call.Refused()) return false;
  return call.Result(call.state().RealPath(path, resolved)) == 0;
}

ssize_t MemoryFileSystem::CopyRange(int from, off_t* fromOffset, int to, std::size_t size) {
  Call call(*this);
  if (call.Refused()) return -1;
  return call.Result(call.state().CopyRange(from, fromOffset, to, size));
}

void MemoryFileSystem::AdviseSequential(int /*fd*/) { Call call(*this); }

int MemoryFileSystem::List(int fd, std::vector<platform::DirectoryEntry>& entries) {
  Call call(*this);
  if (call.Refused()) return -1;
  return static_cast<int>(call.Result(call.state().List(fd, entries)));
}

int MemoryFileSystem::SetAttribute(int fd, const char* name, const void* value, std::size_t size) {
  Call call(*this);
  if (call.Refused()) return -1;
  return static_cast<int>(call.Result(call.state().SetAttribute(fd, name, value, size)));
}

ssize_t MemoryFileSystem::GetAttribute(int fd, const char* name, void* into, std::size_t size) {
  Call call(*this);
  if (call.Refused()) return -1;
  return call.Result(call.state().GetAttribute(fd, name, into, size));
}

int MemoryFileSystem::RemoveAttribute(int fd, const char* name) {
  Call call(*this);
  if (call.Refused()) return -1;
  return static_cast<int>(call.Result(call.state().RemoveAttribute(fd, name)));
}

ssize_t MemoryFileSystem::ListAttributes(int fd, char* into, std::size_t size) {
  Call call(*this);
  if (call.Refused()) return -1;
  return call.Result(call.state().ListAttributes(fd, into, size));
}

// --- the helpers

namespace {

// Runs work on state as a test's helper: no step, no permission checks, and
// the change recorded as part of the step before.
template <typename TState, typename TWork>
auto AsHelper(std::mutex& mutex, TState& state, TWork&& work) {
  std::lock_guard<std::mutex> lock(mutex);
  state.checking = false;
  struct Restore {
    TState& state;
    ~Restore() {
      state.checking = true;
      if constexpr (!std::is_const_v<TState>) {
        if (state.recording && state.changed) state.Record();
      }
    }
  } restore{state};
  if constexpr (!std::is_const_v<TState>) state.changed = false;
  return work();
}

}  // namespace

void MemoryFileSystem::WriteFile(const std::string& path, const std::string& content, mode_t mode) {
  State& state = *state_;
  AsHelper(*mutex_, state, [&] {
    const ino_t directory = state.Directories(State::ParentOf(path), 0755);
    Place place = state.Locate(path, true);
    if (place.node == 0) {
      place.node = state.NewNode(S_IFREG | (mode & 07777), state.meta.nodes[directory]);
      state.Name(place.directory, place.name, place.node);
    }
    Node& node = state.meta.nodes[place.node];
    if (!S_ISREG(node.mode)) throw std::runtime_error("MemoryFileSystem: not a file: " + path);
    node.mode = S_IFREG | (mode & 07777);
    state.contents[place.node].bytes = content;
    state.Touch(place.node, true);
  });
}

bool MemoryFileSystem::ReadFile(const std::string& path, std::string& content) const {
  const State& state = *state_;
  return AsHelper(*mutex_, state, [&] {
    Place place;
    if (state.Walk(kRoot, path, true, place) < 0 || place.node == 0 ||
        !S_ISREG(state.meta.nodes[place.node].mode)) {
      return false;
    }
    content = state.contents[place.node].bytes;
    return true;
  });
}

void MemoryFileSystem::MakeDirectory(const std::string& path, mode_t mode) {
  State& state = *state_;
  AsHelper(*mutex_, state, [&] { state.Directories(path, mode); });
}

void MemoryFileSystem::MakeLink(const std::string& path, const std::string& target) {
  State& state = *state_;
  AsHelper(*mutex_, state, [&] {
    const ino_t directory = state.Directories(State::ParentOf(path), 0755);
    const Place place = state.Locate(path, false);
    if (place.node != 0) {
      if (S_ISDIR(state.meta.nodes[place.node].mode)) {
        throw std::runtime_error("MemoryFileSystem: a directory is in the way: " + path);
      }
      state.Unname(place.directory, place.name);
      state.MaybeFree(place.node);
    }
    const ino_t number = state.NewNode(S_IFLNK | 0777, state.meta.nodes[directory]);
    state.meta.nodes[number].target = target;
    state.Name(place.directory, place.name, number);
  });
}

void MemoryFileSystem::SetUmask(mode_t mask) {
  std::lock_guard<std::mutex> lock(*mutex_);
  state_->umask = mask & 0777;
}

void MemoryFileSystem::SetOwner(const std::string& path, uid_t owner, gid_t group) {
  State& state = *state_;
  AsHelper(*mutex_, state, [&] {
    const Place place = state.Locate(path, false);
    if (place.node == 0) throw std::runtime_error("MemoryFileSystem: no such entry: " + path);
    state.meta.nodes[place.node].owner = owner;
    state.meta.nodes[place.node].group = group;
    state.Touch(place.node, false);
  });
}

bool MemoryFileSystem::Exists(const std::string& path) const {
  const State& state = *state_;
  return AsHelper(*mutex_, state, [&] {
    Place place;
    return state.Walk(kRoot, path, false, place) == 0 && place.node != 0;
  });
}

struct stat MemoryFileSystem::StatusOf(const std::string& path) const {
  const State& state = *state_;
  return AsHelper(*mutex_, state, [&] {
    struct stat info {};
    Place place;
    if (state.Walk(kRoot, path, false, place) == 0 && place.node != 0) {
      state.Fill(place.node, &info);
    }
    return info;
  });
}

std::vector<std::string> MemoryFileSystem::Names(const std::string& directoryPath) const {
  const State& state = *state_;
  return AsHelper(*mutex_, state, [&] {
    std::vector<std::string> names;
    const Place place = state.Locate(directoryPath, true);
    if (place.node == 0) return names;
    for (const auto& entry : state.meta.nodes[place.node].entries) names.push_back(entry.first);
    return names;
  });
}

std::map<std::string, std::string> MemoryFileSystem::Files(const std::string& directoryPath) const {
  const State& state = *state_;
  return AsHelper(*mutex_, state, [&] {
    std::map<std::string, std::string> files;
    const Place place = state.Locate(directoryPath, true);
    if (place.node != 0 && S_ISDIR(state.meta.nodes[place.node].mode)) {
      state.Files(place.node, "", files);
    }
    return files;
  });
}

// --- power loss and faults

void MemoryFileSystem::SyncEverything() {
  std::lock_guard<std::mutex> lock(*mutex_);
  State& state = *state_;
  for (Content& content : state.contents) content.synced = content.bytes;
  if (state.recording) state.Record();
  state.Commit();
}

std::size_t MemoryFileSystem::Steps() const {
  std::lock_guard<std::mutex> lock(*mutex_);
  return state_->steps;
}

void MemoryFileSystem::LosePowerAt(std::size_t step) {
  std::lock_guard<std::mutex> lock(*mutex_);
  state_->lossAt = step;
}

void MemoryFileSystem::FailCall(std::size_t step, int error) {
  std::lock_guard<std::mutex> lock(*mutex_);
  state_->failures[step] = error;
}

void MemoryFileSystem::RecordMetadata(bool on) {
  std::lock_guard<std::mutex> lock(*mutex_);
  state_->recording = on;
  state_->records.clear();
  if (on) state_->Record();
}

std::size_t MemoryFileSystem::CommittedSteps() const {
  std::lock_guard<std::mutex> lock(*mutex_);
  return state_->committed;
}

MemoryFileSystem MemoryFileSystem::AfterPowerLoss(std::size_t metadataSteps) const {
  std::lock_guard<std::mutex> lock(*mutex_);
  const State& state = *state_;
  const std::size_t succeeded = std::min(state.steps, state.lossAt);
  const std::size_t steps = std::max(state.committed, std::min(metadataSteps, succeeded));
  const Metadata* meta = &state.meta;
  if (!state.records.empty()) {
    meta = state.records.front().second.get();
    for (const auto& record : state.records) {
      if (record.first <= steps) meta = record.second.get();
    }
  }
  auto found = std::make_unique<State>();
  found->user = state.user;
  found->group = state.group;
  found->groups = state.groups;
  found->umask = state.umask;
  found->meta = *meta;
  found->meta.clock = state.meta.clock;
  // Inode numbers are never given twice, whatever the prefix kept.
  found->meta.nodes.resize(std::max(meta->nodes.size(), state.meta.nodes.size()));
  found->contents.resize(found->meta.nodes.size());
  for (ino_t number = 0; number < found->meta.nodes.size(); ++number) {
    Node& node = found->meta.nodes[number];
    node.opens = 0;
    node.linkable = false;
    // Files without a name were open only: the journal's orphans, dropped.
    if (node.mode != 0 && node.links == 0) node = Node{};
    if (S_ISREG(node.mode) && number < state.contents.size()) {
      found->contents[number].bytes = state.contents[number].synced;
      found->contents[number].synced = state.contents[number].synced;
    }
  }
  return MemoryFileSystem(std::move(found));
}

}  // namespace testsupport
