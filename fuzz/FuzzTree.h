// What the fuzzers of the worker share: a scratch directory on a memory file
// system, made once per process, the files in it, and runs of the worker
// whose lines and rewrites are kept for comparison.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/uHistrel.h"
#include "fuzz/FuzzCheck.h"
#include "tests/HistrelTestSupport.h"

namespace fuzztree {

// Removes everything in the open directory ADirectory, which stays. Names
// are taken relative to it, so that no path is looked up again per entry.
inline void RemoveContentsAt(int ADirectory) {
  const int listing = openat(ADirectory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return;
  DIR* dir = fdopendir(listing);
  if (dir == nullptr) {
    close(listing);
    return;
  }
  std::vector<std::pair<std::string, bool>> entries;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") entries.emplace_back(name, entry->d_type == DT_DIR);
  }
  closedir(dir);
  for (const auto& entry : entries) {
    if (entry.second) {
      const int child =
          openat(ADirectory, entry.first.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child >= 0) {
        RemoveContentsAt(child);
        close(child);
      }
      unlinkat(ADirectory, entry.first.c_str(), AT_REMOVEDIR);
    } else {
      unlinkat(ADirectory, entry.first.c_str(), 0);
    }
  }
}

// Removes everything below APath, APath itself stays.
inline void RemoveContents(const std::string& APath) {
  const int directory = open(APath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return;
  RemoveContentsAt(directory);
  close(directory);
}

inline std::string& RootSlot() {
  static std::string root;
  return root;
}

inline void RemoveRoot() {
  RemoveContents(RootSlot());
  rmdir(RootSlot().c_str());
}

// Makes the scratch directory /dev/shm/histrel-AName-XXXXXX, removed at exit.
inline const std::string& MakeRoot(const std::string& AName) {
  std::string pattern = "/dev/shm/histrel-" + AName + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  RootSlot() = pattern;
  std::atexit(RemoveRoot);
  return RootSlot();
}

// The path as the worker takes it: backslashes, with a trailing one.
inline std::string SystemDirectory(const std::string& ANativePath) {
  std::string path = ANativePath + "/";
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// Creates or truncates the file AName in the open directory ADirectory
// (AT_FDCWD: APath as it is); false when that is not possible (a directory
// of that name, say).
inline bool WriteFileAt(int ADirectory, const std::string& AName, const std::string& AContent) {
  const int fd = openat(ADirectory, AName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  CHECK(write(fd, AContent.data(), AContent.size()) == static_cast<ssize_t>(AContent.size()));
  close(fd);
  return true;
}

inline bool WriteFile(const std::string& APath, const std::string& AContent) {
  return WriteFileAt(AT_FDCWD, APath, AContent);
}

inline bool ReadFile(const std::string& APath, std::string& AContent) {
  AContent.clear();
  const int fd = open(APath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[16384];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
    AContent.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return true;
}

// The names in the directory APath, "." and ".." left out.
inline std::vector<std::string> Names(const std::string& APath) {
  std::vector<std::string> names;
  DIR* dir = opendir(APath.c_str());
  CHECK(dir != nullptr);
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  return names;
}

// Every entry below APath with its kind and bytes ("name=bytes", "name
// (link)"), sorted, behind what AFiles holds.
inline void Snapshot(const std::string& APath, const std::string& ARelative,
                     std::vector<std::string>& AFiles) {
  std::vector<std::string> found;
  DIR* dir = opendir(APath.c_str());
  CHECK(dir != nullptr);
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = APath + "/" + name;
    struct stat info {};
    CHECK(lstat(path.c_str(), &info) == 0);
    if (S_ISDIR(info.st_mode)) {
      Snapshot(path, ARelative + name + "/", found);
    } else if (S_ISREG(info.st_mode)) {
      std::string content;
      CHECK(ReadFile(path, content));
      found.push_back(ARelative + name + "=" + content);
    } else {
      found.push_back(ARelative + name + " (link)");
    }
  }
  closedir(dir);
  std::sort(found.begin(), found.end());
  AFiles.insert(AFiles.end(), found.begin(), found.end());
}

// Keeps what the worker would write instead of writing it, in order.
class Recorder : public THistrelOutput {
 public:
  void SourceRewritten(const std::string& ASource, const std::string& ATarget,
                       std::string&& ANewText) override {
    events.push_back("source " + ASource + " -> " + ATarget + "\n" + ANewText);
  }
  void LogAppended(const std::string& ALog, std::string&& ALines) override {
    events.push_back("log " + ALog + "\n" + ALines);
  }
  std::vector<std::string> events;
};

// Runs the worker and gives every line it wrote, warnings among them where
// they were written, its failure last.
inline std::vector<std::string> Execute(THistrel& AHistrel) {
  testsupport::ConsoleCapture capture;
  testsupport::ExecuteReportingFailure(AHistrel);
  return capture.InOrder;
}

}  // namespace fuzztree
