// Walks a small tree on a memory file system and rewrites what it selects,
// once with the walk reading every file itself and once with workers
// reading ahead of it, each also line by line and with the fast path: all
// must announce the same lines, stop at the same failure and leave the same
// bytes in every file.
//
// Input: byte 0 chooses the mask (bits 0-1: "*.pas", every file, "*.", a
// named file) and KEEPCVS (bit 2); the rest is cut at each "\x01" into
// files, each "name\x02content" ("/" in a name makes a subdirectory, one
// level deep; a name ending in "@" becomes a link to the file before it).
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/uHistrel.h"
#include "app/uHistrelEnglishConstant.h"
#include "fuzz/FuzzCheck.h"
#include "platform/Console.h"
#include "platform/Exception.h"

namespace {

std::string gRoot;

void RemoveTree(const std::string& APath) {
  DIR* dir = opendir(APath.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  for (const std::string& name : names) {
    const std::string path = APath + "/" + name;
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
      RemoveTree(path);
      rmdir(path.c_str());
    } else {
      unlink(path.c_str());
    }
  }
}

void RemoveRoot() {
  RemoveTree(gRoot);
  rmdir(gRoot.c_str());
}

// Every entry below APath with its kind and bytes, sorted.
void Snapshot(const std::string& APath, const std::string& ARelative,
              std::vector<std::string>& AFiles) {
  DIR* dir = opendir(APath.c_str());
  CHECK(dir != nullptr);
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = APath + "/" + name;
    struct stat info {};
    CHECK(lstat(path.c_str(), &info) == 0);
    if (S_ISDIR(info.st_mode)) {
      Snapshot(path, ARelative + name + "/", AFiles);
    } else if (S_ISREG(info.st_mode)) {
      std::string content;
      const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      CHECK(fd >= 0);
      char buffer[65536];
      for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
        content.append(buffer, static_cast<std::size_t>(n));
      }
      close(fd);
      AFiles.push_back(ARelative + name + "=" + content);
    } else {
      AFiles.push_back(ARelative + name + " (link)");
    }
  }
  closedir(dir);
  std::sort(AFiles.begin(), AFiles.end());
}

class LineCapture : public platform::ConsoleSink {
 public:
  LineCapture() : previous_(platform::SetConsoleSink(this)) {}
  ~LineCapture() override { platform::SetConsoleSink(previous_); }
  LineCapture(const LineCapture&) = delete;
  LineCapture& operator=(const LineCapture&) = delete;
  void WriteLine(const std::string& ALine) override { lines.push_back(ALine); }
  void WriteErrorLine(const std::string& ALine) override { lines.push_back("error: " + ALine); }
  std::vector<std::string> lines;

 private:
  platform::ConsoleSink* previous_;
};

struct TFile {
  std::string name;
  std::string content;
};

// Names the file system can hold, in one level of subdirectories.
std::string CleanName(std::string AName) {
  AName.erase(std::remove_if(AName.begin(), AName.end(),
                             [](char c) { return c == '\0' || c == '\x01' || c == '\x02'; }),
              AName.end());
  const std::string::size_type slash = AName.find('/');
  std::string directory = slash == std::string::npos ? "" : AName.substr(0, slash);
  std::string leaf = slash == std::string::npos ? AName : AName.substr(slash + 1);
  leaf.erase(std::remove(leaf.begin(), leaf.end(), '/'), leaf.end());
  if (leaf.empty() || leaf == "." || leaf == "..") leaf = "u.pas";
  if (directory == "." || directory == "..") directory.clear();
  leaf.resize(std::min<std::size_t>(leaf.size(), 60));
  directory.resize(std::min<std::size_t>(directory.size(), 60));
  return directory.empty() ? leaf : directory + "/" + leaf;
}

std::vector<std::string> Run(const std::vector<TFile>& AFiles, const std::string& AMask,
                             bool AKeepCVS, unsigned AThreads, bool ALineByLine) {
  RemoveTree(gRoot);
  std::string previous;
  for (const TFile& file : AFiles) {
    const std::string path = gRoot + "/" + file.name;
    const std::string::size_type slash = file.name.find('/');
    if (slash != std::string::npos) mkdir((gRoot + "/" + file.name.substr(0, slash)).c_str(), 0755);
    if (!file.name.empty() && file.name.back() == '@' && !previous.empty()) {
      symlink((gRoot + "/" + previous).c_str(), path.c_str());
      continue;
    }
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) continue;  // a name that is a directory already
    CHECK(write(fd, file.content.data(), file.content.size()) ==
          static_cast<ssize_t>(file.content.size()));
    close(fd);
    previous = file.name;
  }
  THistrel histrel([] { return platform::LocalDate{2003, 6, 2}; });
  std::string path = gRoot + "/";
  for (char& c : path) c = c == '/' ? '\\' : c;
  histrel.SetPath(path);
  histrel.SetFileName(AMask);
  histrel.SetUser("qa");
  histrel.SetKeepCVS(AKeepCVS);
  histrel.SetReadThreads(AThreads);
  TSourceReading reading;
  reading.LineByLine = ALineByLine;
  histrel.SetSourceReading(reading);
  std::vector<std::string> outcome;
  {
    LineCapture capture;
    try {
      histrel.Execute();
    } catch (const Exception& failure) {
      platform::WriteLine(failure.Message());
    }
    outcome = capture.lines;
  }
  outcome.emplace_back("--");
  Snapshot(gRoot, "", outcome);
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitializeHistrelEnglishConstantUnit();
  char pattern[] = "/dev/shm/histrel-walk-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  gRoot = pattern;
  std::atexit(RemoveRoot);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 16384) return 0;
  static const char* const kMasks[] = {"*.pas", "", "*.", "u.pas"};
  const std::string mask = kMasks[data[0] & 3];
  const bool keepCvs = (data[0] & 4) != 0;
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<TFile> files;
  for (std::string::size_type at = 0; at <= rest.size() && files.size() < 24;) {
    std::string::size_type end = rest.find('\x01', at);
    if (end == std::string::npos) end = rest.size();
    const std::string piece = rest.substr(at, end - at);
    const std::string::size_type split = piece.find('\x02');
    TFile file;
    file.name = CleanName(split == std::string::npos ? piece : piece.substr(0, split));
    file.content = split == std::string::npos ? "" : piece.substr(split + 1);
    files.push_back(file);
    at = end + 1;
  }
  const std::vector<std::string> alone = Run(files, mask, keepCvs, 1, false);
  CHECK(Run(files, mask, keepCvs, 4, false) == alone);
  CHECK(Run(files, mask, keepCvs, 1, true) == alone);
  return 0;
}
