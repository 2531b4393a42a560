#include "platform/FileSystem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "platform/TextFile.h"
#include "tests/TestSupport.h"

namespace {

using platform::ScanFileFor;
using platform::ScanResult;
using testsupport::TempDir;
using testsupport::WriteFile;

ScanResult ScanContent(const TempDir& ADir, const std::string& AContent) {
  // A new file each time: truncating one that was just written makes the
  // file system flush it.
  std::remove((ADir / "f").c_str());
  WriteFile(ADir / "f", AContent);
  return ScanFileFor(ADir / "f", "CVS*");
}

TEST(ScanFileFor, FindsTheNeedleAsReadingAsTextSeesIt) {
  struct Case {
    std::string content;
    ScanResult result;
  };
  const std::string chunk(std::size_t{256} * 1024, 'x');
  const std::vector<Case> cases = {
      {"", ScanResult::kAbsent},
      {"CVS*", ScanResult::kPresent},
      {"{CVS* note}", ScanResult::kPresent},
      {"CVS *", ScanResult::kAbsent},
      {"cvs*", ScanResult::kAbsent},
      {"C\rVS*", ScanResult::kPresent},  // a lone CR is dropped when read
      {"CVS\r\r\r*", ScanResult::kPresent},
      {"CVS\r\n*", ScanResult::kAbsent},  // a line end separates
      {"CVS\n*", ScanResult::kAbsent},
      {"*CVS", ScanResult::kAbsent},
      {"\r\r*", ScanResult::kAbsent},
      {"(* a * b *) CV S*", ScanResult::kAbsent},
      {chunk.substr(2) + "CVS*", ScanResult::kPresent},  // split between two reads
      {chunk.substr(1) + "CV\rS*", ScanResult::kPresent},
      {chunk + chunk + "x CVS* x", ScanResult::kPresent},
      {chunk + chunk + "x CVS x", ScanResult::kAbsent},
      {std::string("\0CVS*\0", 6), ScanResult::kPresent},
  };
  TempDir dir;
  for (const Case& c : cases) {
    EXPECT_EQ(ScanContent(dir, c.content), c.result) << c.content.substr(0, 40);
  }
}

TEST(ScanFileFor, OpensOnlyRegularFiles) {
  TempDir dir;
  EXPECT_EQ(ScanFileFor(dir / "missing", "CVS*"), ScanResult::kCannotOpen);
  EXPECT_EQ(ScanFileFor(dir.Path(), "CVS*"), ScanResult::kCannotOpen);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
  EXPECT_EQ(ScanFileFor(dir / "fifo", "CVS*"), ScanResult::kCannotOpen);  // and does not wait
}

// Whether reading the file as text gives a line holding "CVS*".
bool TextHoldsNeedle(const std::string& APath) {
  platform::TextReader reader;
  EXPECT_TRUE(reader.Open(APath));
  std::string line;
  while (reader.ReadLine(line)) {
    if (line.find("CVS*") != std::string::npos) return true;
  }
  return false;
}

// The scan may skip a file only when its text cannot hold the needle: random
// texts of the bytes that matter never prove it wrong.
TEST(ScanFileFor, NeverMissesWhatTheTextHolds) {
  const std::string alphabet = "CVS*\r\n\x1Ax";
  std::mt19937 random(4711);
  TempDir dir;
  int present = 0;
  for (int round = 0; round < 2000; ++round) {
    std::string content(random() % 24, ' ');
    for (char& c : content) c = alphabet[random() % alphabet.size()];
    const ScanResult scan = ScanContent(dir, content);
    if (scan == ScanResult::kPresent) ++present;
    if (scan == ScanResult::kAbsent) {
      EXPECT_FALSE(TextHoldsNeedle(dir / "f")) << testing::PrintToString(content);
    }
  }
  EXPECT_GT(present, 0);
}

}  // namespace
