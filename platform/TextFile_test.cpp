#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/Exception.h"
#include "platform/TextFile.h"
#include "tests/TestSupport.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

std::vector<std::string> ReadAllLines(const std::string& APath) {
  platform::TextReader reader;
  EXPECT_TRUE(reader.Open(APath));
  std::vector<std::string> lines;
  std::string line;
  while (reader.ReadLine(line)) lines.push_back(line);
  return lines;
}

struct LineCase {
  std::string content;
  std::vector<std::string> lines;
};

TEST(TextReader, FollowsTheLineRules) {
  const std::vector<LineCase> cases = {
      {"", {}},
      {"a", {"a"}},
      {"a\n", {"a"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb", {"a", "b"}},
      {"a\rb\n", {"ab"}},        // a lone CR is dropped
      {"a\r\r\nb", {"a", "b"}},  // the first CR stands alone
      {"a\r", {"a"}},            // a CR at the very end is dropped
      {"\n\n", {"", ""}},
      {"a\nb\x1A"
       "c\nd\n",
       {"a", "b"}},  // Ctrl-Z ends the input
      {"\x1A"
       "abc",
       {}},
      {std::string("x\0y\n", 4), {std::string("x\0y", 3)}},
      {"\xA7\xFC\xFF\n", {"\xA7\xFC\xFF"}},
  };
  TempDir dir;
  for (const LineCase& c : cases) {
    WriteFile(dir / "f", c.content);
    EXPECT_EQ(ReadAllLines(dir / "f"), c.lines) << "content: " << c.content;
  }
}

TEST(TextReader, ReadsLinesLongerThanItsBuffer) {
  TempDir dir;
  const std::string longLine(1'000'000, 'x');
  WriteFile(dir / "f", longLine + "\r\n" + "tail");
  // A CR LF split across two reads of the buffer must still end one line.
  const std::string split(256 * 1024 - 1, 'y');
  WriteFile(dir / "g", split + "\r\nz");
  EXPECT_EQ(ReadAllLines(dir / "f"), (std::vector<std::string>{longLine, "tail"}));
  EXPECT_EQ(ReadAllLines(dir / "g"), (std::vector<std::string>{split, "z"}));
}

TEST(TextReader, CannotOpenMissingFilesOrDirectories) {
  TempDir dir;
  platform::TextReader reader;
  EXPECT_FALSE(reader.Open(dir / "missing"));
  EXPECT_FALSE(reader.Open(dir.Path()));
}

TEST(TextWriter, EndsLinesWithCrLfAndAppends) {
  TempDir dir;
  platform::TextWriter writer;
  ASSERT_TRUE(writer.OpenAppend(dir / "log"));
  writer.WriteLine("one");
  writer.Close();
  ASSERT_TRUE(writer.OpenAppend(dir / "log"));
  writer.WriteLine("");
  writer.WriteLine("two");
  writer.Close();
  EXPECT_EQ(ReadFile(dir / "log"), "one\r\n\r\ntwo\r\n");
}

TEST(TextWriter, CreateExclusiveNeverTouchesWhatIsThere) {
  TempDir dir;
  WriteFile(dir / "t", "keep");
  platform::TextWriter writer;
  EXPECT_EQ(writer.CreateExclusive(dir / "t"), platform::TextWriter::CreateResult::kExists);
  EXPECT_EQ(ReadFile(dir / "t"), "keep");
  EXPECT_EQ(writer.CreateExclusive(dir / "no-such-dir/t"),
            platform::TextWriter::CreateResult::kFailed);
}

TEST(AtomicFile, CommitReplacesAndAnUncommittedFileLeavesNoTrace) {
  TempDir dir;
  WriteFile(dir / "target", "old");
  {
    platform::AtomicFile file;
    ASSERT_EQ(file.Open(dir / "target", dir / "target.tmp"), platform::AtomicFile::Status::kOk);
    file.Writer().WriteLine("abandoned");
  }
  EXPECT_FALSE(testsupport::FileExists(dir / "target.tmp"));
  EXPECT_EQ(ReadFile(dir / "target"), "old");

  platform::AtomicFile file;
  ASSERT_EQ(file.OpenUnique(dir / "target"), platform::AtomicFile::Status::kOk);
  file.Writer().WriteLine("new");
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(ReadFile(dir / "target"), "new\r\n");
  EXPECT_FALSE(testsupport::FileExists(file.TemporaryPath()));
}

}  // namespace
