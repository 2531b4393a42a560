// histrel run by root while another user (uid 65534) can write where its
// settings live: the folder of the registry hive and the folder beside the
// program that holds the INI file. Whatever that user puts in a store's
// place, a run, a preview and WRITEREG/WRITEINI end at once with the
// store's name and the reason on standard error and a failure status, and
// nothing is written, followed or waited for.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/HostileTreeFixture.h"

namespace {

using namespace hostiletree;  // NOLINT(google-build-using-namespace)

class HostileStores : public HostileTree {
 protected:
  void SetUp() override {
    HostileTree::SetUp();
    if (IsSkipped()) return;
    fs::create_directories(FHiveFolder);
    Own(FHiveFolder);
    Own(FDir / "bin");
    Plant("u.pas", kMarked);
  }

  // Runs the program as root, with the tree's source selected unless
  // AArguments write the settings.
  RunResult RunWith(std::vector<std::string> AArguments) {
    AArguments.insert(AArguments.begin(), {"30", FProgram});
    if (AArguments.back().rfind("/WRITE", 0) != 0) {
      AArguments.push_back("/FILE=" + SystemPath(FTree) + "\\u.pas");
    }
    return testsupport::Run("/usr/bin/timeout", AArguments);
  }

  const std::string FHiveFolder = FDir / "config/programswitch";
  const std::string FHive = FHiveFolder + "/HKEY_CURRENT_USER.reg";
  const std::string FIni = FDir / "bin/histrel.ini";
};

// A hive and an INI file that give USER.
std::string HiveOf(const std::string& AUser) {
  return "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\TAVIK\\Histrel\\PARAMETERS]\r\n"
         "\"USER\"=\"" +
         AUser + "\"\r\n";
}
std::string IniOf(const std::string& AUser) { return "[PARAMETERS]\r\nUSER=" + AUser + "\r\n"; }

TEST_F(HostileStores, AStorePlantedByAnotherUserStopsEveryRunAtOnce) {
  struct Case {
    const char* What;
    bool Hive;
    std::function<void(const std::string& APath)> Plant;
    const char* Reason;
  };
  const std::string victim = FVictim;
  const auto link = [](const std::string& ATarget) {
    return [ATarget](const std::string& APath) {
      ASSERT_EQ(symlink(ATarget.c_str(), APath.c_str()), 0);
      Own(APath);
    };
  };
  const auto fifo = [](const std::string& APath) {
    ASSERT_EQ(mkfifo(APath.c_str(), 0666), 0);
    Own(APath);
  };
  const auto file = [](const std::string& AText, bool AOwn, mode_t AMode) {
    return [AText, AOwn, AMode](const std::string& APath) {
      WriteFile(APath, AText);
      ASSERT_EQ(chmod(APath.c_str(), AMode), 0);
      if (AOwn) Own(APath);
    };
  };
  const std::vector<Case> cases = {
      {"hive: a link to root's file", true, link(victim), "it is a link that another user planted"},
      {"hive: a FIFO", true, fifo, "it is no regular file"},
      {"hive: a link to /dev/zero", true, link("/dev/zero"),
       "it is a link that another user planted"},
      {"hive: root's hive made writable by all", true, file(HiveOf("evil"), false, 0666),
       "it is writable by every user"},
      {"hive: a hive of the attacker", true, file(HiveOf("evil"), true, 0644),
       "it belongs to another user"},
      {"INI: a link to root's file", false, link(victim), "it is a link that another user planted"},
      {"INI: a FIFO", false, fifo, "it is no regular file"},
      {"INI: a link to /dev/zero", false, link("/dev/zero"),
       "it is a link that another user planted"},
      {"INI: an INI file of the attacker", false, file(IniOf("evil"), true, 0644),
       "it belongs to another user"},
  };
  struct Run {
    const char* Option;
    int Status;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const std::string path = c.Hive ? FHive : FIni;
    c.Plant(path);
    const auto before = Everything();
    const std::string message =
        c.Hive ? "Cannot read the registry hive " + FHive + ": " + c.Reason
               : "Cannot read the INI file " + SystemPath(FIni) + ": " + c.Reason;
    for (const Run& run : {Run{"/USER=ann", 1}, Run{"--check", 2},
                           Run{c.Hive ? "/WRITEREG=all" : "/WRITEINI=all", 1}}) {
      SCOPED_TRACE(run.Option);
      const RunResult result = RunWith({run.Option});
      EXPECT_EQ(result.ExitCode, run.Status);
      EXPECT_EQ(result.Out, "");
      EXPECT_EQ(result.Err, message + "\n");
    }
    ExpectUntouchedBut(before, {});
    fs::remove(path);
  }
}

TEST_F(HostileStores, RootsOwnStoresInTheAttackersFoldersAreUsed) {
  // Group-writable, as a umask of 002 makes them.
  WriteFile(FHive, HiveOf("ann"));
  ASSERT_EQ(chmod(FHive.c_str(), 0664), 0);
  const RunResult result = RunWith({});
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  EXPECT_EQ(result.Out, Shown("u.pas") + "\n");
  EXPECT_NE(ReadFile(FTree + "/u.pas").find("{ann "), std::string::npos);

  WriteFile(FIni, IniOf("ann"));
  ASSERT_EQ(chmod(FIni.c_str(), 0664), 0);
  const RunResult written = RunWith({"/WRITEINI=all"});
  EXPECT_EQ(written.ExitCode, 0) << written.Err;
  EXPECT_NE(ReadFile(FIni).find("REGOFF=-\r\n"), std::string::npos);
}

TEST_F(HostileStores, ALockHeldOnTheSettingsFolderIsWaitedForAWhileOnly) {
  WriteFile(FHive, HiveOf("ann"));
  const auto before = Everything();
  // The attacker holds a shared lock on the folder and keeps it.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    alarm(60);
    if (setgid(kAttacker) != 0 || setuid(kAttacker) != 0) _exit(2);
    const int folder = open(FHiveFolder.c_str(), O_RDONLY | O_DIRECTORY);
    if (folder < 0 || flock(folder, LOCK_SH) != 0 || write(ready[1], "r", 1) != 1) _exit(3);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  const RunResult result = RunWith({"/WRITEREG=all"});
  Finish(holder);
  EXPECT_EQ(result.ExitCode, 1);
  EXPECT_EQ(result.Err, "Cannot write the registry hive " + FHive +
                            ": another process has kept its folder locked for 10 seconds\n");
  ExpectUntouchedBut(before, {});
}

}  // namespace
