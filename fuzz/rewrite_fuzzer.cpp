// Collects the marked comments of arbitrary sources and rewrites them, with
// the date fixed, in every way the worker can read a source: line by line,
// held in memory, streamed through a buffer of a few bytes, and streamed with
// the kernel copying plain stretches. All must leave the same source, log and
// output, whatever the line ends, lone CRs, Ctrl-Z tails and history comments;
// a source whose text holds no "CVS*", or that holds a NUL byte, must stay
// untouched.
//
// Input: byte 0 chooses KEEPCVS (bit 0), KEEPDATE off (bit 1), the insert
// text (bits 2-3: "CVSLOG", the first line of the rest, empty, "cvslog") and
// the user (bits 4-5); byte 1 the size of the small buffer; the rest is the
// source.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A directory on a memory file system, made once per process.
std::string gDirectory;

void RemoveDirectoryContents() {
  DIR* dir = opendir(gDirectory.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  for (const std::string& name : names) {
    std::string path = gDirectory;
    path += "/";
    path += name;
    unlink(path.c_str());
  }
}

void RemoveDirectory() {
  RemoveDirectoryContents();
  rmdir(gDirectory.c_str());
}

void WriteWholeFile(const std::string& APath, const std::string& AContent) {
  const int fd = open(APath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  CHECK(fd >= 0);
  CHECK(write(fd, AContent.data(), AContent.size()) == static_cast<ssize_t>(AContent.size()));
  close(fd);
}

bool ReadWholeFile(const std::string& APath, std::string& AContent) {
  AContent.clear();
  const int fd = open(APath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[65536];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
    AContent.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return true;
}

std::vector<std::string> DirectoryNames() {
  std::vector<std::string> names;
  DIR* dir = opendir(gDirectory.c_str());
  CHECK(dir != nullptr);
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  return names;
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

struct Settings {
  bool keepCvs;
  bool keepDate;
  std::string insertText;
  std::string user;
};

// What one run left behind.
struct Outcome {
  std::vector<std::string> output;
  std::string source;
  bool logExists;
  std::string log;
  bool replaced;
  bool operator==(const Outcome& AOther) const {
    return output == AOther.output && source == AOther.source && logExists == AOther.logExists &&
           log == AOther.log && replaced == AOther.replaced;
  }
};

Outcome Run(const std::string& AContent, const Settings& ASettings,
            const TSourceReading& AReading) {
  RemoveDirectoryContents();
  const std::string source = gDirectory + "/Unit1.pas";
  WriteWholeFile(source, AContent);
  struct stat before {};
  CHECK(stat(source.c_str(), &before) == 0);

  THistrel histrel([] { return platform::LocalDate{2003, 6, 2}; });
  std::string path = gDirectory + "/";
  for (char& c : path) c = c == '/' ? '\\' : c;
  histrel.SetPath(path);
  histrel.SetFileName("*.pas");
  histrel.SetUser(ASettings.user);
  histrel.SetInsertText(ASettings.insertText);
  histrel.SetKeepCVS(ASettings.keepCvs);
  histrel.SetKeepDate(ASettings.keepDate);
  histrel.SetSourceReading(AReading);
  Outcome outcome{};
  {
    LineCapture capture;
    try {
      histrel.Execute();
    } catch (const Exception& failure) {
      platform::WriteLine(failure.Message());
    }
    outcome.output = capture.lines;
  }
  struct stat after {};
  CHECK(stat(source.c_str(), &after) == 0);
  outcome.replaced = before.st_ino != after.st_ino;
  CHECK(ReadWholeFile(source, outcome.source));
  outcome.logExists = ReadWholeFile(source + ".cvs", outcome.log);
  // Nothing else is left behind, no temporary file in particular.
  for (const std::string& name : DirectoryNames()) {
    CHECK(name == "Unit1.pas" || name == "Unit1.pas.cvs");
  }
  return outcome;
}

// Whether the text of AContent, as reading gives it, holds "CVS*": reading
// ends at a Ctrl-Z, and a CR is a byte of its line.
bool TextHoldsMarker(const std::string& AContent) {
  return AContent.substr(0, AContent.find('\x1A')).find("CVS*") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitializeHistrelEnglishConstantUnit();
  char pattern[] = "/dev/shm/histrel-rewrite-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  gDirectory = pattern;
  std::atexit(RemoveDirectory);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const unsigned flags = data[0];
  const std::size_t smallBuffer = 1 + data[1] % 64;
  std::string content(reinterpret_cast<const char*>(data) + 2, size - 2);
  static const char* const kUsers[] = {"qa", "dev", "a-rather-long-user-name", "x"};
  Settings settings{(flags & 1) != 0, (flags & 2) == 0, "CVSLOG", kUsers[(flags >> 4) & 3]};
  switch ((flags >> 2) & 3) {
    case 1: {
      const std::string::size_type end = content.find('\n');
      settings.insertText = content.substr(0, end == std::string::npos ? 0 : end);
      if (end != std::string::npos) content.erase(0, end + 1);
      break;
    }
    case 2:
      settings.insertText = "";
      break;
    case 3:
      settings.insertText = "cvslog";
      break;
    default:
      break;
  }

  const Outcome expected = Run(content, settings, TSourceReading{true, 0, std::size_t{256} * 1024});
  const Outcome held = Run(content, settings, TSourceReading{});
  CHECK(held == expected);
  CHECK(Run(content, settings, TSourceReading{false, 0, smallBuffer}) == expected);
  CHECK(Run(content, settings, TSourceReading{false, 0, 4096}) == expected);
  // Without "CVS*", or with a NUL byte anywhere, a file is left as it is.
  if (!TextHoldsMarker(content) || content.find('\0') != std::string::npos) {
    CHECK(!held.replaced && !held.logExists && held.source == content);
  }
  return 0;
}
