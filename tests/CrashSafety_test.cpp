// Kills histrel at random points of its run over a tree and checks that
// nothing is ever lost: every source is byte for byte its old or its new
// content, and nothing but the sources, their logs and one temporary file
// changed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "tests/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::Snapshot;
using testsupport::SystemPath;
using testsupport::TempDir;
using testsupport::WriteFile;

std::string Source(int AIndex) {
  std::string text = "unit U" + std::to_string(AIndex) + ";\r\n\r\n{CVSLOG}\r\n\r\nbegin\r\n";
  for (int line = 0; line < 60; ++line) {
    text += "  Call(" + std::to_string(line) + "); { plain comment }\r\n";
    if (line % 20 == 7)
      text +=
          "  {CVS* Note " + std::to_string(line) + " of unit " + std::to_string(AIndex) + ".}\r\n";
  }
  return text + "end.\r\n";
}

// How many history logs are in ATree: each one is made as its source is
// rewritten, so the count follows the run from outside. Entries are not
// stat'ed, since the run renames files meanwhile.
int LogCount(const std::string& ATree) {
  int logs = 0;
  std::error_code ignored;
  for (fs::recursive_directory_iterator it(ATree, ignored), end; it != end; it.increment(ignored)) {
    if (it->path().extension() == ".cvs") ++logs;
  }
  return logs;
}

class CrashSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_UNDER_WINE(
        "the Windows build keeps no recovery marks, so a killed run's temporary file stays "
        "for the user to remove");
    program_ = testsupport::PrivateProgram(dir_);
    for (int i = 0; i < kSources; ++i) {
      WriteFile(
          dir_ / ("original/d" + std::to_string(i % 6) + "/Unit" + std::to_string(i) + ".pas"),
          Source(i));
    }
    WriteFile(dir_ / "original/readme.txt", "not selected\r\n");
    old_ = Snapshot(dir_ / "original");
    fs::copy(dir_ / "original", dir_ / "expected", fs::copy_options::recursive);
    const testsupport::RunResult full =
        testsupport::Run(program_, Arguments(dir_ / "expected"), "", Environment());
    ASSERT_EQ(full.ExitCode, 0);
    new_ = Snapshot(dir_ / "expected");
  }

  std::vector<std::string> Arguments(const std::string& ARoot) const {
    return {"/USER=crash", "/FILE=" + SystemPath(ARoot) + "\\*.pas"};
  }
  std::vector<std::string> Environment() const { return {"XDG_CONFIG_HOME=" + (dir_ / "config")}; }

  static constexpr int kSources = 300;
  TempDir dir_;
  std::string program_;
  std::map<std::string, std::string> old_;
  std::map<std::string, std::string> new_;
};

TEST_F(CrashSafety, AKillNeverLeavesAMissingOrPartialSource) {
  std::mt19937 random(12345);
  constexpr int kRounds = 40;
  // Each round kills the run once a random number of logs is there; the
  // kill counts only when it came between the first and the last rewrite.
  int midRun = 0;
  int rounds = 0;
  for (; rounds < kRounds; ++rounds) {
    const std::string work = dir_ / "work";
    fs::remove_all(work);
    fs::copy(dir_ / "original", work, fs::copy_options::recursive);
    const pid_t pid = testsupport::Start(program_, Arguments(work), "/dev/null", Environment());
    ASSERT_GT(pid, 0);
    const int killAt = 2 + static_cast<int>(random() % (kSources * 3 / 4));
    int status = 0;
    bool ended = false;
    while (!ended && LogCount(work) < killAt) {
      ended = waitpid(pid, &status, WNOHANG) == pid;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }

    int temporaries = 0;
    int rewritten = 0;
    int untouched = 0;
    const std::map<std::string, std::string> now = Snapshot(work);
    for (const auto& [path, content] : now) {
      const std::string name = fs::path(path).filename().string();
      if (old_.count(path) != 0) {
        EXPECT_TRUE(content == old_.at(path) || content == new_.at(path))
            << "round " << rounds << ": " << path;
        if (content != old_.at(path)) ++rewritten;
        if (content != new_.at(path)) ++untouched;
      } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".cvs") == 0) {
        // A log may already hold the lines of a source not yet replaced.
        EXPECT_EQ(new_.at(path).rfind(content, 0), 0u) << path;
      } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) {
        ++temporaries;
      } else {
        ADD_FAILURE() << "unexpected file " << path;
      }
    }
    for (const auto& [path, content] : old_) EXPECT_EQ(now.count(path), 1u) << "missing " << path;
    EXPECT_LE(temporaries, 1) << "round " << rounds;
    if (rewritten > 0 && untouched > 0) ++midRun;
    if (HasFailure()) break;
  }
  EXPECT_EQ(rounds, kRounds);
  EXPECT_GE(midRun, kRounds * 3 / 4) << "kills that came while sources were being rewritten";
}

}  // namespace
