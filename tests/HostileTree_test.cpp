// histrel run by root over a tree that another user (uid 65534) owns and
// changes while it runs, on purpose: the attacker's moves are timed by
// inotify. Whatever the attacker does, the files of the victim outside what
// was selected stay byte for byte as they were, and a source is replaced
// only by the rewrite of the very file that was read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/HostileTreeFixture.h"

namespace {

using namespace hostiletree;  // NOLINT(google-build-using-namespace)

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

// The files of a list are taken as a named file is: a link that the
// attacker planted to a victim's file is not followed, and a source swapped
// for a link while it is read never leads the rewrite to the victim.
TEST_F(HostileTree, AListOfFilesIsTakenAsANamedFileIs) {
  fs::create_directories(FDir / "private");
  WriteFile(FDir / "private/secret.pas", "{CVS* the victim's secret}\r\n");
  PlantLink(FDir / "private/secret.pas", "secret.pas");
  Plant("a.pas", kMarked);
  RunResult result = RunOnList({"a.pas", "secret.pas"});
  EXPECT_EQ(result.Out, Shown("a.pas") + "\n" + Shown("secret.pas") + "\nThe file " +
                            Shown("secret.pas") + " cannot be edited!\n");
  EXPECT_EQ(ReadFile(FDir / "private/secret.pas"), "{CVS* the victim's secret}\r\n");
  EXPECT_FALSE(FileExists(FTree + "/secret.pas.cvs"));
  EXPECT_TRUE(FileExists(FTree + "/a.pas.cvs")) << "the file before it was rewritten";

  const std::string changed = Shown("u.pas") + "\nThe file " + Shown("u.pas") +
                              " was changed while it was being rewritten!\n";
  bool inTime = false;
  for (int attempt = 0; attempt < kAttempts && !inTime; ++attempt) {
    Plant("u.pas", BigMarkedSource());
    PlantLink(FVictim, "evil");
    const std::string tree = FTree;
    const pid_t attacker = Attack(IN_OPEN, "u.pas", [tree] {
      if (rename((tree + "/evil").c_str(), (tree + "/u.pas").c_str()) != 0) _exit(6);
    });
    result = RunOnList({"u.pas"});
    ASSERT_TRUE(Landed(attacker));
    inTime = result.Out == changed;
    EXPECT_TRUE(inTime || result.Out == Shown("u.pas") + "\n") << result.Out;
    EXPECT_EQ(ReadFile(FVictim), kVictimText);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    std::remove((FTree + "/u.pas").c_str());
    std::remove((FTree + "/u.pas.cvs").c_str());
  }
  EXPECT_TRUE(inTime) << "the attack never came during the rewrite";
}

}  // namespace
