// The recovery from a killed run and the log, attacked: root runs histrel
// over a tree that another user writes, where that user has left files that
// look like a killed run's, a log of its own, or swaps the temporary file
// for a link just before the exchange. Each case ends as it should, and no
// file outside what the run may change is touched (bytes, mode, owner).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/HostileTreeFixture.h"

namespace {

using namespace hostiletree;  // NOLINT(google-build-using-namespace)

class HostileRecovery : public HostileTree {
 protected:
  // The mark a killed run of the process's user would have left.
  static void Mark(const std::string& APath, const std::string& AValue) {
    ASSERT_EQ(lsetxattr(APath.c_str(), "user.histrel", AValue.data(), AValue.size(), 0), 0);
  }
  // "log <length> <device> <inode>" of the file at APath.
  static std::string LogMark(const std::string& APath) {
    struct stat info {};
    EXPECT_EQ(stat(APath.c_str(), &info), 0);
    return "log 0 " + std::to_string(info.st_dev) + " " + std::to_string(info.st_ino);
  }
  std::string Path(const std::string& AName) const { return FTree + "/" + AName; }

  RunResult RunWith(const std::vector<std::string>& AOptions, const std::string& AFile) {
    std::vector<std::string> arguments{"60", FProgram};
    arguments.insert(arguments.end(), AOptions.begin(), AOptions.end());
    arguments.push_back("/USER=ann");
    arguments.push_back("/FILE=" + SystemPath(FTree) + AFile);
    return testsupport::Run("/usr/bin/timeout", arguments);
  }
};

const std::string kOldLog = "ann 2001.01.01 an earlier entry\r\n";

// Files that look like the leftovers of a killed run, or a log that is not
// the source's to have: nothing is cut, removed or written.
TEST_F(HostileRecovery, NoLeftoverOrLogOfAnotherUserIsTrusted) {
  struct Case {
    const char* Name;
    std::function<void()> Plant;
    std::vector<std::string> Options;
    int Status;
    std::string Says;  // a part of the output
  };
  const std::string cannotEdit = " cannot be edited!";
  const std::string exists = "u.tmp already exists!";
  const std::vector<Case> cases = {
      {"a root file marked to cut the log, kept by another name",
       [this] {
         WriteFile(Path("u.pas"), kMarked);
         WriteFile(Path("u.pas.cvs"), kOldLog);
         WriteFile(Path("u.tmp"), "kept");
         Mark(Path("u.tmp"), LogMark(Path("u.pas.cvs")));
       },
       {},
       1,
       exists},
      {"the attacker's file marked as an old source",
       [this] {
         Plant("u.pas", kMarked);
         Plant("u.pas.cvs", kOldLog);
         Plant("u.tmp", "kept");
         Mark(Path("u.tmp"), "replaced");
         Mark(Path("u.pas"), LogMark(Path("u.pas.cvs")));
       },
       {},
       1,
       exists},
      {"the attacker's log beside root's private source",
       [this] {
         WriteFile(Path("u.pas"), kMarked);
         ASSERT_EQ(chmod(Path("u.pas").c_str(), 0600), 0);
         Plant("u.pas.cvs", "");
         ASSERT_EQ(chmod(Path("u.pas.cvs").c_str(), 0666), 0);
       },
       {},
       1,
       cannotEdit},
      {"the same in a preview",
       [this] {
         WriteFile(Path("u.pas"), kMarked);
         ASSERT_EQ(chmod(Path("u.pas").c_str(), 0600), 0);
         Plant("u.pas.cvs", "");
       },
       {"--diff"},
       2,
       cannotEdit},
      {"root's log that others may read beside a private source",
       [this] {
         WriteFile(Path("u.pas"), kMarked);
         ASSERT_EQ(chmod(Path("u.pas").c_str(), 0600), 0);
         WriteFile(Path("u.pas.cvs"), kOldLog);
         ASSERT_EQ(chmod(Path("u.pas.cvs").c_str(), 0644), 0);
       },
       {"--check"},
       2,
       cannotEdit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::remove_all(FTree);
    fs::create_directories(FTree);
    Own(FTree);
    c.Plant();
    const auto before = Everything();
    const RunResult result = RunWith(c.Options, "\\u.pas");
    EXPECT_EQ(result.ExitCode, c.Status) << result.Out << result.Err;
    EXPECT_NE((result.Out + result.Err).find(c.Says), std::string::npos)
        << result.Out << result.Err;
    ExpectUntouchedBut(before, {});
  }
}

// A colleague's log beside the colleague's source, in a folder that both
// share, takes the entry as ever.
TEST_F(HostileRecovery, AColleaguesLogBesideTheColleaguesSourceStaysUsable) {
  Plant("u.pas", kMarked);
  Plant("u.pas.cvs", kOldLog);
  const RunResult result = RunOn("\\u.pas");
  EXPECT_EQ(result.ExitCode, 0) << result.Out;
  EXPECT_EQ(ReadFile(Path("u.pas.cvs")).rfind(kOldLog, 0), 0u);
  EXPECT_NE(ReadFile(Path("u.pas.cvs")), kOldLog);
  struct stat info {};
  ASSERT_EQ(stat(Path("u.pas").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, kAttacker);
}

// The temporary file's name is swapped for a link to a victim file after
// the log is written, before the exchange (which strace holds back): the
// link never becomes the source, and the log loses the entry again.
TEST_F(HostileRecovery, ALinkPutInTheTemporaryFilesPlaceIsNeverInstalled) {
  Plant("u.pas", kMarked);
  Plant("u.pas.cvs", kOldLog);
  PlantLink(FVictim, "evil");
  const auto before = Everything();
  const std::string tree = FTree;
  const pid_t attacker = Attack(IN_MODIFY, "u.pas.cvs", [tree] {
    if (rename((tree + "/evil").c_str(), (tree + "/u.tmp").c_str()) != 0) _exit(6);
  });
  const RunResult result =
      testsupport::Run("/usr/bin/strace",
                       {"-f", "-o", "/dev/null", "-e", "inject=renameat2:delay_enter=1000000",
                        FProgram, "/USER=ann", "/FILE=" + SystemPath(FTree) + "\\u.pas"},
                       "", {"ASAN_OPTIONS=detect_leaks=0"});
  ASSERT_TRUE(Landed(attacker));
  EXPECT_EQ(result.ExitCode, 1) << result.Out;
  struct stat info {};
  ASSERT_EQ(lstat(Path("u.pas").c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(ReadFile(Path("u.pas")), kMarked);
  EXPECT_EQ(ReadFile(Path("u.pas.cvs")), kOldLog);
  ExpectUntouchedBut(before, {Path("evil"), Path("u.tmp")});
}

}  // namespace
