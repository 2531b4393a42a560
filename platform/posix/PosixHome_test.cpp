// The home folder that the registry hive lives in: $HOME when it is absolute,
// else the user's entry in /etc/passwd, read as a file.
#include "platform/posix/PosixHome.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <string>

#include "platform/Registry.h"
#include "tests/TestSupport.h"

namespace {

using platform::HomeInPasswd;
using testsupport::ScopedEnvironment;

TEST(PosixHome, TheEntryIsFoundByItsWholeUserId) {
  const std::string passwd =
      "root:x:0:0:root:/root:/bin/bash\n"
      "+::::::\n"
      "short:x:1000\n"
      "bob:x:10000:10000::/home/bob:/bin/sh\n"
      "ann:x:1000:1000:Ann,,,:/home/ann:/bin/bash\n"
      "dup:x:1000:1000::/home/dup:/bin/sh\n"
      "nohome:x:1001:1001:::/bin/sh\n"
      "last:x:1002:1002::/srv/last:";
  EXPECT_EQ(HomeInPasswd(passwd, 0), "/root");
  EXPECT_EQ(HomeInPasswd(passwd, 1000), "/home/ann");
  EXPECT_EQ(HomeInPasswd(passwd, 10000), "/home/bob");
  EXPECT_EQ(HomeInPasswd(passwd, 1001), "");
  EXPECT_EQ(HomeInPasswd(passwd, 1002), "/srv/last");
  EXPECT_EQ(HomeInPasswd(passwd, 100), "");
  EXPECT_EQ(HomeInPasswd("", 0), "");
}

// A login sets HOME; a service or `env -i` may leave it unset, and a
// relative HOME would put the hive below whatever folder the run starts in.
TEST(PosixHome, AHomeThatIsNotAbsoluteGivesWayToThePasswdEntry) {
  // A user whom only a directory service knows has no line to fall back on.
  if (platform::HomeInPasswd(testsupport::ReadFile("/etc/passwd"), getuid()).empty()) {
    GTEST_SKIP() << "the user running the tests has no line in /etc/passwd";
  }
  const passwd* entry = getpwuid(getuid());
  ASSERT_NE(entry, nullptr);
  const std::string hive =
      std::string(entry->pw_dir) + "/.config/programswitch/HKEY_CURRENT_USER.reg";
  const ScopedEnvironment config("XDG_CONFIG_HOME", nullptr);
  {
    const ScopedEnvironment home("HOME", "home/ann");
    EXPECT_EQ(platform::RegistryHivePath(), hive);
  }
  {
    const ScopedEnvironment home("HOME", nullptr);
    EXPECT_EQ(platform::RegistryHivePath(), hive);
  }
  {
    const ScopedEnvironment home("HOME", "/home/ann");
    EXPECT_EQ(platform::RegistryHivePath(),
              "/home/ann/.config/programswitch/HKEY_CURRENT_USER.reg");
  }
}

}  // namespace
