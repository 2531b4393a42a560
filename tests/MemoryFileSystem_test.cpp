// The file system in memory against the system's: each row makes the same
// calls through both tables, and the results, errno values and the trees
// they leave must match. Then what a power loss keeps.
#include "tests/MemoryFileSystem.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/TestSupport.h"

namespace {

using platform::FileCalls;
using testsupport::MemoryFileSystem;

std::string ErrorName() { return strerrorname_np(errno); }

// The calls of one row on one side, each written down as a line: its result,
// or -1 and the name of its errno. Descriptors show as "fd", since the two
// sides number them differently; those opened here are closed at the end.
class Session {
 public:
  Session(FileCalls& calls, int at) : calls_(calls), at_(at) {}
  ~Session() {
    for (const int fd : open_) calls_.Close(fd);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  FileCalls& calls() { return calls_; }
  int at() const { return at_; }
  const std::vector<std::string>& Lines() const { return lines_; }
  void Add(const std::string& line) { lines_.push_back(line); }

  long Note(const std::string& what, long result) {
    Add(what + ": " + (result < 0 ? "-1 " + ErrorName() : std::to_string(result)));
    return result;
  }
  int Fd(const std::string& what, int fd) {
    Add(what + ": " + (fd < 0 ? "-1 " + ErrorName() : "fd"));
    if (fd >= 0) open_.push_back(fd);
    return fd;
  }
  int Open(const std::string& what, const char* name, int flags, mode_t mode = 0644) {
    return Fd(what, calls_.OpenAt(at_, name, flags, mode));
  }
  void Close(int fd) {
    open_.erase(std::remove(open_.begin(), open_.end(), fd), open_.end());
    Note("close", calls_.Close(fd));
  }
  // The kind of what name is, as a letter, or the errno of the look-up.
  void Kind(const std::string& what, const char* name, int flags) {
    struct stat info {};
    if (calls_.StatusAt(at_, name, &info, flags) != 0) {
      Add(what + ": -1 " + ErrorName());
      return;
    }
    Add(what + ": " +
        (S_ISDIR(info.st_mode)   ? "directory"
         : S_ISLNK(info.st_mode) ? "link"
                                 : "file"));
  }

 private:
  FileCalls& calls_;
  int at_;
  std::vector<int> open_;
  std::vector<std::string> lines_;
};

// Every entry below the directory fd as a line (path, kind, the kind the
// listing gave, mode, link count, then bytes or link text), read through the
// calls themselves.
void Dump(FileCalls& calls, int fd, const std::string& prefix, std::vector<std::string>& lines) {
  std::vector<platform::DirectoryEntry> entries;
  if (calls.List(fd, entries) != 0) {
    lines.push_back(prefix + ": cannot list");
    return;
  }
  std::map<std::string, platform::EntryKind> sorted;
  for (const auto& entry : entries) sorted.emplace(entry.name, entry.kind);
  for (const auto& [name, kind] : sorted) {
    if (name == "." || name == "..") continue;
    struct stat info {};
    calls.StatusAt(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW);
    const char letter = S_ISDIR(info.st_mode) ? 'd' : S_ISLNK(info.st_mode) ? 'l' : 'f';
    char head[64];
    std::snprintf(head, sizeof head, " %c%d %04o %d ", letter, static_cast<int>(kind),
                  static_cast<unsigned>(info.st_mode & 07777), static_cast<int>(info.st_nlink));
    std::string line = prefix + name + head;
    if (letter == 'l') {
      char target[256];
      const ssize_t n = calls.ReadLinkAt(fd, name.c_str(), target, sizeof target);
      lines.push_back(line + "-> " + std::string(target, n < 0 ? 0 : static_cast<std::size_t>(n)));
      continue;
    }
    const int child = calls.OpenAt(fd, name.c_str(), O_RDONLY | O_NOFOLLOW, 0);
    if (letter == 'd') {
      lines.push_back(line);
      Dump(calls, child, prefix + name + "/", lines);
    } else {
      std::string bytes(256, '\0');
      const ssize_t n = calls.Read(child, &bytes[0], bytes.size());
      bytes.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
      lines.push_back(line + bytes);
    }
    calls.Close(child);
  }
}

// Each row starts from the same tree: f ("abc", 0644), an empty directory
// sub, l -> f, dl -> a missing name, ls -> sub.
struct ContractRow {
  const char* name;
  std::function<void(Session&)> calls;
  // What POSIX says the row gives, for a system that cannot run it (tmpfs
  // without user attributes); empty for rows every system runs.
  std::vector<std::string> known;
};

void PrintTo(const ContractRow& row, std::ostream* out) { *out << row.name; }

std::string Listed(const char* names, ssize_t size) {
  std::string text(names, size < 0 ? 0 : static_cast<std::size_t>(size));
  std::replace(text.begin(), text.end(), '\0', '|');
  return text;
}

const ContractRow kContractRows[] = {
    {"create exclusive twice",
     [](Session& s) {
       const int fd = s.Open("create", "new", O_WRONLY | O_CREAT | O_EXCL, 0640);
       s.Note("write", s.calls().Write(fd, "xy", 2));
       s.Open("again", "new", O_WRONLY | O_CREAT | O_EXCL);
       s.Open("through a dangling link", "dl", O_WRONLY | O_CREAT | O_EXCL);
       s.Open("without O_EXCL", "new", O_RDWR | O_CREAT);
       s.Open("umask applies", "wide", O_WRONLY | O_CREAT, 0666);
       s.Open("through a dangling link, followed", "dl", O_WRONLY | O_CREAT, 0600);
     },
     {}},
    {"links at the end of a name",
     [](Session& s) {
       s.Open("O_NOFOLLOW", "l", O_RDONLY | O_NOFOLLOW);
       s.Open("O_DIRECTORY and O_NOFOLLOW", "ls", O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
       s.Open("followed", "ls", O_RDONLY | O_DIRECTORY);
       s.Open("dangling", "dl", O_RDONLY);
       s.Open("create, not followed", "dl", O_WRONLY | O_CREAT | O_NOFOLLOW);
       const int path = s.Open("O_PATH of the link", "l", O_PATH | O_NOFOLLOW);
       s.Note("its flags", s.calls().StatusFlags(path) & (O_PATH | O_NOFOLLOW | O_ACCMODE));
       char text[8] = {};
       s.Note("read it", s.calls().Read(path, text, 1));
       s.Note("lock it", s.calls().Lock(path, LOCK_EX | LOCK_NB));
       s.Note("read the link by it", s.calls().ReadLinkAt(path, "", text, sizeof text));
       s.Note("short buffer", s.calls().ReadLinkAt(s.at(), "dl", text, 3));
       s.Add(text);
       s.Note("readlink of a file", s.calls().ReadLinkAt(s.at(), "f", text, sizeof text));
       struct stat viaLink {};
       struct stat file {};
       s.calls().StatusAt(s.at(), "l", &viaLink, 0);
       s.calls().StatusAt(s.at(), "f", &file, 0);
       s.Note("the link leads to the file", viaLink.st_ino == file.st_ino);
       std::string resolved;
       s.Add(s.calls().RealPath("/no/such/place", resolved) ? "found" : "nowhere " + ErrorName());
     },
     {}},
    {"names of the wrong kind",
     [](Session& s) {
       s.Open("O_DIRECTORY on a file", "f", O_RDONLY | O_DIRECTORY);
       s.Open("through a file", "f/x", O_RDONLY);
       s.Open("writing a directory", "sub", O_WRONLY);
       s.Open("creating a directory", "sub", O_RDONLY | O_CREAT);
       s.Open("creating a file as a directory", "new/", O_WRONLY | O_CREAT);
       const int sub = s.Open("O_PATH of a directory", "sub", O_PATH | O_DIRECTORY);
       s.Note("its flags", s.calls().StatusFlags(sub) & (O_PATH | O_DIRECTORY | O_ACCMODE));
       s.Fd("create relative to it", s.calls().OpenAt(sub, "inner", O_WRONLY | O_CREAT, 0600));
       s.Note("mkdir over a link", s.calls().MakeDirectoryAt(s.at(), "dl", 0755));
       s.Note("mkdir through a link", s.calls().MakeDirectoryAt(s.at(), "ls/deeper", 0750));
       s.Note("mkdir of dot", s.calls().MakeDirectoryAt(s.at(), ".", 0755));
       const int file = s.Open("file", "f", O_RDONLY);
       std::vector<platform::DirectoryEntry> entries;
       s.Note("list a file", s.calls().List(file, entries));
       s.Note("list an O_PATH directory", s.calls().List(sub, entries));
       s.Note("chmod by O_PATH", s.calls().ChangeMode(sub, 0700));
       s.Note("chmod", s.calls().ChangeMode(file, 0600));
       s.Note("chown to the same", s.calls().ChangeOwner(file, static_cast<uid_t>(-1), getegid()));
     },
     {}},
    {"status of links and directories",
     [](Session& s) {
       for (const char* name : {"f", "sub", "l", "dl", "ls", "ls/", "f/", "sub/..", ""}) {
         s.Kind(std::string(name) + " followed", name, 0);
         s.Kind(std::string(name) + " itself", name, AT_SYMLINK_NOFOLLOW);
       }
       s.Kind("the directory itself", "", AT_EMPTY_PATH);
       s.Note("execute a file without x", s.calls().AccessAt(s.at(), "f", X_OK, AT_EACCESS));
       s.Note("read and write", s.calls().AccessAt(s.at(), "f", R_OK | W_OK, AT_EACCESS));
       s.Note("dangling", s.calls().AccessAt(s.at(), "dl", F_OK, 0));
       s.Note("dangling itself", s.calls().AccessAt(s.at(), "dl", F_OK, AT_SYMLINK_NOFOLLOW));
       s.Note("a bad descriptor", s.calls().AccessAt(1 << 24, "f", F_OK, 0));
     },
     {}},
    {"rename with and without flags",
     [](Session& s) {
       FileCalls& c = s.calls();
       const int at = s.at();
       s.Note("noreplace onto a name", c.RenameAt(at, "f", at, "l", RENAME_NOREPLACE));
       s.Note("noreplace", c.RenameAt(at, "f", at, "g", RENAME_NOREPLACE));
       s.Note("exchange with nothing", c.RenameAt(at, "g", at, "none", RENAME_EXCHANGE));
       s.Note("both flags", c.RenameAt(at, "g", at, "sub", RENAME_EXCHANGE | RENAME_NOREPLACE));
       s.Note("exchange", c.RenameAt(at, "g", at, "sub", RENAME_EXCHANGE));
       s.Note("file over directory", c.RenameAt(at, "sub", at, "g", 0));
       s.Note("directory over file", c.RenameAt(at, "g", at, "sub", 0));
       s.Note("into itself", c.RenameAt(at, "g", at, "g/x", 0));
       s.Note("dot", c.RenameAt(at, ".", at, "x", 0));
       s.Note("over its own name", c.RenameAt(at, "l", at, "l", 0));
       s.Note("over a dangling link", c.RenameAt(at, "sub", at, "dl", 0));
       s.Note("mkdir", c.MakeDirectoryAt(at, "g/inner", 0755));
       s.Note("mkdir", c.MakeDirectoryAt(at, "other", 0755));
       s.Note("directory to another parent", c.RenameAt(at, "g/inner", at, "other/inner", 0));
       s.Note("over a full directory", c.RenameAt(at, "g", at, "other", 0));
       s.Note("over an empty one", c.RenameAt(at, "other", at, "g", 0));
       s.Note("a missing one", c.RenameAt(at, "other", at, "g", 0));
     },
     {}},
    {"unlink and rmdir",
     [](Session& s) {
       FileCalls& c = s.calls();
       const int at = s.at();
       s.Note("a directory without AT_REMOVEDIR", c.UnlinkAt(at, "sub", 0));
       s.Note("a file with it", c.UnlinkAt(at, "f", AT_REMOVEDIR));
       s.Note("dot", c.UnlinkAt(at, ".", AT_REMOVEDIR));
       s.Note("mkdir", c.MakeDirectoryAt(at, "sub/x", 0755));
       s.Note("not empty", c.UnlinkAt(at, "sub", AT_REMOVEDIR));
       s.Note("a link, not what it names", c.UnlinkAt(at, "l", 0));
       const int fd = s.Open("open", "f", O_RDWR);
       s.Note("the open file", c.UnlinkAt(at, "f", 0));
       s.Note("written without a name", c.Write(fd, "z", 1));
       struct stat info {};
       c.Status(fd, &info);
       s.Note("its links", static_cast<long>(info.st_nlink));
       char bytes[8];
       s.Add(std::string(bytes, static_cast<std::size_t>(c.ReadAt(fd, bytes, sizeof bytes, 0))));
       s.Note("gone", c.UnlinkAt(at, "f", 0));
       s.Note("empty name", c.UnlinkAt(at, "", 0));
       s.Note("rmdir", c.UnlinkAt(at, "sub/x", AT_REMOVEDIR));
     },
     {}},
    {"O_TMPFILE linked in through /proc/self/fd",
     [](Session& s) {
       FileCalls& c = s.calls();
       const int at = s.at();
       s.Open("read-only", ".", O_TMPFILE | O_RDONLY, 0600);
       s.Open("in a file", "f", O_TMPFILE | O_WRONLY, 0600);
       const int fd = s.Open("nameless", ".", O_TMPFILE | O_WRONLY, 0600);
       s.Note("its flags", c.StatusFlags(fd) & (O_TMPFILE | O_ACCMODE));
       s.Note("write", c.Write(fd, "new", 3));
       const std::string self = "/proc/self/fd/" + std::to_string(fd);
       s.Note("link the proc link", c.LinkAt(AT_FDCWD, self.c_str(), at, "t", 0));
       s.Note("onto a name", c.LinkAt(AT_FDCWD, self.c_str(), at, "f", AT_SYMLINK_FOLLOW));
       s.Note("link", c.LinkAt(AT_FDCWD, self.c_str(), at, "t", AT_SYMLINK_FOLLOW));
       s.Note("and again", c.LinkAt(AT_FDCWD, self.c_str(), at, "u", AT_SYMLINK_FOLLOW));
       const int excl = s.Open("exclusive", ".", O_TMPFILE | O_WRONLY | O_EXCL, 0600);
       const std::string other = "/proc/self/fd/" + std::to_string(excl);
       s.Note("never linkable", c.LinkAt(AT_FDCWD, other.c_str(), at, "v", AT_SYMLINK_FOLLOW));
       s.Note("a directory", c.LinkAt(at, "sub", at, "sub2", 0));
       s.Note("a link itself", c.LinkAt(at, "l", at, "l2", 0));
       s.Note("what a link names", c.LinkAt(at, "l", at, "f2", AT_SYMLINK_FOLLOW));
     },
     {}},
    {"flock on two descriptions",
     [](Session& s) {
       FileCalls& c = s.calls();
       const int first = s.Open("first", "f", O_RDONLY);
       const int second = s.Open("second", "f", O_RDONLY);
       s.Note("first takes it", c.Lock(first, LOCK_EX | LOCK_NB));
       s.Note("second", c.Lock(second, LOCK_EX | LOCK_NB));
       s.Note("second shared", c.Lock(second, LOCK_SH | LOCK_NB));
       const int copy = s.Fd("duplicate", c.Duplicate(first));
       s.Note("the copy holds it too", c.Lock(copy, LOCK_EX | LOCK_NB));
       s.Close(first);
       s.Note("while the copy is open", c.Lock(second, LOCK_EX | LOCK_NB));
       s.Close(copy);
       s.Note("after the last close", c.Lock(second, LOCK_EX | LOCK_NB));
       s.Note("no operation", c.Lock(second, LOCK_NB));
       s.Note("unlock", c.Lock(second, LOCK_UN));
       s.Note("a closed descriptor", c.Lock(copy, LOCK_UN));
     },
     {}},
    {"O_APPEND, pread, truncate and copy",
     [](Session& s) {
       FileCalls& c = s.calls();
       const int append = s.Open("append", "f", O_WRONLY | O_APPEND);
       s.Note("seek to the start", c.Seek(append, 0, SEEK_SET));
       s.Note("write", c.Write(append, "de", 2));
       s.Note("where it is", c.Seek(append, 0, SEEK_CUR));
       char bytes[16] = {};
       s.Note("read a write-only one", c.Read(append, bytes, 1));
       const int fd = s.Open("read and write", "f", O_RDWR);
       s.Note("pread", c.ReadAt(fd, bytes, 2, 1));
       s.Add(std::string(bytes, 2));
       s.Note("pread past the end", c.ReadAt(fd, bytes, 2, 9));
       s.Note("read", c.Read(fd, bytes, 3));
       s.Note("pread keeps the offset", c.ReadAt(fd, bytes, 1, 0));
       s.Note("where it is", c.Seek(fd, 0, SEEK_CUR));
       s.Note("grow", c.Truncate(fd, 8));
       s.Note("shrink", c.Truncate(fd, 4));
       s.Note("seek past the end", c.Seek(fd, 6, SEEK_SET));
       s.Note("write there", c.Write(fd, "z", 1));
       s.Note("seek before the start", c.Seek(fd, -1, SEEK_SET));
       s.Note("seek from the end", c.Seek(fd, -2, SEEK_END));
       const int reader = s.Open("read-only", "f", O_RDONLY);
       s.Note("truncate a read-only one", c.Truncate(reader, 1));
       s.Note("write a read-only one", c.Write(reader, "x", 1));
       off_t from = 1;
       s.Note("copy into O_APPEND", c.CopyRange(reader, &from, append, 2));
       const int copy = s.Open("copy", "copy", O_WRONLY | O_CREAT | O_EXCL);
       s.Note("copy", c.CopyRange(reader, &from, copy, 3));
       s.Note("from there on", from);
       from = 100;
       s.Note("copy past the end", c.CopyRange(reader, &from, copy, 3));
       s.Note("copy by the offset", c.CopyRange(reader, nullptr, copy, 2));
       s.Note("into a directory", c.CopyRange(reader, nullptr, s.at(), 2));
     },
     {}},
    {"directory listing",
     [](Session& s) {
       const int fd = s.Open("directory", ".", O_RDONLY | O_DIRECTORY);
       std::vector<platform::DirectoryEntry> entries;
       s.Note("list", s.calls().List(fd, entries));
       std::sort(entries.begin(), entries.end(),
                 [](const auto& a, const auto& b) { return a.name < b.name; });
       for (const auto& entry : entries) {
         s.Add(entry.name + " " + std::to_string(static_cast<int>(entry.kind)));
       }
     },
     {}},
    {"extended attributes",
     [](Session& s) {
       FileCalls& c = s.calls();
       const int fd = s.Open("open", "f", O_RDONLY);
       char value[64] = {};
       s.Note("set", c.SetAttribute(fd, "user.histrel", "12345", 5));
       s.Note("its size", c.GetAttribute(fd, "user.histrel", nullptr, 0));
       s.Note("too short", c.GetAttribute(fd, "user.histrel", value, 2));
       s.Note("get", c.GetAttribute(fd, "user.histrel", value, sizeof value));
       s.Add(value);
       s.Note("missing", c.GetAttribute(fd, "user.none", value, sizeof value));
       s.Note("no such namespace", c.SetAttribute(fd, "bogus.x", "1", 1));
       s.Note("empty name", c.SetAttribute(fd, "", "1", 1));
       s.Note("list size", c.ListAttributes(fd, nullptr, 0));
       s.Note("list too short", c.ListAttributes(fd, value, 4));
       s.Add(Listed(value, s.Note("list", c.ListAttributes(fd, value, sizeof value))));
       s.Note("remove", c.RemoveAttribute(fd, "user.histrel"));
       s.Note("remove again", c.RemoveAttribute(fd, "user.histrel"));
       s.Note("list empty", c.ListAttributes(fd, value, sizeof value));
       const int path = s.Open("O_PATH", "f", O_PATH);
       s.Note("set by O_PATH", c.SetAttribute(path, "user.x", "1", 1));
     },
     {"open: fd", "set: 0", "its size: 5", "too short: -1 ERANGE", "get: 5", "12345",
      "missing: -1 ENODATA", "no such namespace: -1 EOPNOTSUPP", "empty name: -1 ERANGE",
      "list size: 13", "list too short: -1 ERANGE", "list: 13", "user.histrel|", "remove: 0",
      "remove again: -1 ENODATA", "list empty: 0", "O_PATH: fd", "set by O_PATH: -1 EBADF"}},
};

// Builds the row's starting tree in the real directory.
void BuildOnDisk(const std::string& dir) {
  testsupport::WriteFile(dir + "/f", "abc");
  chmod((dir + "/f").c_str(), 0644);
  mkdir((dir + "/sub").c_str(), 0755);
  symlink("f", (dir + "/l").c_str());
  symlink("missing", (dir + "/dl").c_str());
  symlink("sub", (dir + "/ls").c_str());
}

void BuildInMemory(MemoryFileSystem& fs, const std::string& dir) {
  fs.MakeDirectory(dir, 0755);
  fs.WriteFile(dir + "/f", "abc", 0644);
  fs.MakeDirectory(dir + "/sub", 0755);
  fs.MakeLink(dir + "/l", "f");
  fs.MakeLink(dir + "/dl", "missing");
  fs.MakeLink(dir + "/ls", "sub");
}

// The row's lines, then the tree it left.
std::vector<std::string> RunRow(const ContractRow& row, FileCalls& calls, const std::string& dir) {
  const int at = calls.OpenAt(AT_FDCWD, dir.c_str(), O_RDONLY | O_DIRECTORY, 0);
  std::vector<std::string> lines;
  {
    Session session(calls, at);
    row.calls(session);
    lines = session.Lines();
  }
  lines.emplace_back("--- tree");
  Dump(calls, at, "", lines);
  calls.Close(at);
  return lines;
}

class MemoryFileSystemContract : public ::testing::TestWithParam<ContractRow> {};

TEST_P(MemoryFileSystemContract, GivesWhatTheSystemGives) {
  const ContractRow& row = GetParam();
  testsupport::TempDir real;
  BuildOnDisk(real.Path());
  const std::vector<std::string> system = RunRow(row, platform::Calls(), real.Path());
  MemoryFileSystem memory;
  BuildInMemory(memory, "/row");
  const std::vector<std::string> inMemory = RunRow(row, memory, "/row");
  const std::vector<std::string> known(row.known.begin(), row.known.end());
  const bool systemCannot =
      system.size() > 1 && system[1].find("EOPNOTSUPP") != std::string::npos && !known.empty();
  if (systemCannot) {
    // The system's file system keeps no such attributes; what POSIX says must hold.
    const std::vector<std::string> head(inMemory.begin(), inMemory.begin() + known.size());
    EXPECT_EQ(known, head) << "the system here cannot run this row";
    return;
  }
  EXPECT_EQ(system, inMemory);
  if (!known.empty()) {
    EXPECT_EQ(known, std::vector<std::string>(system.begin(), system.begin() + known.size()));
  }
}

// A row's name as a test's: its words run together, each capitalised.
std::string TestName(const char* text) {
  std::string name;
  bool upper = true;
  for (const char* c = text; *c != '\0'; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    if (std::isalnum(byte) == 0) {
      upper = true;
      continue;
    }
    name += upper ? static_cast<char>(std::toupper(byte)) : *c;
    upper = false;
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Rows, MemoryFileSystemContract, ::testing::ValuesIn(kContractRows),
                         [](const auto& row) { return TestName(row.param.name); });

// --- power loss

// A row: calls made on a synced tree (d/f holds "old"), then the power goes;
// the files the machine finds with the metadata of the last step and with
// that of the last sync.
struct LossRow {
  const char* name;
  std::function<void(FileCalls&, int)> calls;
  std::map<std::string, std::string> atLastStep;
  std::map<std::string, std::string> atLastSync;
};

void PrintTo(const LossRow& row, std::ostream* out) { *out << row.name; }

int Create(FileCalls& c, int at, const char* name, const std::string& text) {
  const int fd = c.OpenAt(at, name, O_WRONLY | O_CREAT | O_EXCL, 0600);
  c.Write(fd, text.data(), text.size());
  return fd;
}

const LossRow kLossRows[] = {
    {"an unsynced write is lost",
     [](FileCalls& c, int at) { c.Close(Create(c, at, "new", "text")); },
     {{"f", "old"}, {"new", ""}},
     {{"f", "old"}}},
    {"a synced file renamed over another",
     [](FileCalls& c, int at) {
       const int fd = Create(c, at, "tmp", "new");
       c.SyncData(fd);
       c.RenameAt(at, "tmp", at, "f", 0);
       c.Close(fd);
     },
     {{"f", "new"}},
     {{"f", "old"}, {"tmp", "new"}}},
    {"bytes written after a sync are lost",
     [](FileCalls& c, int at) {
       const int fd = c.OpenAt(at, "f", O_WRONLY | O_TRUNC, 0);
       c.Write(fd, "v1", 2);
       c.Sync(fd);
       c.Write(fd, "v2", 2);
       c.Truncate(fd, 1);
       c.Close(fd);
     },
     {{"f", "v1"}},
     {{"f", "v1"}}},
    {"an unlink after the sync",
     [](FileCalls& c, int at) { c.UnlinkAt(at, "f", 0); },
     {},
     {{"f", "old"}}},
    {"a nameless file never appears, synced or not",
     [](FileCalls& c, int at) {
       const int fd = c.OpenAt(at, ".", O_TMPFILE | O_WRONLY, 0600);
       c.Write(fd, "x", 1);
       c.SyncData(fd);
       c.RenameAt(at, "f", at, "g", 0);
     },
     {{"g", "old"}},
     {{"f", "old"}}},
    {"a sync of any file commits every name before it",
     [](FileCalls& c, int at) {
       c.RenameAt(at, "f", at, "g", 0);
       c.Close(Create(c, at, "new", "text"));
       c.Sync(at);
       c.UnlinkAt(at, "g", 0);
     },
     {{"new", ""}},
     {{"g", "old"}, {"new", ""}}},
};

class MemoryFileSystemPowerLoss : public ::testing::TestWithParam<LossRow> {};

TEST_P(MemoryFileSystemPowerLoss, KeepsWhatReachedTheDisk) {
  const LossRow& row = GetParam();
  MemoryFileSystem fs;
  fs.WriteFile("/d/f", "old");
  fs.SyncEverything();
  fs.RecordMetadata(true);
  const int at = fs.OpenAt(AT_FDCWD, "/d", O_RDONLY | O_DIRECTORY, 0);
  row.calls(fs, at);
  fs.LosePowerAt(fs.Steps());
  EXPECT_EQ(row.atLastStep, fs.AfterPowerLoss(fs.Steps()).Files("/d"));
  EXPECT_EQ(row.atLastSync, fs.AfterPowerLoss(fs.CommittedSteps()).Files("/d"));
  // Nothing before the last sync can be lost.
  EXPECT_EQ(row.atLastSync, fs.AfterPowerLoss(0).Files("/d"));
}

INSTANTIATE_TEST_SUITE_P(Rows, MemoryFileSystemPowerLoss, ::testing::ValuesIn(kLossRows),
                         [](const auto& row) { return TestName(row.param.name); });

TEST(MemoryFileSystemMetadata, EveryPrefixOfTheMetadataCanSurvive) {
  MemoryFileSystem fs;
  fs.MakeDirectory("/d");
  fs.SyncEverything();
  fs.RecordMetadata(true);
  const int at = fs.OpenAt(AT_FDCWD, "/d", O_RDONLY | O_DIRECTORY, 0);
  for (const char* name : {"a", "b", "c"}) fs.MakeDirectoryAt(at, name, 0755);
  const std::size_t steps = fs.Steps();
  std::vector<std::vector<std::string>> found;
  for (std::size_t kept = 0; kept <= steps; ++kept)
    found.push_back(fs.AfterPowerLoss(kept).Names("/d"));
  const std::vector<std::vector<std::string>> expected = {
      {}, {}, {"a"}, {"a", "b"}, {"a", "b", "c"}};
  EXPECT_EQ(expected, found);
}

TEST(MemoryFileSystemFaults, ALostCallAndEveryLaterOneFailAndChangeNothing) {
  MemoryFileSystem fs;
  fs.WriteFile("/f", "abc");
  const int fd = fs.OpenAt(AT_FDCWD, "/f", O_WRONLY | O_APPEND, 0);
  fs.LosePowerAt(fs.Steps() + 1);
  EXPECT_EQ(1, fs.Write(fd, "d", 1));
  errno = 0;
  EXPECT_EQ(-1, fs.Write(fd, "e", 1));
  EXPECT_EQ(EIO, errno);
  errno = 0;
  EXPECT_EQ(-1, fs.RenameAt(AT_FDCWD, "/f", AT_FDCWD, "/g", 0));
  EXPECT_EQ(EIO, errno);
  std::string bytes;
  EXPECT_TRUE(fs.ReadFile("/f", bytes));
  EXPECT_EQ("abcd", bytes);
  EXPECT_EQ(std::vector<std::string>{"f"}, fs.Names("/"));
}

TEST(MemoryFileSystemFaults, APlantedFailureHitsThatCallAlone) {
  MemoryFileSystem fs;
  const int fd = fs.OpenAt(AT_FDCWD, "/f", O_WRONLY | O_CREAT, 0644);
  fs.FailCall(fs.Steps(), ENOSPC);
  errno = 0;
  EXPECT_EQ(-1, fs.Write(fd, "a", 1));
  EXPECT_EQ(ENOSPC, errno);
  EXPECT_EQ(1, fs.Write(fd, "b", 1));
  EXPECT_EQ(0, fs.Close(fd));
  std::string bytes;
  EXPECT_TRUE(fs.ReadFile("/f", bytes));
  EXPECT_EQ("b", bytes);
}

// Equal times would hide a change from a check of size and modification time.
TEST(MemoryFileSystemTimes, EveryChangeGivesANewModificationTime) {
  MemoryFileSystem fs;
  fs.WriteFile("/f", "ab");
  const int fd = fs.OpenAt(AT_FDCWD, "/f", O_WRONLY, 0);
  const timespec before = fs.StatusOf("/f").st_mtim;
  fs.Write(fd, "cd", 2);
  const timespec after = fs.StatusOf("/f").st_mtim;
  EXPECT_NE(std::make_pair(before.tv_sec, before.tv_nsec),
            std::make_pair(after.tv_sec, after.tv_nsec));
  EXPECT_EQ(2, fs.StatusOf("/f").st_size);
}

}  // namespace
