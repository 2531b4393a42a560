// Walks a small tree on a file system in memory and rewrites what it
// selects, once with the walk reading every file itself and once another
// way: with workers reading ahead of it, or line by line, into memory as a
// preview does; or, writing the files,
// with workers and the fast path against the walk alone line by line. Both
// runs must announce the same lines, stop at the same failure and give (or
// leave) the same bytes in every file.
//
// Input: byte 0 chooses the mask (bits 0-1: "*.pas", every file, "*.", a
// named file), KEEPCVS (bit 2) and the second run (bits 3-4: workers, twice
// as often; line by line; writing the files); the rest is cut at each "\x01"
// into files, each "name\x02content" ("/" in a name makes a subdirectory,
// one level deep; a name ending in "@" becomes a link to the file before it).
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/uHistrel.h"
#include "app/uHistrelEnglishConstant.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzTree.h"

namespace {

std::string gRoot;

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

// Makes the tree of AFiles afresh: a file system in memory costs little
// to make again.
void MakeTree(const std::vector<TFile>& AFiles) {
  fuzztree::Reset(gRoot);
  testsupport::MemoryFileSystem& memory = fuzztree::Memory();
  std::string previous;
  for (const TFile& file : AFiles) {
    const std::string path = gRoot + "/" + file.name;
    const std::string::size_type slash = file.name.find('/');
    if (slash != std::string::npos) {
      const std::string directory = gRoot + "/" + file.name.substr(0, slash);
      const struct stat info = memory.StatusOf(directory);
      if (info.st_mode == 0) memory.MakeDirectory(directory);
      if (info.st_mode != 0 && !S_ISDIR(info.st_mode)) continue;
    }
    if (!file.name.empty() && file.name.back() == '@' && !previous.empty()) {
      if (!memory.Exists(path)) memory.MakeLink(path, gRoot + "/" + previous);
      continue;
    }
    // A name that is a directory or a link already stays one.
    const struct stat info = memory.StatusOf(path);
    if (S_ISDIR(info.st_mode) || S_ISLNK(info.st_mode)) continue;
    memory.WriteFile(path, file.content);
    previous = file.name;
  }
}

// The lines of a run, then what it wrote (into memory, or the tree after it).
std::vector<std::string> Run(const std::string& AMask, bool AKeepCVS, unsigned AThreads,
                             bool ALineByLine, bool AInMemory) {
  THistrel histrel([] { return platform::LocalDate{2003, 6, 2}; });
  histrel.SetPath(fuzztree::SystemDirectory(gRoot));
  histrel.SetFileName(AMask);
  histrel.SetUser("qa");
  histrel.SetKeepCVS(AKeepCVS);
  histrel.SetReadThreads(AThreads);
  TSourceReading reading;
  reading.LineByLine = ALineByLine;
  histrel.SetSourceReading(reading);
  fuzztree::Recorder recorder;
  if (AInMemory) histrel.SetOutput(&recorder);
  std::vector<std::string> outcome = fuzztree::Execute(histrel);
  outcome.emplace_back("--");
  if (AInMemory) {
    outcome.insert(outcome.end(), recorder.events.begin(), recorder.events.end());
  } else {
    fuzztree::Snapshot(gRoot, "", outcome);
  }
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitializeHistrelEnglishConstantUnit();
  gRoot = "/walk";
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
  const unsigned second = (data[0] >> 3) & 3;
  if (second == 3) {
    // Both runs write the files, each on the tree as the input makes it.
    MakeTree(files);
    const std::vector<std::string> alone = Run(mask, keepCvs, 1, true, false);
    MakeTree(files);
    CHECK(Run(mask, keepCvs, 4, false, false) == alone);
    return 0;
  }
  MakeTree(files);
  const std::vector<std::string> alone = Run(mask, keepCvs, 1, false, true);
  CHECK(Run(mask, keepCvs, second == 2 ? 1 : 2, second == 2, true) == alone);
  return 0;
}
