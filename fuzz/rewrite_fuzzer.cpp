// Collects the marked comments of arbitrary sources and rewrites them, with
// the date fixed, in every way the worker can read a source: line by line,
// held in memory, streamed through a buffer of a few bytes, and streamed with
// the kernel copying plain stretches. All must give the same new source, log
// and output, whatever the line ends, lone CRs, Ctrl-Z tails and history
// comments; a source whose text holds no "CVS*", or that holds a NUL byte,
// must stay untouched.
//
// Each input is run the default way (held in memory) into memory, as a
// preview does, and once more in the way the input chooses, either into
// memory too or writing the files, which must then hold what the memory run
// made, with nothing else left behind. Only the source is written per input.
//
// Input: byte 0 chooses KEEPCVS (bit 0), KEEPDATE off (bit 1), the insert
// text (bits 2-3: "CVSLOG", the first line of the rest, empty, "cvslog"),
// the user (bits 4-5) and whether the second run writes the files (bit 6);
// byte 1 the size of the small buffer (bits 0-5) and the way of the second
// run (bits 6-7: line by line, held, the small buffer, a 4 KB buffer); the
// rest is the source.
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/uHistrel.h"
#include "app/uHistrelEnglishConstant.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzTree.h"

namespace {

std::string gDirectory;
std::string gSource;
std::string gLog;

struct Settings {
  bool keepCvs;
  bool keepDate;
  std::string insertText;
  std::string user;
};

// What one run left behind, or would have.
struct Outcome {
  std::vector<std::string> output;
  std::string source;
  bool logExists = false;
  std::string log;
  bool replaced = false;
  bool operator==(const Outcome& AOther) const {
    return output == AOther.output && source == AOther.source && logExists == AOther.logExists &&
           log == AOther.log && replaced == AOther.replaced;
  }
};

void Configure(THistrel& AHistrel, const Settings& ASettings, const TSourceReading& AReading) {
  AHistrel.SetPath(fuzztree::SystemDirectory(gDirectory));
  AHistrel.SetFileName("*.pas");
  AHistrel.SetUser(ASettings.user);
  AHistrel.SetInsertText(ASettings.insertText);
  AHistrel.SetKeepCVS(ASettings.keepCvs);
  AHistrel.SetKeepDate(ASettings.keepDate);
  AHistrel.SetSourceReading(AReading);
  // One file: workers reading ahead have nothing to do (walk_fuzzer.cpp
  // checks them).
  AHistrel.SetReadThreads(1);
}

platform::LocalDate FixedDate() { return platform::LocalDate{2003, 6, 2}; }

// A run that writes into memory; the source on disk holds AContent.
Outcome RunInMemory(THistrel& AHistrel, const std::string& AContent, const Settings& ASettings,
                    const TSourceReading& AReading) {
  Configure(AHistrel, ASettings, AReading);
  struct Output : THistrelOutput {
    Outcome* outcome;
    void SourceRewritten(const std::string& ASource, const std::string& ATarget,
                         const std::string& ANewText) override {
      CHECK(ASource == gSource && ATarget == gSource && !outcome->replaced);
      outcome->replaced = true;
      outcome->source = ANewText;
    }
    void LogAppended(const std::string& ALog, const std::string& ALines) override {
      CHECK(ALog == gLog);
      outcome->logExists = true;
      outcome->log += ALines;
    }
  } output;
  Outcome outcome;
  outcome.source = AContent;
  output.outcome = &outcome;
  AHistrel.SetOutput(&output);
  outcome.output = fuzztree::Execute(AHistrel);
  AHistrel.SetOutput(nullptr);
  return outcome;
}

// A run that writes the files; the source on disk holds AContent. The line
// that announces the source is left out, as a run into memory has none.
Outcome RunOnFiles(THistrel& AHistrel, const std::string& AContent, const Settings& ASettings,
                   const TSourceReading& AReading) {
  const std::string source = gDirectory + "/Unit1.pas";
  struct stat before {};
  CHECK(stat(source.c_str(), &before) == 0);
  Configure(AHistrel, ASettings, AReading);
  Outcome outcome;
  outcome.output = fuzztree::Execute(AHistrel);
  CHECK(!outcome.output.empty() && outcome.output.front() == gSource);
  outcome.output.erase(outcome.output.begin());
  struct stat after {};
  CHECK(stat(source.c_str(), &after) == 0);
  outcome.replaced = before.st_ino != after.st_ino;
  CHECK(fuzztree::ReadFile(source, outcome.source));
  outcome.logExists = fuzztree::ReadFile(source + ".cvs", outcome.log);
  if (!outcome.replaced) CHECK(outcome.source == AContent);
  // Nothing else is left behind, no temporary file in particular.
  for (const std::string& name : fuzztree::Names(gDirectory)) {
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
  gDirectory = fuzztree::MakeRoot("rewrite");
  gSource = fuzztree::SystemDirectory(gDirectory) + "Unit1.pas";
  gLog = gSource + ".cvs";
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
  const TSourceReading ways[] = {
      TSourceReading{true, 0, std::size_t{256} * 1024},
      TSourceReading{},
      TSourceReading{false, 0, smallBuffer},
      TSourceReading{false, 0, 4096},
  };

  // A run that wrote the files left a log, perhaps a rewritten source.
  static bool wroteFiles = true;
  static std::string onDisk;
  if (wroteFiles) {
    fuzztree::RemoveContents(gDirectory);
    CHECK(fuzztree::WriteFile(gDirectory + "/Unit1.pas", content));
    onDisk = content;
  } else if (content != onDisk) {
    CHECK(fuzztree::WriteFile(gDirectory + "/Unit1.pas", content));
    onDisk = content;
  }
  // One worker does both runs, as one run of the tool walks many files with
  // one; its buffers are then made once per input.
  THistrel histrel(FixedDate);
  const Outcome expected = RunInMemory(histrel, content, settings, TSourceReading{});
  // Without "CVS*", or with a NUL byte anywhere, a file is left as it is.
  if (!TextHoldsMarker(content) || content.find('\0') != std::string::npos) {
    CHECK(!expected.replaced && !expected.logExists && expected.source == content);
  }
  const TSourceReading& way = ways[data[1] >> 6];
  wroteFiles = (flags & 0x40) != 0;
  if (wroteFiles) {
    CHECK(RunOnFiles(histrel, content, settings, way) == expected);
  } else {
    CHECK(RunInMemory(histrel, content, settings, way) == expected);
  }
  return 0;
}
