#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "base/Exception.h"
#include "platform/AtomicFile.h"
#include "platform/TextFile.h"
#include "tests/TestSupport.h"
#include "text/TextScan.h"

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
      {"a\rb\n", {"a\rb"}},        // a lone CR is a byte of its line
      {"a\r\r\nb", {"a\r", "b"}},  // the first CR stands alone
      {"a\r", {"a\r"}},            // so is a CR at the very end
      {"a\rb\rc", {"a\rb\rc"}},    // CR line ends are no line ends
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

TEST(TextReader, ReadsFilesWhoseSizeSaysNothingToTheirEnd) {
  // /proc files have size 0 and give their text a page or so at a time. The
  // mappings change as the test runs, but not the last one.
  platform::TextReader reader;
  ASSERT_TRUE(reader.Open("/proc/self/maps", std::size_t{1} << 20));
  std::string line;
  std::string last;
  std::size_t bytes = 0;
  while (reader.ReadLine(line)) {
    bytes += line.size() + 1;
    last = line;
  }
  EXPECT_GT(bytes, std::size_t{4096});  // more than the first read gives
  EXPECT_EQ(last, ReadAllLines("/proc/self/maps").back());
}

TEST(TextReader, CannotOpenMissingFilesOrDirectories) {
  TempDir dir;
  platform::TextReader reader;
  EXPECT_FALSE(reader.Open(dir / "missing"));
  EXPECT_FALSE(reader.Open(dir.Path()));
}

// How a reader was opened: buffer size and how much it holds whole.
struct ReaderSetting {
  std::size_t bufferSize;
  std::size_t holdLimit;
};
const std::vector<ReaderSetting> kReaderSettings = {{std::size_t{256} * 1024, 0},
                                                    {std::size_t{256} * 1024, std::size_t{1} << 20},
                                                    {7, 0},
                                                    {1, 0},
                                                    {16, std::size_t{1} << 20},
                                                    {33, 0}};

// Reads APath with SkipLines before each line, as the collection does: the
// lines read, and the lines of the stretches passed over (split at CR LF,
// which is all they may hold), in file order.
std::vector<std::string> SkipAndReadLines(const std::string& APath, const ReaderSetting& ASetting,
                                          const text::LineStops& AStops) {
  platform::TextReader reader;
  reader.SetBufferSize(ASetting.bufferSize);
  EXPECT_TRUE(reader.Open(APath, ASetting.holdLimit));
  const std::string content = ReadFile(APath);
  std::vector<std::string> lines;
  std::string line;
  for (;;) {
    const std::uint64_t from = reader.Offset();
    const bool more = reader.SkipLines(AStops);
    const std::string passed = content.substr(from, reader.Offset() - from);
    for (std::size_t start = 0; start < passed.size();) {
      const std::size_t end = passed.find("\r\n", start);
      EXPECT_NE(end, std::string::npos) << "a stretch of plain lines ends in CR LF";
      if (end == std::string::npos) break;
      lines.push_back(passed.substr(start, end - start));
      EXPECT_EQ(lines.back().find_first_of("\n\x1A"), std::string::npos);
      EXPECT_EQ(lines.back().find("CVS*"), std::string::npos);
      start = end + 2;
    }
    if (!more || !reader.ReadLine(line)) break;
    lines.push_back(line);
  }
  return lines;
}

TEST(TextReader, PassingOverPlainLinesGivesTheLinesThatReadingGives) {
  const std::string alphabet = "CVS*\r\n\x1Axx  ";
  std::mt19937 random(4711);
  const text::LineStops stops("CVS*", "", text::LineStops::Plain::kCrLf);
  TempDir dir;
  for (int round = 0; round < 300; ++round) {
    std::string content;
    const std::size_t lines = random() % 12;
    for (std::size_t i = 0; i < lines; ++i) {
      std::string text(random() % 40, 'x');
      for (char& c : text) c = alphabet[random() % alphabet.size()];
      content += text + (random() % 4 == 0 ? "\n" : "\r\n");
    }
    if (random() % 3 == 0) content += "tail";
    WriteFile(dir / "f", content);
    for (const ReaderSetting& setting : kReaderSettings) {
      ASSERT_EQ(SkipAndReadLines(dir / "f", setting, stops), ReadAllLines(dir / "f"))
          << testing::PrintToString(content) << " buffer " << setting.bufferSize << " hold "
          << setting.holdLimit;
    }
  }
}

TEST(TextReader, TellsHowEachLineEndedAndWhereACtrlZStands) {
  TempDir dir;
  WriteFile(dir / "f",
            "crlf\r\nlf\nlone\rcr\r\r\nlast\x1A"
            "tail\n\x1A");
  WriteFile(dir / "g", "no end");
  for (const ReaderSetting& setting : kReaderSettings) {
    platform::TextReader reader;
    reader.SetBufferSize(setting.bufferSize);
    ASSERT_TRUE(reader.Open(dir / "f", setting.holdLimit));
    std::string line;
    std::vector<std::pair<std::string, platform::LineEnd>> lines;
    while (reader.ReadLine(line)) lines.emplace_back(line, reader.LastLineEnd());
    EXPECT_EQ(lines, (std::vector<std::pair<std::string, platform::LineEnd>>{
                         {"crlf", platform::LineEnd::kCrLf},
                         {"lf", platform::LineEnd::kLf},
                         {"lone\rcr\r", platform::LineEnd::kCrLf},
                         {"last", platform::LineEnd::kCtrlZ}}));
    EXPECT_TRUE(reader.AtCtrlZ());
    EXPECT_EQ(reader.Offset(), 23u);  // the Ctrl-Z itself
    EXPECT_EQ(reader.Size(), 30u);
    EXPECT_EQ(reader.FirstLineEnd(), platform::LineEnd::kCrLf);
    ASSERT_TRUE(reader.Open(dir / "g", setting.holdLimit));
    ASSERT_TRUE(reader.ReadLine(line));
    EXPECT_EQ(reader.LastLineEnd(), platform::LineEnd::kNone);
    EXPECT_FALSE(reader.AtCtrlZ());
  }
}

// A long line comes in parts, each ending after the first blank at or beyond
// the part size, wherever the reads end.
TEST(TextReader, GivesALongLineInPartsThatEndAfterABlank) {
  TempDir dir;
  WriteFile(dir / "f", "aaa bbb ccc dddddddd e\r\nshort\n");
  for (const ReaderSetting& setting : kReaderSettings) {
    platform::TextReader reader;
    reader.SetBufferSize(setting.bufferSize);
    reader.SetLinePart(4);
    ASSERT_TRUE(reader.Open(dir / "f", setting.holdLimit));
    std::string line;
    std::vector<std::pair<std::string, platform::LineEnd>> lines;
    while (reader.ReadLine(line)) lines.emplace_back(line, reader.LastLineEnd());
    EXPECT_EQ(lines, (std::vector<std::pair<std::string, platform::LineEnd>>{
                         {"aaa bbb ", platform::LineEnd::kPart},
                         {"ccc dddddddd ", platform::LineEnd::kPart},
                         {"e", platform::LineEnd::kCrLf},
                         {"short", platform::LineEnd::kLf},
                     }))
        << setting.bufferSize;
  }
}

// The NUL check rides on whatever reading came before it; however much that
// was, and wherever it stopped, every byte of the file is looked at.
TEST(TextReader, HoldsNulLooksAtEveryByteOnceWhateverWasReadBefore) {
  const TempDir dir;
  const std::string text =
      "line one\r\nCVS* two\nthree\x1A"
      "after the end\n";
  enum class Before { kNothing, kLines, kMayHold, kSeekToMiddle, kFirstLineEnd };
  for (const Before before : {Before::kNothing, Before::kLines, Before::kMayHold,
                              Before::kSeekToMiddle, Before::kFirstLineEnd}) {
    for (std::size_t nul = 0; nul <= text.size(); ++nul) {
      std::string content = text;
      if (nul < text.size()) content[nul] = '\0';  // nul == size: none at all
      WriteFile(dir / "f", content);
      for (const ReaderSetting& setting : kReaderSettings) {
        platform::TextReader reader;
        reader.SetBufferSize(setting.bufferSize);
        ASSERT_TRUE(reader.Open(dir / "f", setting.holdLimit));
        std::string line;
        switch (before) {
          case Before::kNothing:
            reader.WatchForNul();
            break;
          case Before::kLines:
            reader.WatchForNul();
            while (reader.ReadLine(line)) {
            }
            break;
          case Before::kMayHold:
            (void)reader.MayHold("CVS*");
            reader.WatchForNul();
            ASSERT_TRUE(reader.Seek(0));
            ASSERT_TRUE(reader.ReadLine(line));
            break;
          case Before::kSeekToMiddle:
            ASSERT_TRUE(reader.Seek(12));
            ASSERT_TRUE(reader.ReadLine(line));
            reader.WatchForNul();
            break;
          case Before::kFirstLineEnd:
            reader.WatchForNul();
            (void)reader.FirstLineEnd();
            break;
        }
        EXPECT_EQ(reader.HoldsNul(), nul < text.size())
            << "NUL at " << nul << ", before " << static_cast<int>(before) << ", buffer "
            << setting.bufferSize << " hold " << setting.holdLimit;
      }
    }
  }
}

struct FirstLineCase {
  std::string content;
  platform::LineEnd end;
};

TEST(TextReader, FindsHowTheFirstLineEnds) {
  const std::string chunk(std::size_t{256} * 1024, 'x');
  const std::vector<FirstLineCase> cases = {
      {"", platform::LineEnd::kNone},
      {"a", platform::LineEnd::kNone},
      {"a\rb\rc\r", platform::LineEnd::kNone},  // CR alone ends no line
      {"a\nb\r\n", platform::LineEnd::kLf},
      {"\n", platform::LineEnd::kLf},
      {"\r\n", platform::LineEnd::kCrLf},
      {"a\r\r\nb\n", platform::LineEnd::kCrLf},
      {"a\x1A\n", platform::LineEnd::kNone},  // the input ends before any LF
      {chunk + "\r\n", platform::LineEnd::kCrLf},
      {chunk.substr(1) + "\r\n", platform::LineEnd::kCrLf},  // CR and LF in two reads
      {chunk + chunk + "\n", platform::LineEnd::kLf},
  };
  TempDir dir;
  for (const FirstLineCase& c : cases) {
    WriteFile(dir / "f", c.content);
    for (const ReaderSetting& setting : kReaderSettings) {
      platform::TextReader reader;
      reader.SetBufferSize(setting.bufferSize);
      ASSERT_TRUE(reader.Open(dir / "f", setting.holdLimit));
      EXPECT_EQ(reader.FirstLineEnd(), c.end)
          << testing::PrintToString(
                 c.content.substr(c.content.size() > 8 ? c.content.size() - 8 : 0))
          << " buffer " << setting.bufferSize;
    }
  }
}

TEST(TextReader, GoesBackAndTellsWhereItIs) {
  TempDir dir;
  WriteFile(dir / "f",
            "one\r\ntwo\nthree\x1A"
            "after");
  for (const ReaderSetting& setting : kReaderSettings) {
    platform::TextReader reader;
    reader.SetBufferSize(setting.bufferSize);
    ASSERT_TRUE(reader.Open(dir / "f", setting.holdLimit));
    std::string line;
    ASSERT_TRUE(reader.ReadLine(line));
    EXPECT_EQ(reader.Offset(), 5u);
    ASSERT_TRUE(reader.ReadLine(line));
    EXPECT_EQ(line, "two");
    ASSERT_TRUE(reader.ReadLine(line));
    EXPECT_EQ(line, "three");
    EXPECT_FALSE(reader.ReadLine(line));  // Ctrl-Z ended the input
    ASSERT_TRUE(reader.Seek(5));
    ASSERT_TRUE(reader.ReadLine(line));
    EXPECT_EQ(line, "two");
    ASSERT_TRUE(reader.Seek(0));
    ASSERT_TRUE(reader.ReadLine(line));
    EXPECT_EQ(line, "one");
  }
}

TEST(TextReader, MayHoldSeesTheNeedleAsReadingSeesIt) {
  const std::string chunk(std::size_t{256} * 1024, 'x');
  const std::vector<std::pair<std::string, bool>> cases = {
      {"", false},
      {"CVS*", true},
      {"{CVS* note}", true},
      {"CVS *", false},
      {"cvs*", false},
      {"C\rVS*", false},  // a lone CR is a byte of its line
      {"CVS\r*", false},
      {"CVS\r\n*", false},  // a line end separates
      {"CVS\n*", false},
      {"*CVS", false},
      {"\r\r*", false},
      {"(* a * b *) CV S*", false},
      {chunk.substr(2) + "CVS*", true},  // split between two reads
      {chunk.substr(1) + "CVS*", true},
      {chunk + chunk + "x CVS* x", true},
      {chunk + chunk + "x CVS x", false},
      {std::string("\0CVS*\0", 6), true},
  };
  TempDir dir;
  for (const auto& [content, holds] : cases) {
    std::remove((dir / "f").c_str());
    WriteFile(dir / "f", content);
    platform::TextReader reader;
    ASSERT_TRUE(reader.Open(dir / "f"));
    EXPECT_EQ(reader.MayHold("CVS*"), holds) << content.substr(0, 40);
  }
}

TEST(TextReader, MayHoldNeverMissesWhatTheTextHolds) {
  const std::string alphabet = "CVS*\r\nx";
  std::mt19937 random(4711);
  TempDir dir;
  for (int round = 0; round < 500; ++round) {
    std::string content(random() % 40, ' ');
    for (char& c : content) c = alphabet[random() % alphabet.size()];
    WriteFile(dir / "f", content);
    bool holds = false;
    for (const std::string& line : ReadAllLines(dir / "f")) {
      holds = holds || line.find("CVS*") != std::string::npos;
    }
    for (const ReaderSetting& setting : kReaderSettings) {
      platform::TextReader reader;
      reader.SetBufferSize(setting.bufferSize);
      ASSERT_TRUE(reader.Open(dir / "f", setting.holdLimit));
      const bool may = reader.MayHold("CVS*");
      if (holds) {
        EXPECT_TRUE(may) << testing::PrintToString(content);
      }
      // With all of the text in one buffer the answer is exact, Ctrl-Z aside.
      if (setting.bufferSize > content.size()) {
        EXPECT_EQ(may, content.find("CVS*") != std::string::npos)
            << testing::PrintToString(content);
      }
    }
  }
}

TEST(TextWriter, CopiesStretchesOfAFileFromMemoryOrFileToFile) {
  TempDir dir;
  std::string content;
  for (int i = 0; i < 40000; ++i) content += "line " + std::to_string(i) + "\r\n";
  WriteFile(dir / "source", content);
  for (const ReaderSetting& setting : kReaderSettings) {
    platform::TextReader reader;
    reader.SetBufferSize(setting.bufferSize);
    ASSERT_TRUE(reader.Open(dir / "source", setting.holdLimit));
    std::string line;
    ASSERT_TRUE(reader.ReadLine(line));  // something buffered, or all of it
    std::remove((dir / "copy").c_str());
    platform::Directory directory;
    ASSERT_TRUE(directory.Open(dir.Path()));
    platform::TextWriter writer;
    ASSERT_EQ(writer.CreateExclusive(directory, "copy"), platform::FileStatus::kOk);
    writer.Write("<");
    EXPECT_TRUE(writer.CopyFrom(reader, 3, 10));
    writer.Write("|");
    EXPECT_TRUE(writer.CopyFrom(reader, 100, content.size()));
    writer.Write(">");
    EXPECT_FALSE(writer.CopyFrom(reader, content.size() - 5, content.size() + 5));
    writer.Close();
    EXPECT_EQ(ReadFile(dir / "copy"), "<" + content.substr(3, 7) + "|" + content.substr(100) + ">" +
                                          content.substr(content.size() - 5))
        << "buffer " << setting.bufferSize << " hold " << setting.holdLimit;
  }
}

TEST(TextWriter, EndsLinesWithCrLfAndAppends) {
  TempDir dir;
  platform::Directory directory;
  ASSERT_TRUE(directory.Open(dir.Path()));
  platform::TextWriter writer;
  ASSERT_EQ(writer.OpenAppend(directory, "log", 0644), platform::FileProblem::kNone);
  writer.WriteLine("one");
  writer.Close();
  ASSERT_EQ(writer.OpenAppend(directory, "log", 0644), platform::FileProblem::kNone);
  writer.WriteLine("");
  writer.WriteLine("two");
  writer.Close();
  EXPECT_EQ(ReadFile(dir / "log"), "one\r\n\r\ntwo\r\n");
}

TEST(AtomicFile, CompletedFileTakesTheTargetsPermissionBitsBeforeTheRename) {
  TempDir dir;
  WriteFile(dir / "target", "old");
  ASSERT_EQ(chmod((dir / "target").c_str(), 0604), 0);
  platform::AtomicFile file;
  ASSERT_EQ(file.Open(dir / "target", dir / "target.tmp"), platform::FileStatus::kOk);
  file.Writer().WriteLine("new");
  file.Complete();
  struct stat info {};
  ASSERT_EQ(stat((dir / "target.tmp").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0604u);
  EXPECT_EQ(ReadFile(dir / "target.tmp"), "new\r\n");
  EXPECT_EQ(ReadFile(dir / "target"), "old");
  ASSERT_EQ(file.Commit(), platform::FileStatus::kOk);
  EXPECT_EQ(ReadFile(dir / "target"), "new\r\n");
  EXPECT_FALSE(testsupport::FileExists(dir / "target.tmp"));
}

TEST(AtomicFile, CommitReplacesAndAnUncommittedFileLeavesNoTrace) {
  TempDir dir;
  WriteFile(dir / "target", "old");
  {
    platform::AtomicFile file;
    ASSERT_EQ(file.Open(dir / "target", dir / "target.tmp"), platform::FileStatus::kOk);
    file.Writer().WriteLine("abandoned");
  }
  EXPECT_FALSE(testsupport::FileExists(dir / "target.tmp"));
  EXPECT_EQ(ReadFile(dir / "target"), "old");

  platform::AtomicFile file;
  ASSERT_EQ(file.OpenUnique(dir / "target"), platform::FileStatus::kOk);
  file.Writer().WriteLine("new");
  ASSERT_EQ(file.Commit(), platform::FileStatus::kOk);
  EXPECT_EQ(ReadFile(dir / "target"), "new\r\n");
  EXPECT_FALSE(testsupport::FileExists(file.TemporaryPath()));
}

// A settings file's temporary file is watched as a source's is: an
// interruption before the rename takes it away and leaves the old file.
TEST(AtomicFileDeathTest, AnInterruptionBeforeTheRenameRemovesTheTemporaryFile) {
  TempDir dir;
  WriteFile(dir / "target", "old");
  EXPECT_EXIT(
      {
        platform::AtomicFile file;
        if (file.Open(dir / "target", dir / "target.tmp") != platform::FileStatus::kOk) {
          std::exit(2);
        }
        file.Writer().WriteLine("new");
        file.Complete();
        std::raise(SIGTERM);
        std::exit(3);
      },
      testing::KilledBySignal(SIGTERM), "");
  EXPECT_FALSE(testsupport::FileExists(dir / "target.tmp"));
  EXPECT_EQ(ReadFile(dir / "target"), "old");
}

}  // namespace
