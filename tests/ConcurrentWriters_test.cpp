// Two hundred WRITEREG and WRITEINI runs in parallel processes on one hive
// and one INI file: nothing is lost and both files stay readable.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/PrivateProfile.h"
#include "platform/Registry.h"
#include "tests/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(ConcurrentWriters, LoseNothingInTheHiveOrTheIniFile) {
  SKIP_UNDER_WINE("the Windows build keeps its settings in the registry, not in the hive file");
  TempDir dir;
  const std::string program = testsupport::PrivateProgram(dir);
  const testsupport::ScopedEnvironment config("XDG_CONFIG_HOME", (dir / "config").c_str());
  // Entries of its own in the INI file that every writer must keep.
  std::string ini = "; shared settings\r\n[PARAMETERS]\r\n";
  for (int i = 0; i < 50; ++i) ini += "OWN" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
  WriteFile(dir / "bin/histrel.ini", ini + "[MACROS]\r\nM=1\r\n");

  constexpr int kRuns = 200;
  constexpr int kParallel = 25;
  std::vector<pid_t> running;
  int failed = 0;
  auto reap = [&] {
    int status = 0;
    waitpid(running.front(), &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
    running.erase(running.begin());
  };
  for (int i = 0; i < kRuns; ++i) {
    if (static_cast<int>(running.size()) == kParallel) reap();
    if (i % 2 == 0) {
      // Each registry writer has a key of its own, so a lost update shows.
      running.push_back(testsupport::Start(
          program, {"/WRITEREG=all", "/REGPATH=\\Software\\Run" + std::to_string(i)}));
    } else {
      running.push_back(testsupport::Start(program, {"/WRITEINI=all"}));
    }
  }
  while (!running.empty()) reap();
  EXPECT_EQ(failed, 0);

  std::string value;
  for (int i = 0; i < kRuns; i += 2) {
    const std::string key = "\\Software\\Run" + std::to_string(i) + "\\PARAMETERS\\";
    ASSERT_TRUE(platform::ReadRegistryString(key, "SHOWHIDDEN", value)) << key;
    EXPECT_EQ(value, "off");
    ASSERT_TRUE(platform::ReadRegistryString(key, "REGOFF", value)) << key;
    EXPECT_EQ(value, "-");
  }
  const std::vector<std::string> entries =
      *platform::ReadIniSection(dir / "bin/histrel.ini", "PARAMETERS");
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(std::count(entries.begin(), entries.end(),
                         "OWN" + std::to_string(i) + "=" + std::to_string(i)),
              1)
        << i;
  }
  for (const char* written : {"REGOFF=-", "SHOWHIDDEN=off", "WRITEINI=no default value"}) {
    EXPECT_EQ(std::count(entries.begin(), entries.end(), written), 1) << written;
  }
  EXPECT_EQ(*platform::ReadIniSection(dir / "bin/histrel.ini", "MACROS"),
            std::vector<std::string>{"M=1"});
  EXPECT_EQ(ReadFile(dir / "bin/histrel.ini").rfind("; shared settings\r\n", 0), 0u);
}

}  // namespace
