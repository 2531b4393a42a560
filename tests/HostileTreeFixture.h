// The hostile tree: histrel run by root over a tree that another user (uid
// 65534) owns and changes while it runs, on purpose. The attacker's moves
// are timed by inotify; what is outside the selection is watched byte for
// byte, with mode and owner.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/TestSupport.h"

namespace hostiletree {

namespace fs = std::filesystem;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::RunResult;
using testsupport::SystemPath;
using testsupport::TempDir;
using testsupport::WriteFile;

constexpr uid_t kAttacker = 65534;
inline const std::string kMarked = "unit U;\r\n{CVSLOG}\r\n{CVS* A note.}\r\nend.\r\n";
inline const std::string kVictimText = "export PATH=/usr/bin\n";

// A source of about 8 MB with one marked comment and LF line ends, which the
// rewrite writes line by line: long enough for an attacker woken by inotify
// to move in the middle of it, mostly. A move that comes after the rewrite
// is harmless, so each attack is tried until it lands in time.
constexpr int kAttempts = 6;
inline std::string BigMarkedSource() {
  std::string text = kMarked;
  const std::string filler = "  Call(1, 2, 3); { filler text that holds no marker at all }\n";
  while (text.size() < std::size_t{8} * 1024 * 1024) text += filler;
  return text;
}

class HostileTree : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_UNDER_WINE(
        "the attacker is another Unix user, and Wine runs the program as one user that owns "
        "everything it sees; the Windows build's links are tested by WindowsPaths");
    if (geteuid() != 0) GTEST_SKIP() << "needs root: the victim runs as root, the attacker not";
    const char* old = getenv("XDG_CONFIG_HOME");
    FOldConfig = old != nullptr ? old : "";
    FHadConfig = old != nullptr;
    setenv("XDG_CONFIG_HOME", (FDir / "config").c_str(), 1);
    FProgram = testsupport::PrivateProgram(FDir);
    ASSERT_EQ(chmod(FDir.Path().c_str(), 0755), 0);
    fs::create_directories(FTree);
    Own(FTree);
    WriteFile(FVictim, kVictimText);
  }
  void TearDown() override {
    if (FHadConfig) {
      setenv("XDG_CONFIG_HOME", FOldConfig.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
  }

  // Hands a path over to the attacker.
  static void Own(const std::string& APath) {
    ASSERT_EQ(lchown(APath.c_str(), kAttacker, kAttacker), 0) << APath;
  }
  void Plant(const std::string& AName, const std::string& AContent) {
    WriteFile(FTree + "/" + AName, AContent);
    Own(FTree + "/" + AName);
  }
  void PlantLink(const std::string& ATarget, const std::string& AName) {
    ASSERT_EQ(symlink(ATarget.c_str(), (FTree + "/" + AName).c_str()), 0);
    Own(FTree + "/" + AName);
  }

  RunResult RunOn(const std::string& AFile) {
    return testsupport::Run("/usr/bin/timeout",
                            {"60", FProgram, "/USER=ann", "/FILE=" + SystemPath(FTree) + AFile});
  }
  // The same, for the files of the tree named after "--", by absolute paths.
  RunResult RunOnList(const std::vector<std::string>& ANames) {
    std::vector<std::string> arguments = {"60", FProgram, "/USER=ann", "--"};
    for (const std::string& name : ANames) arguments.push_back(FTree + "/" + name);
    return testsupport::Run("/usr/bin/timeout", arguments);
  }
  std::string Shown(const std::string& AName) const { return SystemPath(FTree) + "\\" + AName; }

  // Starts the attacker, who waits for AMask on AName in the tree and then
  // makes AMove; returns once the watch is in place.
  pid_t Attack(uint32_t AMask, const std::string& AName, const std::function<void()>& AMove) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
      close(ready[0]);
      alarm(60);
      if (setgid(kAttacker) != 0 || setuid(kAttacker) != 0) _exit(2);
      const int watch = inotify_init();
      if (watch < 0 || inotify_add_watch(watch, FTree.c_str(), AMask) < 0) _exit(3);
      if (write(ready[1], "r", 1) != 1) _exit(4);
      alignas(inotify_event) char buffer[8192];
      for (;;) {
        const ssize_t n = read(watch, buffer, sizeof buffer);
        if (n <= 0) _exit(5);
        for (ssize_t at = 0; at < n;) {
          const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
          if (event->len > 0 && AName == event->name) {
            AMove();
            _exit(0);
          }
          at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
      }
    }
    close(ready[1]);
    char byte = 0;
    EXPECT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    return pid;
  }
  static void Finish(pid_t APid) {
    kill(APid, SIGTERM);
    waitpid(APid, nullptr, 0);
  }
  // Whether the attacker's move found what it needed (it exits 0).
  static bool Landed(pid_t APid) {
    int status = 0;
    waitpid(APid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(FDir.Path())) {
      if (entry.path().extension() == ".tmp") names.push_back(entry.path().string());
    }
    return names;
  }

  // Every entry below the test's directory (links not followed) with what
  // an attack could change: bytes or link text, mode, owner and group.
  using TEntryState = testsupport::EntryState;
  std::map<std::string, TEntryState> Everything() const {
    return testsupport::EntryStates(FDir.Path());
  }
  // Expects every entry of ABefore but those in AChanged to be there still,
  // as it was, and no entry to have come that is not in AChanged.
  void ExpectUntouchedBut(const std::map<std::string, TEntryState>& ABefore,
                          const std::vector<std::string>& AChanged) const {
    const auto changes = [&](const std::string& APath) {
      return std::find(AChanged.begin(), AChanged.end(), APath) != AChanged.end();
    };
    const std::map<std::string, TEntryState> after = Everything();
    for (const auto& [path, state] : ABefore) {
      if (changes(path)) continue;
      const auto found = after.find(path);
      EXPECT_TRUE(found != after.end() && found->second == state) << path << " changed";
    }
    for (const auto& [path, state] : after) {
      EXPECT_TRUE(ABefore.count(path) != 0 || changes(path)) << path << " appeared";
    }
  }

  TempDir FDir;
  const std::string FTree = FDir / "tree";
  const std::string FVictim = FDir / "victim.rc";
  std::string FProgram;
  std::string FOldConfig;
  bool FHadConfig = false;
};

}  // namespace hostiletree
