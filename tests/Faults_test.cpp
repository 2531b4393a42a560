// histrel under faults of its surroundings: a full disk, a directory it may
// not read, files that change while it walks. Each gives one clear failure
// line or the quiet skip, and nothing is lost.
#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/TestSupport.h"

namespace {

// The system's text for a full disk, as the program reports it.
std::string DiskFullReason() {
  return testsupport::UnderWine() ? "Disk full" : "No space left on device";
}

namespace fs = std::filesystem;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::SystemPath;
using testsupport::TempDir;
using testsupport::WriteFile;

const std::string kMarked = "unit U;\r\n{CVSLOG}\r\n{CVS* A note.}\r\nend.\r\n";

class Faults : public ::testing::Test {
 protected:
  void SetUp() override { program_ = testsupport::PrivateProgram(dir_); }
  testsupport::RunResult RunOn(const std::string& AFile) {
    return testsupport::Run(program_, {"/USER=ann", "/FILE=" + SystemPath(AFile)}, "",
                            {"XDG_CONFIG_HOME=" + (dir_ / "config")});
  }
  TempDir dir_;
  std::string program_;
};

TEST_F(Faults, AFullDiskFailsTheFileAndLeavesItAsItWas) {
  const std::string disk = dir_ / "disk";
  fs::create_directories(disk);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=256k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs CAP_SYS_ADMIN)";
  }
  // A source that fills most of the disk: its rewritten copy cannot fit.
  std::string big = kMarked;
  while (big.size() < 160 * 1024) big += "  Call; { filler filler filler filler filler }\r\n";
  WriteFile(disk + "/Big.pas", big);
  const testsupport::RunResult result = RunOn(disk + "/Big.pas");
  const std::string content = ReadFile(disk + "/Big.pas");
  const bool tempLeft = FileExists(disk + "/Big.tmp");
  const bool logWritten = FileExists(disk + "/Big.pas.cvs");
  umount(disk.c_str());
  EXPECT_EQ(result.ExitCode, 1);
  // The file's line, then the failure of the write as the last line.
  EXPECT_EQ(result.Out, SystemPath(disk) + "\\Big.pas\nCannot write " + SystemPath(disk) +
                            "\\Big.tmp: " + DiskFullReason() + "\n");
  EXPECT_EQ(result.Err,
            "Reason: the disk is full; " + SystemPath(disk) + "\\Big.tmp cannot be written.\n");
  EXPECT_EQ(content, big);
  EXPECT_FALSE(tempLeft);
  EXPECT_FALSE(logWritten);
}

// The temporary file fits, the log's entry does not: the message and the
// reason name the log by its whole path, and the pair stays as it was.
TEST_F(Faults, ALogThatDoesNotFitIsNamedByItsWholePath) {
  SKIP_UNDER_WINE("a tmpfs of its own needs Linux");
  const std::string disk = dir_ / "disk";
  fs::create_directories(disk);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=256k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs CAP_SYS_ADMIN)";
  }
  WriteFile(disk + "/src/Small.pas", kMarked);
  // A log that fills its page, so that its entry needs another.
  const std::string oldLog = std::string(4094, 'x') + "\r\n";
  WriteFile(disk + "/src/Small.pas.cvs", oldLog);
  // One page left: the temporary file takes it.
  struct statvfs space {};
  ASSERT_EQ(statvfs(disk.c_str(), &space), 0);
  const std::size_t room = static_cast<std::size_t>(space.f_bavail) * space.f_bsize;
  WriteFile(disk + "/filler", std::string(room - 4096, 'f'));
  const testsupport::RunResult result = RunOn(disk + "/src/Small.pas");
  const std::string content = ReadFile(disk + "/src/Small.pas");
  const std::string log = ReadFile(disk + "/src/Small.pas.cvs");
  const bool tempLeft = FileExists(disk + "/src/Small.tmp");
  umount(disk.c_str());
  const std::string shownLog = SystemPath(disk) + "\\src\\Small.pas.cvs";
  EXPECT_EQ(result.ExitCode, 1);
  EXPECT_EQ(result.Out, SystemPath(disk) + "\\src\\Small.pas\nCannot write " + shownLog + ": " +
                            DiskFullReason() + "\n");
  EXPECT_EQ(result.Err, "Reason: the disk is full; " + shownLog + " cannot be written.\n");
  EXPECT_EQ(content, kMarked);
  EXPECT_TRUE(log == oldLog) << log.size() << " bytes";
  EXPECT_FALSE(tempLeft);
}

TEST_F(Faults, AnUnreadableSubdirectoryIsSkippedWithoutAMessage) {
  SKIP_UNDER_WINE("Wine runs only as the user who owns its prefix, never as nobody");
  const std::string top = dir_ / "tree";
  WriteFile(top + "/a/A.pas", kMarked);
  WriteFile(top + "/locked/L.pas", kMarked);
  WriteFile(top + "/z/Z.pas", kMarked);
  for (const auto& entry : fs::recursive_directory_iterator(dir_.Path())) {
    chmod(entry.path().c_str(), entry.is_directory() ? 0777 : 0666);
  }
  chmod(dir_.Path().c_str(), 0755);
  chmod(program_.c_str(), 0755);
  chmod((top + "/locked").c_str(), 0);
  // Root reads every directory, so the program runs as nobody.
  const std::string out = dir_ / "out";
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The output file is opened first, while the test may still write here.
    if (freopen(out.c_str(), "w", stdout) == nullptr) _exit(124);
    setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    if (geteuid() == 0) {
      setgroups(0, nullptr);
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(125);
    }
    const std::string file = "/FILE=" + SystemPath(top) + "\\*.pas";
    execl(program_.c_str(), program_.c_str(), "/USER=ann", file.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  chmod((top + "/locked").c_str(), 0777);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0) << "could not run as an unprivileged user";
  const std::string lines = ReadFile(out);
  EXPECT_NE(lines.find("\\a\\A.pas\n"), std::string::npos) << lines;
  EXPECT_NE(lines.find("\\z\\Z.pas\n"), std::string::npos) << lines;
  EXPECT_EQ(lines.find("L.pas"), std::string::npos) << lines;
  EXPECT_EQ(lines.find("cannot"), std::string::npos) << lines;
  EXPECT_EQ(ReadFile(top + "/locked/L.pas"), kMarked);
  EXPECT_NE(ReadFile(top + "/a/A.pas"), kMarked);
}

TEST_F(Faults, FilesChangingDuringTheWalkNeverCrashOrDamageIt) {
  const std::string top = dir_ / "churn";
  for (int i = 0; i < 200; ++i)
    WriteFile(top + "/d" + std::to_string(i % 4) + "/U" + std::to_string(i) + ".pas", kMarked);
  std::atomic<bool> stop{false};
  // Meanwhile files vanish, come back, and turn into directories and back.
  std::thread churn([&] {
    int n = 0;
    while (!stop) {
      const std::string victim =
          top + "/d" + std::to_string(n % 4) + "/U" + std::to_string(n % 200) + ".pas";
      std::error_code ignored;
      if (n % 3 == 0) {
        fs::remove(victim, ignored);
      } else if (n % 3 == 1) {
        fs::remove(victim, ignored);
        fs::create_directory(victim, ignored);
      } else {
        fs::remove_all(victim, ignored);
        WriteFile(victim, kMarked);
      }
      ++n;
    }
  });
  for (int round = 0; round < 10; ++round) {
    const testsupport::RunResult result = RunOn(top + "\\*.pas");
    // Every line names a file, except perhaps a last failure line.
    std::string::size_type start = 0;
    int failures = 0;
    while (start < result.Out.size()) {
      const std::string::size_type end = result.Out.find('\n', start);
      ASSERT_NE(end, std::string::npos) << result.Out;
      const std::string line = result.Out.substr(start, end - start);
      // "cannot be edited", or "was changed while it was being rewritten".
      if (line.rfind("The file ", 0) == 0) {
        ++failures;
        EXPECT_EQ(end + 1, result.Out.size()) << "a failure ends the run";
      }
      start = end + 1;
    }
    EXPECT_LE(failures, 1);
    EXPECT_EQ(result.ExitCode, failures) << result.Out;
  }
  stop = true;
  churn.join();
  // What is a file now holds either the old text or a complete rewrite.
  for (const auto& entry : fs::recursive_directory_iterator(top)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".pas") continue;
    const std::string content = ReadFile(entry.path().string());
    EXPECT_TRUE(content == kMarked || content.find("{ann ") != std::string::npos) << entry.path();
  }
}

}  // namespace
