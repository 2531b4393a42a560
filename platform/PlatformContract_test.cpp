// Cases of the platform contract that run unchanged on POSIX and on Windows
// (under Wine): the private-profile service, the file contract and the
// singleton lock.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/Exception.h"
#include "platform/FileSystem.h"
#include "platform/Lock.h"
#include "platform/PrivateProfile.h"
#include "platform/SourceReplacement.h"
#include "platform/TextFile.h"

namespace {

namespace fs = std::filesystem;

// A directory of its own below the current one, removed afterwards. The
// service is given its files as the tool's users write them: relative, with
// backslashes.
class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDirectory = std::string("histrel-ini-") +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
                 std::to_string(std::random_device()());
    ASSERT_TRUE(fs::create_directory(FDirectory));
  }
  void TearDown() override { fs::remove_all(FDirectory); }

  std::string File(const std::string& AName) const { return FDirectory + "\\" + AName; }
  fs::path Native(const std::string& AName) const { return fs::path(FDirectory) / AName; }

  std::string Read(const std::string& AName) const {
    std::ifstream in(Native(AName), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string FDirectory;
};

TEST_F(IniFileTest, WritesReadBackWithoutRegardToCaseBesideTheCaller) {
  const std::string file = File("test.ini");
  EXPECT_TRUE(platform::ReadIniSection(file, "PARAMETERS")->empty());
  platform::WriteIniEntry(file, "PARAMETERS", "USER", "ann");
  platform::WriteIniEntry(file, "PARAMETERS", "FILE", "c:\\src\\*.pas");
  platform::WriteIniEntry(file, "parameters", "user", "bob");
  EXPECT_EQ(Read("test.ini").rfind("[PARAMETERS]\r\n", 0), 0u)
      << "a new file, in the current directory (not the Windows one), with CR LF";
  EXPECT_EQ(*platform::ReadIniSection(file, "Parameters"),
            (std::vector<std::string>{"USER=bob", "FILE=c:\\src\\*.pas"}));
  EXPECT_TRUE(platform::ReadIniSection(file, "OTHER")->empty());
}

TEST_F(IniFileTest, KeepsEveryLineItDoesNotChange) {
  std::ofstream(Native("test.ini"), std::ios::binary)
      << "; settings\r\n[OTHER]\r\nA=1\r\n\r\n[PARAMETERS]\r\nUSER=ann\r\n";
  platform::WriteIniEntry(File("test.ini"), "PARAMETERS", "FILE", "x.pas");
  const std::string text = Read("test.ini");
  EXPECT_EQ(text.rfind("; settings\r\n[OTHER]\r\nA=1\r\n", 0), 0u) << text;
  EXPECT_EQ(*platform::ReadIniSection(File("test.ini"), "PARAMETERS"),
            (std::vector<std::string>{"USER=ann", "FILE=x.pas"}));
}

TEST_F(IniFileTest, AMissingDirectoryFailsNamingTheFile) {
  const std::string file = File("missing\\test.ini");
  try {
    platform::WriteIniEntry(file, "PARAMETERS", "USER", "ann");
    ADD_FAILURE() << "written into a missing directory";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message().rfind("Cannot write the INI file " + file + ": ", 0), 0u) << e.Message();
  }
  EXPECT_FALSE(fs::exists(Native("missing")));
}

// A directory of its own, open as the walk holds one, for the file contract.
class FileContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FTop = std::string("histrel-files-") +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
           std::to_string(std::random_device()());
    ASSERT_TRUE(fs::create_directory(FTop));
    ASSERT_TRUE(FDirectory.Open(FTop));
  }
  void TearDown() override {
    FDirectory.Close();
    fs::remove_all(FTop);
  }

  std::string Path(const std::string& AName) const { return FTop + "\\" + AName; }
  fs::path Native(const std::string& AName) const { return fs::path(FTop) / AName; }
  void Write(const std::string& AName, const std::string& AText) const {
    std::ofstream(Native(AName), std::ios::binary) << AText;
  }
  std::string Read(const std::string& AName) const {
    std::ifstream in(Native(AName), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string FTop;
  platform::Directory FDirectory;
};

TEST_F(FileContractTest, ExclusiveCreationNeverTouchesWhatIsThere) {
  Write("taken.tmp", "someone's");
  platform::TextWriter writer;
  EXPECT_EQ(writer.CreateExclusive(FDirectory, "taken.tmp"), platform::FileStatus::kExists);
  EXPECT_EQ(Read("taken.tmp"), "someone's");
  ASSERT_EQ(writer.CreateExclusive(FDirectory, "new.tmp"), platform::FileStatus::kOk);
  writer.WriteLine("line");
  writer.Close();
  EXPECT_EQ(Read("new.tmp"), "line\r\n");
}

// The walk passes over a name that is no directory to enter and stops at a
// directory it cannot open; the two must not be taken for each other.
TEST_F(FileContractTest, OpenChildTellsANameThatIsNoDirectoryFromADirectory) {
  Write("a.pas", "");
  ASSERT_TRUE(fs::create_directory(Native("sub")));
  std::ofstream(Native("sub") / "b.pas", std::ios::binary) << "";
  using Status = platform::Directory::ChildStatus;
  const std::vector<std::pair<std::string, Status>> cases = {
      {"sub", Status::kOpened}, {"a.pas", Status::kNoDirectory}, {"gone", Status::kNoDirectory}};
  for (const auto& [name, status] : cases) {
    platform::Directory child;
    EXPECT_EQ(child.OpenChild(FDirectory, name), status) << name;
    EXPECT_EQ(child.IsOpen(), status == Status::kOpened) << name;
    if (!child.IsOpen()) continue;
    std::vector<platform::DirectoryEntry> entries;
    ASSERT_TRUE(child.List(entries)) << name;
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (const platform::DirectoryEntry& entry : entries) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "b.pas"})) << name;
  }
}

TEST_F(FileContractTest, UndoRemovesACreatedLogAndCutsAnOldOneBack) {
  platform::TextWriter log;
  ASSERT_EQ(log.OpenAppend(FDirectory, "new.cvs", 0644), platform::FileProblem::kNone);
  log.WriteLine("entry");
  log.Flush();
  EXPECT_TRUE(log.Undo());
  EXPECT_FALSE(fs::exists(Native("new.cvs")));

  Write("old.cvs", "before\r\n");
  ASSERT_EQ(log.OpenAppend(FDirectory, "old.cvs", 0644), platform::FileProblem::kNone);
  log.WriteLine("entry");
  log.Flush();
  EXPECT_EQ(Read("old.cvs"), "before\r\nentry\r\n");
  EXPECT_TRUE(log.Undo());
  EXPECT_EQ(Read("old.cvs"), "before\r\n");
}

TEST_F(FileContractTest, AReplacementGivesWayToAFileSavedMeanwhile) {
  Write("Unit.pas", "old\r\n");
  platform::TextReader source;
  ASSERT_TRUE(source.Open(FDirectory, "Unit.pas"));
  platform::SourceReplacement file;
  ASSERT_EQ(file.Open(FDirectory, "Unit.pas", "Unit.tmp", source, "Unit.tmp"),
            platform::FileStatus::kOk);
  file.Writer().WriteLine("rewritten");
  // An editor keeps the old file as its backup and saves a new one.
  fs::rename(Native("Unit.pas"), Native("Unit.bak"));
  Write("Unit.pas", "saved by the editor\r\n");
  EXPECT_EQ(file.Commit(), platform::FileStatus::kChanged);
  EXPECT_EQ(Read("Unit.pas"), "saved by the editor\r\n");
  EXPECT_FALSE(fs::exists(Native("Unit.tmp")));
}

// The files of a list are read as they are: every byte, NUL and Ctrl-Z
// included, through a native path; a missing file or a directory cannot be.
TEST_F(FileContractTest, ANativeFileIsReadWholeByteForByte) {
  const char kBytes[] = "a.pas\r\n\0b.pas\x1A\n c";
  const std::string bytes(kBytes, sizeof kBytes - 1);
  Write("list", bytes);
  std::string text;
  ASSERT_TRUE(platform::ReadNativeFile(Native("list").string(), text));
  EXPECT_EQ(text, bytes);
  EXPECT_FALSE(platform::ReadNativeFile(Native("missing").string(), text));
  EXPECT_FALSE(platform::ReadNativeFile(FTop, text));
}

// A native path as a shell gives it becomes a system path: "/" separates
// on both systems; a backslash separates on Windows, and on POSIX is a byte
// of a name, which a system path cannot hold.
TEST(SystemPathOfTest, TurnsSlashesIntoBackslashes) {
  std::string path;
  ASSERT_TRUE(platform::SystemPathOf("src/sub/a.pas", path));
  EXPECT_EQ(path, "src\\sub\\a.pas");
  ASSERT_TRUE(platform::SystemPathOf("/top/a.pas", path));
  EXPECT_EQ(path, "\\top\\a.pas");
  path.clear();
#ifdef _WIN32
  ASSERT_TRUE(platform::SystemPathOf("src\\a.pas", path));
  EXPECT_EQ(path, "src\\a.pas");
#else
  EXPECT_FALSE(platform::SystemPathOf("src\\a.pas", path));
#endif
}

TEST(RecursiveLockTest, TheHoldingThreadMayTakeItAgainAndThreadsTakeTurns) {
  platform::RecursiveLock lock;
  long counter = 0;
  const auto work = [&] {
    for (int i = 0; i < 100000; ++i) {
      std::lock_guard<platform::RecursiveLock> outer(lock);
      std::lock_guard<platform::RecursiveLock> inner(lock);
      counter = counter + 1;
    }
  };
  std::thread first(work);
  std::thread second(work);
  first.join();
  second.join();
  EXPECT_EQ(counter, 200000);
}

}  // namespace
