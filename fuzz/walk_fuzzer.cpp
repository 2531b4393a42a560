// Walks a small tree on a memory file system and rewrites what it selects,
// once with the walk reading every file itself and once another way: with
// workers reading ahead of it, or line by line, into memory as a preview
// does (the tree stays as it is, so an input whose tree is the last one's
// but for the bytes of files costs only those files); or, writing the files,
// with workers and the fast path against the walk alone line by line. Both
// runs must announce the same lines, stop at the same failure and give (or
// leave) the same bytes in every file.
//
// Input: byte 0 chooses the mask (bits 0-1: "*.pas", every file, "*.", a
// named file), KEEPCVS (bit 2) and the second run (bits 3-4: workers, twice
// as often; line by line; writing the files); the rest is cut at each "\x01"
// into files, each "name\x02content" ("/" in a name makes a subdirectory,
// one level deep; a name ending in "@" becomes a link to the file before it).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/uHistrel.h"
#include "app/uHistrelEnglishConstant.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzTree.h"

namespace {

std::string gRoot;
int gRootDirectory = -1;  // gRoot, open: the tree is made relative to it

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

// The tree on disk: the names it was made from, in order, and the bytes each
// file made of them ended with. The names alone decide its shape (which
// entries are directories, files or links, and the order of the listings),
// so a tree of the same names only needs the files whose bytes differ.
struct TTree {
  std::vector<std::string> names;
  std::map<std::string, std::string> files;
};
TTree gTree;
bool gTreeKnown = false;

void MakeTree(const std::vector<TFile>& AFiles) {
  TTree tree;
  for (const TFile& file : AFiles) tree.names.push_back(file.name);
  if (gTreeKnown && tree.names == gTree.names) {
    // The same files as before; the last bytes given for a name stay.
    std::map<std::string, std::string> wanted;
    for (const TFile& file : AFiles) {
      if (gTree.files.count(file.name) != 0) wanted[file.name] = file.content;
    }
    for (auto& entry : wanted) {
      std::string& had = gTree.files[entry.first];
      if (had == entry.second) continue;
      CHECK(fuzztree::WriteFileAt(gRootDirectory, entry.first, entry.second));
      had = std::move(entry.second);
    }
    return;
  }
  fuzztree::RemoveContentsAt(gRootDirectory);
  std::string previous;
  for (const TFile& file : AFiles) {
    const std::string::size_type slash = file.name.find('/');
    if (slash != std::string::npos)
      mkdirat(gRootDirectory, file.name.substr(0, slash).c_str(), 0755);
    if (!file.name.empty() && file.name.back() == '@' && !previous.empty()) {
      symlinkat((gRoot + "/" + previous).c_str(), gRootDirectory, file.name.c_str());
      continue;
    }
    // A name that is a directory already stays one.
    if (!fuzztree::WriteFileAt(gRootDirectory, file.name, file.content)) continue;
    tree.files[file.name] = file.content;
    previous = file.name;
  }
  gTree = std::move(tree);
  gTreeKnown = true;
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
  gRoot = fuzztree::MakeRoot("walk");
  gRootDirectory = open(gRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  CHECK(gRootDirectory >= 0);
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
    gTreeKnown = false;
    MakeTree(files);
    CHECK(Run(mask, keepCvs, 4, false, false) == alone);
    gTreeKnown = false;
    return 0;
  }
  MakeTree(files);
  const std::vector<std::string> alone = Run(mask, keepCvs, 1, false, true);
  CHECK(Run(mask, keepCvs, second == 2 ? 1 : 2, second == 2, true) == alone);
  return 0;
}
