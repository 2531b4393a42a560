// A rewrite cut short at each of its steps: killed there, or the step
// failing (strace injects both), and two runs at once over one tree. In
// every case the source and its log end as a pair that belongs together:
// the old source with the old log, or the new source with a log that holds
// its entry exactly once; and the next run leaves no temporary file behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunResult;
using testsupport::SystemPath;
using testsupport::TempDir;
using testsupport::WriteFile;

const std::string kSource = "unit U;\r\n{CVSLOG}\r\n{CVS* A note.}\r\nend.\r\n";
const std::string kOldLog = "ann 2001.01.01 an earlier entry\r\n";

std::size_t Count(const std::string& AText, const std::string& APart) {
  std::size_t count = 0;
  for (auto at = AText.find(APart); at != std::string::npos; at = AText.find(APart, at + 1)) {
    ++count;
  }
  return count;
}

class Interruptions : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_UNDER_WINE(
        "strace stops the program at its POSIX calls and signals interrupt it; the Windows "
        "build makes neither, and it keeps no recovery marks");
    FProgram = testsupport::PrivateProgram(FDir);
    if (testsupport::Run("/usr/bin/strace", {"-f", "-o", "/dev/null", "/bin/true"}).ExitCode != 0) {
      GTEST_SKIP() << "strace cannot trace here";
    }
    // What a run that is not cut short makes of the source and the log.
    const std::string reference = FDir / "reference";
    Prepare(reference);
    Histrel(reference, {});
    FNewSource = ReadFile(reference + "/u.pas");
    FNewLog = ReadFile(reference + "/u.pas.cvs");
    ASSERT_NE(FNewSource, kSource);
    ASSERT_NE(FNewLog, kOldLog);
  }

  static void Prepare(const std::string& ATree) {
    fs::remove_all(ATree);
    WriteFile(ATree + "/u.pas", kSource);
    WriteFile(ATree + "/u.pas.cvs", kOldLog);
  }

  // Runs histrel over ATree, under strace with AInjection when one is given.
  RunResult Histrel(const std::string& ATree, const std::vector<std::string>& AInjection) {
    std::vector<std::string> arguments{"-f", "-o", "/dev/null"};
    for (const std::string& injection : AInjection) {
      arguments.push_back("-e");
      arguments.push_back("inject=" + injection);
    }
    if (!FRunAs.empty()) arguments.insert(arguments.end(), {"-u", FRunAs});
    arguments.insert(arguments.end(),
                     {FProgram, "/USER=ann", "/FILE=" + SystemPath(ATree) + "\\u.pas"});
    // LeakSanitizer cannot work under a tracer; the sanitizer builds check
    // leaks in every other test.
    // A run that hangs fails its test (status 124) rather than the suite.
    arguments.insert(arguments.begin(), {"120", "/usr/bin/strace"});
    return testsupport::Run("/usr/bin/timeout", arguments, "", {"ASAN_OPTIONS=detect_leaks=0"});
  }

  // Whether source and log belong together.
  bool AllowedPair(const std::string& ATree) const {
    const std::string source = ReadFile(ATree + "/u.pas");
    const std::string log = ReadFile(ATree + "/u.pas.cvs");
    return (source == kSource && log == kOldLog) || (source == FNewSource && log == FNewLog);
  }

  static bool TemporaryLeft(const std::string& ATree) {
    for (const auto& entry : fs::directory_iterator(ATree)) {
      if (entry.path().extension() == ".tmp") return true;
    }
    return false;
  }

  TempDir FDir;
  std::string FProgram;
  std::string FRunAs;  // the user strace runs the program as; empty: this one
  std::string FNewSource;
  std::string FNewLog;
};

// In the order the rewrite takes them: the temporary file is made, marked
// and linked in, written and synced, the log locked, marked in the
// temporary file, written and synced, the source locked and marked, the
// names exchanged, the old source removed and the mark of the new one.
const std::vector<std::string> kSteps = {
    "flock:when=1",     "fsetxattr:when=1", "linkat:when=1",      "fchmod:when=1",
    "write:when=1",     "fdatasync:when=1", "flock:when=2",       "fsetxattr:when=2",
    "write:when=2",     "fdatasync:when=2", "flock:when=3",       "fsetxattr:when=3",
    "renameat2:when=1", "unlinkat:when=1",  "fremovexattr:when=1"};

// A kill at each system call that the rewrite makes, and the next run; the
// source has one name, or two (a hard link, which keeps the old text).
TEST_F(Interruptions, AKillAtAnyStepLeavesAPairThatTheNextRunCompletes) {
  // Root's runs, and an ordinary user's over a group-writable source of
  // its own (whose marks count only while nobody else may write the file).
  enum class TVariant { kRoot, kTwoNames, kUserGroupWritable };
  const std::vector<std::string>& steps = kSteps;
  int killed = 0;
  int tried = 0;
  int cutShort = 0;
  for (const std::string& step : steps) {
    for (const TVariant variant :
         {TVariant::kRoot, TVariant::kTwoNames, TVariant::kUserGroupWritable}) {
      if (variant == TVariant::kUserGroupWritable && geteuid() != 0) continue;
      SCOPED_TRACE(step + " " + std::to_string(static_cast<int>(variant)));
      const std::string tree = FDir / "tree";
      Prepare(tree);
      FRunAs.clear();
      if (variant == TVariant::kTwoNames) fs::create_hard_link(tree + "/u.pas", tree + "/v.pas");
      if (variant == TVariant::kUserGroupWritable) {
        ASSERT_EQ(chmod(FDir.Path().c_str(), 0755), 0);
        for (const char* name : {"", "/u.pas", "/u.pas.cvs"}) {
          ASSERT_EQ(chown((tree + name).c_str(), 65534, 65534), 0);
          ASSERT_EQ(chmod((tree + name).c_str(), *name == '\0' ? 0775 : 0664), 0);
        }
        FRunAs = "nobody";
      }
      ++tried;
      const RunResult run = Histrel(tree, {step + ":signal=KILL"});
      if (run.ExitCode == 128 + SIGKILL) ++killed;
      const std::string source = ReadFile(tree + "/u.pas");
      const std::string log = ReadFile(tree + "/u.pas.cvs");
      // A new source never stands beside a log without its entry.
      EXPECT_FALSE(source == FNewSource && log != FNewLog) << log;
      ASSERT_TRUE(source == kSource || source == FNewSource) << source;
      if (!AllowedPair(tree)) {
        // The one moment between writing the log and replacing the source:
        // the temporary file stays, and the next run cuts the log back.
        EXPECT_TRUE(TemporaryLeft(tree));
        ++cutShort;
      }
      const RunResult recovery = Histrel(tree, {});
      EXPECT_EQ(recovery.ExitCode, 0) << recovery.Out;
      EXPECT_EQ(ReadFile(tree + "/u.pas"), FNewSource) << recovery.Out;
      EXPECT_EQ(ReadFile(tree + "/u.pas.cvs"), FNewLog) << recovery.Out;
      EXPECT_FALSE(TemporaryLeft(tree));
      if (variant == TVariant::kTwoNames) {
        EXPECT_EQ(ReadFile(tree + "/v.pas"), kSource);
      }
      if (variant == TVariant::kUserGroupWritable) {
        struct stat info {};
        ASSERT_EQ(stat((tree + "/u.pas").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0664u);
      }
    }
  }
  FRunAs.clear();
  // The kills landed, and some of them between the log and the source.
  EXPECT_EQ(killed, tried);
  EXPECT_GE(cutShort, 1);
}

// Ctrl-C, a kill or a closed terminal at each step: the run takes out its
// temporary file and its log lines, unless the source was replaced, and
// ends by the signal; nothing is left for a later run to clean.
TEST_F(Interruptions, AnInterruptionAtAnyStepCleansUpBeforeTheProgramEnds) {
  int undone = 0;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    for (const std::string& step : kSteps) {
      SCOPED_TRACE(step + " " + std::to_string(signal));
      const std::string tree = FDir / "tree";
      Prepare(tree);
      const RunResult run = Histrel(tree, {step + ":signal=" + std::to_string(signal)});
      EXPECT_EQ(run.ExitCode, 128 + signal);
      EXPECT_TRUE(AllowedPair(tree)) << ReadFile(tree + "/u.pas.cvs");
      EXPECT_FALSE(TemporaryLeft(tree));
      if (ReadFile(tree + "/u.pas") == kSource) ++undone;
    }
  }
  // Some signals came before the exchange, and their runs were undone.
  EXPECT_GE(undone, 3);
}

// Where no mark can be kept (a file system without extended attributes), a
// run killed between the log and the source
// leaves a temporary file that a person removes; the next run then finds
// the entry at the log's end and does not write it twice.
TEST_F(Interruptions, AnEntryThatTheLogEndsWithIsNotWrittenTwice) {
  const std::string tree = FDir / "tree";
  Prepare(tree);
  const RunResult killed = Histrel(tree, {"fsetxattr:error=EOPNOTSUPP", "renameat2:signal=KILL"});
  ASSERT_EQ(killed.ExitCode, 128 + SIGKILL);
  ASSERT_EQ(ReadFile(tree + "/u.pas.cvs"), FNewLog);
  ASSERT_TRUE(TemporaryLeft(tree));
  const RunResult refused = Histrel(tree, {});
  EXPECT_EQ(refused.ExitCode, 1) << refused.Out;
  std::remove((tree + "/u.tmp").c_str());
  const RunResult again = Histrel(tree, {"fsetxattr:error=EOPNOTSUPP"});
  EXPECT_EQ(again.ExitCode, 0) << again.Out;
  EXPECT_EQ(ReadFile(tree + "/u.pas"), FNewSource);
  EXPECT_EQ(ReadFile(tree + "/u.pas.cvs"), FNewLog);
}

// A log that another process keeps locked after a killed run is waited for
// a while, not for ever: the run says which log, changes nothing, and a run
// after the lock is gone completes the pair.
TEST_F(Interruptions, ALogLockedForLongStopsTheRecoveryWithAMessage) {
  const std::string tree = FDir / "tree";
  Prepare(tree);
  ASSERT_EQ(Histrel(tree, {"renameat2:signal=KILL"}).ExitCode, 128 + SIGKILL);
  ASSERT_TRUE(TemporaryLeft(tree));
  const std::string log = ReadFile(tree + "/u.pas.cvs");
  const int held = open((tree + "/u.pas.cvs").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  const pid_t holder = fork();
  if (holder == 0) {
    if (flock(held, LOCK_SH) != 0) _exit(1);
    pause();
    _exit(0);
  }
  close(held);
  // Until the holder has its lock: a probe then cannot take it.
  for (bool free = true; free; usleep(1000)) {
    const int probe = open((tree + "/u.pas.cvs").c_str(), O_RDONLY | O_CLOEXEC);
    free = flock(probe, LOCK_EX | LOCK_NB) == 0;
    close(probe);
  }
  const RunResult locked = Histrel(tree, {});
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(locked.ExitCode, 1);
  EXPECT_NE(locked.Out.find("The log " + SystemPath(tree) + "\\u.pas.cvs stays locked"),
            std::string::npos)
      << locked.Out;
  EXPECT_EQ(locked.Err, "Reason: " + SystemPath(tree) +
                            "\\u.pas.cvs stayed locked by another process for 10 seconds.\n");
  EXPECT_EQ(ReadFile(tree + "/u.pas.cvs"), log);
  EXPECT_TRUE(TemporaryLeft(tree));
  EXPECT_EQ(Histrel(tree, {}).ExitCode, 0);
  EXPECT_TRUE(AllowedPair(tree));
  EXPECT_EQ(ReadFile(tree + "/u.pas"), FNewSource);
  EXPECT_FALSE(TemporaryLeft(tree));
}

// Two sources share one temporary name ("x.pas" and "x.inc" give "x.tmp"):
// the leftover of one is cut back against its own log, never the other's.
TEST_F(Interruptions, ALeftoverIsUndoneForItsOwnSourceWhereTwoShareItsName) {
  const std::string tree = FDir / "pair";
  for (const char* name : {"x.pas", "x.inc"}) {
    WriteFile(tree + "/" + name, kSource);
    WriteFile(tree + "/" + name + ".cvs", kOldLog);
  }
  std::vector<std::string> arguments{"-f",
                                     "-o",
                                     "/dev/null",
                                     "-e",
                                     "inject=renameat2:signal=KILL",
                                     FProgram,
                                     "/USER=ann",
                                     "/FILE=" + SystemPath(tree) + "\\x.inc"};
  ASSERT_EQ(
      testsupport::Run("/usr/bin/strace", arguments, "", {"ASAN_OPTIONS=detect_leaks=0"}).ExitCode,
      128 + SIGKILL);
  ASSERT_TRUE(TemporaryLeft(tree));
  const RunResult recovery = testsupport::Run(FProgram, {"/USER=ann", "/FILE=" + SystemPath(tree)});
  for (const char* name : {"x.pas", "x.inc"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadFile(tree + "/" + name), FNewSource) << recovery.Out;
    EXPECT_EQ(ReadFile(tree + "/" + name + ".cvs"), FNewLog) << recovery.Out;
  }
  EXPECT_FALSE(TemporaryLeft(tree));
}

// A step that fails: the rename refused, no room for the temporary file or
// for the log; no exchange of names or no unnamed files on this file system
// (the rename then follows a check of its own; a temporary file is then
// not marked, and one left by a kill stays for a person to judge).
TEST_F(Interruptions, AFailingStepLeavesTheOldPairAndNoTemporaryFile) {
  struct Case {
    std::string Injection;
    bool Replaced;
  };
  const std::vector<Case> cases = {
      {"renameat2:error=EPERM", false},
      {"write:error=ENOSPC:when=1", false},
      {"write:error=ENOSPC:when=2", false},
      {"renameat2:error=EINVAL", true},
      {"linkat:error=EOPNOTSUPP", true},
      // A disk that fills up or fails only when the data goes to it.
      {"fdatasync:error=ENOSPC:when=1", false},
      {"fdatasync:error=EIO:when=2", false},
      // A mark that cannot be written: a killed run could not be undone, so
      // the rewrite stops; where the file system keeps no marks at all, the
      // rewrite goes on without them.
      {"fsetxattr:error=EIO:when=1", false},
      {"fsetxattr:error=EDQUOT:when=2", false},
      {"fsetxattr:error=EIO:when=3", false},
      {"fsetxattr:error=EOPNOTSUPP:when=2", true},
      {"fsetxattr:error=EOPNOTSUPP:when=3", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Injection);
#ifdef __SANITIZE_ADDRESS__
    // AddressSanitizer writes to a pipe of its own to probe memory, so the
    // n-th write is not the program's, and a failed one stops the sanitizer.
    if (c.Injection.rfind("write:", 0) == 0) continue;
#endif
    const std::string tree = FDir / "tree";
    Prepare(tree);
    const RunResult run = Histrel(tree, {c.Injection});
    EXPECT_EQ(run.ExitCode, c.Replaced ? 0 : 1);  // a failure is reported
    EXPECT_TRUE(AllowedPair(tree)) << ReadFile(tree + "/u.pas.cvs");
    EXPECT_EQ(ReadFile(tree + "/u.pas") == FNewSource, c.Replaced) << run.Out;
    EXPECT_FALSE(TemporaryLeft(tree));
  }
}

// A disk that is full at each 4 KB step of free space, from none to more
// than the rewrite needs: the temporary file or the log (cut mid-word where
// the room ends) cannot be written, and whatever came of it is undone.
// After a power loss, a source is its old or its new text and its log
// agrees: the new text and the entry are on the disk before the names are
// exchanged, and the directory once the run leaves it.
TEST_F(Interruptions, TheNewTextAndTheEntryAreOnTheDiskBeforeTheExchange) {
  const std::string tree = FDir / "tree";
  Prepare(tree);
  WriteFile(tree + "/v.pas", kSource);
  const std::string trace = FDir / "trace";
  const RunResult run = testsupport::Run(
      "/usr/bin/strace",
      {"-f", "-o", trace, "-e", "trace=fdatasync,fsync,renameat2", FProgram, "/USER=ann",
       "/FILE=" + SystemPath(tree) + "\\*.pas"},
      "", {"ASAN_OPTIONS=detect_leaks=0"});  // LeakSanitizer cannot work under a tracer
  ASSERT_EQ(run.ExitCode, 0) << run.Out;
  std::vector<std::string> calls;
  for (const std::string& line : testsupport::SplitLines(ReadFile(trace))) {
    for (const char* call : {"fdatasync(", "fsync(", "renameat2("}) {
      if (line.find(call) != std::string::npos) calls.emplace_back(call, std::strlen(call) - 1);
    }
  }
  const std::vector<std::string> expected = {"fdatasync", "fdatasync", "renameat2", "fdatasync",
                                             "fdatasync", "renameat2", "fsync"};
  EXPECT_EQ(calls, expected) << ReadFile(trace);
}

TEST_F(Interruptions, AFullDiskAtEachStepLeavesAnAllowedPair) {
  const std::string disk = FDir / "disk";
  fs::create_directories(disk);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=512k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs CAP_SYS_ADMIN)";
  }
  // An entry of about 12 KB: the log needs three pages, the source more.
  std::string note;
  while (note.size() < std::size_t{12} * 1024) note += "word" + std::to_string(note.size()) + " ";
  const std::string source = "unit U;\r\n{CVSLOG}\r\n{CVS* " + note + "}\r\nend.\r\n";
  const std::string oldLog = kOldLog;
  std::string newSource;
  std::string newLog;
  int replaced = 0;
  int failed = 0;
  for (int step = 0; step < 24; ++step) {
    SCOPED_TRACE(step);
    fs::remove_all(disk + "/tree");
    std::remove((disk + "/filler").c_str());
    WriteFile(disk + "/tree/u.pas", source);
    WriteFile(disk + "/tree/u.pas.cvs", oldLog);
    struct statvfs space {};
    ASSERT_EQ(statvfs(disk.c_str(), &space), 0);
    const std::size_t room = static_cast<std::size_t>(space.f_bavail) * space.f_bsize;
    const std::size_t wanted = static_cast<std::size_t>(step) * 4096;
    if (room > wanted) WriteFile(disk + "/filler", std::string(room - wanted, 'f'));
    const RunResult run = testsupport::Run(
        FProgram, {"/USER=ann", "/FILE=" + SystemPath(disk) + "\\tree\\u.pas", "/RECURSIVE-"});
    const std::string after = ReadFile(disk + "/tree/u.pas");
    const std::string log = ReadFile(disk + "/tree/u.pas.cvs");
    if (after == source) {
      ++failed;
      // Compared whole, reported short: the log may be long.
      EXPECT_TRUE(log == oldLog) << "a log of " << log.size() << " bytes; " << run.Out;
    } else {
      ++replaced;
      if (newSource.empty()) {
        newSource = after;
        newLog = log;
      }
      EXPECT_TRUE(after == newSource) << "a source of " << after.size() << " bytes";
      EXPECT_TRUE(log == newLog) << "a log of " << log.size() << " bytes";
      EXPECT_EQ(Count(log, note.substr(0, 40)), 1u);
    }
    EXPECT_FALSE(TemporaryLeft(disk + "/tree"));
  }
  umount(disk.c_str());
  // Both ends were reached: too little room, and enough.
  EXPECT_GE(failed, 3);
  EXPECT_GE(replaced, 1);
}

// Two runs at once over one tree never write an entry twice, nor lose one.
TEST_F(Interruptions, TwoRunsAtOnceWriteEachEntryOnce) {
  const std::string tree = FDir / "shared";
  for (int round = 0; round < 20; ++round) {
    const std::string note = "round" + std::to_string(round) + "note";
    for (int file = 0; file < 8; ++file) {
      const std::string name = tree + "/f" + std::to_string(file) + ".pas";
      // Large enough that each run spends a while on every file.
      std::string text =
          round == 0 ? "{CVSLOG}\r\n" + std::string(1 << 20, 'x') + "\r\n" : ReadFile(name);
      text.append("{CVS* ").append(note).append("}\r\n");
      WriteFile(name, text);
    }
    const std::vector<std::string> arguments{"/USER=ann", "/FILE=" + SystemPath(tree) + "\\*.pas"};
    const pid_t first = testsupport::Start(FProgram, arguments);
    const pid_t second = testsupport::Start(FProgram, arguments);
    waitpid(first, nullptr, 0);
    waitpid(second, nullptr, 0);
    for (int file = 0; file < 8; ++file) {
      const std::string name = tree + "/f" + std::to_string(file) + ".pas";
      ASSERT_EQ(Count(ReadFile(name + ".cvs"), note), 1u) << name << " round " << round;
      ASSERT_EQ(Count(ReadFile(name), "{CVS*"), 0u) << name << " round " << round;
    }
  }
}

}  // namespace
