// histrel run by root over a tree that another user (uid 65534) owns and
// changes while it runs, on purpose: the attacker's moves are timed by
// inotify. Whatever the attacker does, the files of the victim outside what
// was selected stay byte for byte as they were, and a source is replaced
// only by the rewrite of the very file that was read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::RunResult;
using testsupport::SystemPath;
using testsupport::TempDir;
using testsupport::WriteFile;

constexpr uid_t kAttacker = 65534;
const std::string kMarked = "unit U;\r\n{CVSLOG}\r\n{CVS* A note.}\r\nend.\r\n";
const std::string kVictimText = "export PATH=/usr/bin\n";

// A source of about 8 MB with one marked comment and LF line ends, which the
// rewrite writes line by line: long enough for an attacker woken by inotify
// to move in the middle of it, mostly. A move that comes after the rewrite
// is harmless, so each attack is tried until it lands in time.
constexpr int kAttempts = 6;
std::string BigMarkedSource() {
  std::string text = kMarked;
  const std::string filler = "  Call(1, 2, 3); { filler text that holds no marker at all }\n";
  while (text.size() < std::size_t{8} * 1024 * 1024) text += filler;
  return text;
}

class HostileTree : public ::testing::Test {
 protected:
  void SetUp() override {
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

  TempDir FDir;
  const std::string FTree = FDir / "tree";
  const std::string FVictim = FDir / "victim.rc";
  std::string FProgram;
  std::string FOldConfig;
  bool FHadConfig = false;
};

// 1. The source's name is swapped for a link to a victim file while the run
// reads it, or when its temporary file appears.
TEST_F(HostileTree, ASourceSwappedForALinkNeverLeadsTheRewriteElsewhere) {
  struct Case {
    uint32_t Mask;
    const char* Name;
    mode_t VictimMode;
  };
  const std::string changed = Shown("u.pas") + "\nThe file " + Shown("u.pas") +
                              " was changed while it was being rewritten!\n";
  for (const Case& c : {Case{IN_OPEN, "u.pas", 0644}, Case{IN_CREATE, "u.tmp", 04755}}) {
    SCOPED_TRACE(c.Name);
    ASSERT_EQ(chmod(FVictim.c_str(), c.VictimMode), 0);
    bool inTime = false;
    for (int attempt = 0; attempt < kAttempts && !inTime; ++attempt) {
      Plant("u.pas", BigMarkedSource());
      PlantLink(FVictim, "evil");
      const std::string tree = FTree;
      const pid_t attacker = Attack(c.Mask, c.Name, [tree] {
        if (rename((tree + "/evil").c_str(), (tree + "/u.pas").c_str()) != 0) _exit(6);
      });
      const RunResult result = RunOn("\\u.pas");
      ASSERT_TRUE(Landed(attacker));
      inTime = result.Out == changed;
      EXPECT_TRUE(inTime || result.Out == Shown("u.pas") + "\n") << result.Out;
      EXPECT_EQ(ReadFile(FVictim), kVictimText);
      struct stat info {};
      ASSERT_EQ(stat(FVictim.c_str(), &info), 0);
      EXPECT_EQ(info.st_mode & 07777, c.VictimMode);
      ASSERT_EQ(lstat((FTree + "/u.pas").c_str(), &info), 0);
      EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the attacker's link was replaced";
      EXPECT_EQ(FileExists(FTree + "/u.pas.cvs"), !inTime);
      EXPECT_EQ(Leftovers(), std::vector<std::string>{});
      for (const auto& entry : fs::directory_iterator(FTree)) {
        ASSERT_EQ(lstat(entry.path().c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 06000, 0u) << entry.path() << " became set-id";
      }
      std::remove((FTree + "/u.pas").c_str());
      std::remove((FTree + "/u.pas.cvs").c_str());
    }
    EXPECT_TRUE(inTime) << "the attack never came during the rewrite";
  }
}

// 2 and 3. A log planted as a link to a victim file, as a second name of
// it, or as a FIFO: the file cannot be edited, nothing is written and
// nothing waits.
TEST_F(HostileTree, APlantedLogThatIsNoFileOfItsOwnIsRefused) {
  for (const char* kind : {"link", "hard link", "fifo"}) {
    SCOPED_TRACE(kind);
    Plant("u.pas", kMarked);
    const std::string log = FTree + "/u.pas.cvs";
    if (kind == std::string("fifo")) {
      ASSERT_EQ(mkfifo(log.c_str(), 0666), 0);
      Own(log);
    } else if (kind == std::string("link")) {
      PlantLink(FVictim, "u.pas.cvs");
    } else {
      ASSERT_EQ(link(FVictim.c_str(), log.c_str()), 0);
    }
    const RunResult result = RunOn("\\u.pas");
    EXPECT_EQ(result.Out, Shown("u.pas") + "\nThe file " + Shown("u.pas") + " cannot be edited!\n");
    EXPECT_EQ(ReadFile(FVictim), kVictimText);
    EXPECT_EQ(ReadFile(FTree + "/u.pas"), kMarked);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    std::remove(log.c_str());
  }
}

// 4. Nobody else can read the temporary file while it holds a private
// source's text, and a new log is no more readable than its source.
TEST_F(HostileTree, ThePrivateTextOfASourceIsNeverWidened) {
  Plant("u.pas", BigMarkedSource());
  ASSERT_EQ(chmod((FTree + "/u.pas").c_str(), 0600), 0);
  ASSERT_EQ(lchown((FTree + "/u.pas").c_str(), 0, 0), 0);
  const std::string tree = FTree;
  const pid_t reader = Attack(IN_CREATE, "u.tmp", [tree] {
    // Exits 0 only when it could read the temporary file.
    _exit(open((tree + "/u.tmp").c_str(), O_RDONLY) >= 0 ? 0 : 7);
  });
  const RunResult result = RunOn("\\u.pas");
  EXPECT_FALSE(Landed(reader)) << "the attacker read the temporary file";
  EXPECT_EQ(result.Out, Shown("u.pas") + "\n");
  struct stat info {};
  ASSERT_EQ(stat((FTree + "/u.pas").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  ASSERT_EQ(stat((FTree + "/u.pas.cvs").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777 & ~0600u, 0u);
}

// 5. Names that hold a backslash would be read as paths leading out of the
// tree: they are passed over with a warning.
TEST_F(HostileTree, NamesWithABackslashNeverLeadOutOfTheTree) {
  WriteFile(FDir / "outside.pas", kMarked);
  WriteFile(FDir / "up.pas", kMarked);
  Plant("..\\outside.pas", kMarked);
  fs::create_directories(FTree + "/..\\..");
  Own(FTree + "/..\\..");
  Plant("..\\../up.pas", kMarked);
  Plant("in.pas", kMarked);
  const RunResult result = RunOn("\\*.pas");
  EXPECT_EQ(result.Out, Shown("in.pas") + "\n");
  EXPECT_EQ(ReadFile(FDir / "outside.pas"), kMarked);
  EXPECT_EQ(ReadFile(FDir / "up.pas"), kMarked);
  EXPECT_EQ(ReadFile(FTree + "/..\\outside.pas"), kMarked);
  EXPECT_NE(result.Err.find(Shown("..\\outside.pas")), std::string::npos) << result.Err;
  EXPECT_NE(result.Err.find(Shown("..\\..")), std::string::npos) << result.Err;
  EXPECT_EQ(std::count(result.Err.begin(), result.Err.end(), '\n'), 2) << result.Err;
}

// 6 and links in general: many links to one directory walk it once, and a
// link that the attacker planted to the victim's files is not followed.
TEST_F(HostileTree, PlantedLinksNeitherMultiplyTheWalkNorReachTheVictimsFiles) {
  std::string level = FTree;
  for (int depth = 0; depth < 30; ++depth) {
    fs::create_directories(level + "/n");
    Own(level + "/n");
    WriteFile(level + "/n/x.pas", "");
    for (const char* link : {"/l1", "/l2"}) {
      ASSERT_EQ(symlink("n", (level + link).c_str()), 0);
      Own(level + link);
    }
    level += "/n";
  }
  fs::create_directories(FDir / "private");
  WriteFile(FDir / "private/secret.pas", "{CVS* the victim's secret}\r\n");
  PlantLink(FDir / "private/secret.pas", "secret.pas");
  PlantLink(FDir / "private", "private");
  const RunResult result = RunOn("\\*.pas");
  EXPECT_EQ(std::count(result.Out.begin(), result.Out.end(), '\n'), 32) << result.Out;
  EXPECT_NE(result.Out.find("The file " + Shown("secret.pas") + " cannot be edited!"),
            std::string::npos)
      << result.Out;
  EXPECT_EQ(ReadFile(FDir / "private/secret.pas"), "{CVS* the victim's secret}\r\n");
  EXPECT_FALSE(FileExists(FTree + "/secret.pas.cvs"));
  EXPECT_EQ(result.Out.find("private\\"), std::string::npos);
}

// 7. An editor saves (by a new file and a rename, or in place) while a large
// source is rewritten: its save wins, the run says so, the log is untouched.
TEST_F(HostileTree, AnEditorsSaveDuringTheRewriteIsNeverLost) {
  const std::string saved = "unit U;\r\n{CVSLOG}\r\nend. { saved by the editor }\r\n";
  const std::string changed = Shown("u.pas") + "\nThe file " + Shown("u.pas") +
                              " was changed while it was being rewritten!\n";
  for (const bool inPlace : {false, true}) {
    SCOPED_TRACE(inPlace ? "in place" : "new file and rename");
    bool inTime = false;
    for (int attempt = 0; attempt < kAttempts && !inTime; ++attempt) {
      Plant("u.pas", BigMarkedSource());
      std::remove((FTree + "/u.pas.cvs").c_str());
      const std::string tree = FTree;
      const pid_t editor = Attack(IN_CREATE, "u.tmp", [tree, saved, inPlace] {
        const std::string into = inPlace ? tree + "/u.pas" : tree + "/.u.pas.swp";
        const int fd = open(into.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || write(fd, saved.data(), saved.size()) != static_cast<ssize_t>(saved.size())) {
          _exit(6);
        }
        close(fd);
        if (!inPlace && rename(into.c_str(), (tree + "/u.pas").c_str()) != 0) _exit(6);
      });
      const RunResult result = RunOn("\\u.pas");
      ASSERT_TRUE(Landed(editor));
      // A save after the rewrite simply comes later; one during it wins.
      inTime = result.Out == changed;
      EXPECT_TRUE(inTime || result.Out == Shown("u.pas") + "\n") << result.Out;
      EXPECT_EQ(ReadFile(FTree + "/u.pas"), saved);
      EXPECT_EQ(FileExists(FTree + "/u.pas.cvs"), !inTime);
      EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    }
    EXPECT_TRUE(inTime) << "the save never came during the rewrite";
  }
}

}  // namespace
