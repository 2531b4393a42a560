// A run held in a file system in memory loses power at each of its file
// calls in turn; the disk then keeps only what was synced, and of the names,
// modes and marks any part made in order since the last sync. Whatever it
// keeps, each source is its old text or its new one, never a part or an
// empty file; a source with its new text has its log's entry; and the next
// run, finding what the lost one left, ends where one whole run would have:
// each new text once, each entry once in its log, nothing left over.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/uHistrel.h"
#include "platform/posix/FileCalls.h"
#include "tests/HistrelTestSupport.h"
#include "tests/MemoryFileSystem.h"

namespace {

using testsupport::MemoryFileSystem;

// Two sources with notes, one of them with a log already, and one without
// notes, which no run touches.
const std::map<std::string, std::string> kTree = {
    {"a.pas", "CVSLOG\r\nunit a;\r\n{CVS* first note}\r\ninterface\r\nend.\r\n"},
    {"b.pas", "unit b;\r\n// CVS* second note\r\nend.\r\n"},
    {"b.pas.cvs", "older entry\r\n"},
    {"c.pas", "unit c;\r\nend.\r\n"},
};

MemoryFileSystem MakeTree() {
  MemoryFileSystem memory;
  for (const auto& file : kTree) memory.WriteFile("/work/" + file.first, file.second);
  memory.SyncEverything();
  return memory;
}

// One run over /work on memory; its lines (a failure's message last).
std::vector<std::string> RunOn(MemoryFileSystem& AMemory) {
  platform::FileCalls* before = platform::UseFileCalls(&AMemory);
  THistrel histrel(testsupport::FixedDate(2003, 6, 2));
  histrel.SetUser("ann");
  histrel.SetPath("\\work\\");
  histrel.SetFileName("*.pas");
  // One thread, so that the calls come in the same order every time.
  histrel.SetReadThreads(1);
  const std::vector<std::string> lines = testsupport::ExecuteCapturing(histrel);
  platform::UseFileCalls(before);
  return lines;
}

// Text of every file in /work after a run, and how that run's calls went.
struct Whole {
  std::map<std::string, std::string> files;
  std::size_t steps = 0;
};

Whole RunWhole() {
  MemoryFileSystem memory = MakeTree();
  RunOn(memory);
  return Whole{memory.Files("/work"), memory.Steps()};
}

TEST(PowerLoss, AtEveryStepEachSourceIsOldOrNewWithItsEntryAndTheNextRunFinishesIt) {
  const Whole whole = RunWhole();
  // The run rewrites a.pas and b.pas and gives both a log with the entry.
  ASSERT_NE(whole.files.at("a.pas"), kTree.at("a.pas"));
  ASSERT_NE(whole.files.at("b.pas"), kTree.at("b.pas"));
  ASSERT_EQ(whole.files.count("a.pas.cvs"), 1U);
  ASSERT_GT(whole.steps, 20U);

  std::size_t states = 0;
  std::size_t newSources = 0;
  for (std::size_t loss = 0; loss < whole.steps; ++loss) {
    MemoryFileSystem memory = MakeTree();
    memory.RecordMetadata(true);
    memory.LosePowerAt(loss);
    RunOn(memory);
    for (std::size_t kept = memory.CommittedSteps(); kept <= loss; ++kept) {
      SCOPED_TRACE("power lost at call " + std::to_string(loss) + ", metadata of " +
                   std::to_string(kept) + " calls kept");
      MemoryFileSystem disk = memory.AfterPowerLoss(kept);
      const std::map<std::string, std::string> found = disk.Files("/work");
      for (const std::string source : {"a.pas", "b.pas"}) {
        const std::string log = source + ".cvs";
        const auto text = found.find(source);
        ASSERT_NE(text, found.end()) << source;
        const bool isNew = text->second == whole.files.at(source);
        EXPECT_TRUE(isNew || text->second == kTree.at(source)) << source << ":\n" << text->second;
        const auto entry = found.find(log);
        const std::string logText = entry == found.end() ? "" : entry->second;
        const std::string oldLog = kTree.count(log) != 0 ? kTree.at(log) : "";
        EXPECT_TRUE(logText == oldLog || logText == whole.files.at(log)) << log << ":\n" << logText;
        if (isNew) {
          EXPECT_EQ(logText, whole.files.at(log)) << source << " is new, its log is not";
        }
        newSources += isNew ? 1 : 0;
      }
      EXPECT_EQ(found.at("c.pas"), kTree.at("c.pas"));
      RunOn(disk);
      EXPECT_EQ(disk.Files("/work"), whole.files);
      EXPECT_EQ(disk.Names("/work").size(), whole.files.size()) << "something left over";
      ++states;
    }
  }
  // The losses reached both sides of every replacement.
  EXPECT_GT(newSources, 0U);
  EXPECT_LT(newSources, 2 * states);
}

}  // namespace
