// The settings stores (the INI file, the registry hive) as root finds them
// where another user (uid 65534) can write: a store is used only when it is
// a regular file of root, not writable by every user, of sound size, reached
// through no link that another user planted; anything else is refused for
// reading and for writing with a message that names the store and the
// reason, and nothing is written, followed or waited for.
#include "platform/posix/PosixStoreFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/Exception.h"
#include "platform/PrivateProfile.h"
#include "platform/Registry.h"
#include "tests/TestSupport.h"

namespace {

using testsupport::EntryStates;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
using Lines = std::vector<std::string>;

constexpr uid_t kOtherUser = 65534;
const char kParameters[] = "\\Software\\TAVIK\\Histrel\\PARAMETERS\\";

// One store behind one face: its name in messages, a text that holds
// USER=ann, and reading and writing USER through the service.
struct TStore {
  const char* Name;
  std::string Path;
  std::string Settings;
  std::function<std::string()> ReadUser;
  std::function<void(const std::string&)> WriteUser;
};

TStore IniStore(const std::string& APath) {
  return {"INI file", APath, "[PARAMETERS]\r\nUSER=ann\r\n",
          [APath] {
            const Lines entries = *platform::ReadIniSection(APath, "PARAMETERS");
            return entries.empty() ? std::string() : entries.front();
          },
          [APath](const std::string& AUser) {
            platform::WriteIniEntry(APath, "PARAMETERS", "USER", AUser);
          }};
}

TStore HiveStore(const std::string& APath) {
  return {
      "registry hive", APath,
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\TAVIK\\Histrel\\PARAMETERS]\r\n"
      "\"USER\"=\"ann\"\r\n",
      [] {
        std::string user;
        platform::ReadRegistryString(kParameters, "USER", user);
        return "USER=" + user;
      },
      [](const std::string& AUser) { platform::WriteRegistryString(kParameters, "USER", AUser); }};
}

// What a store's place holds; Refusal is the reason a store there is
// refused for, empty when it is used.
struct TPlace {
  const char* What;
  std::function<void(const TStore&, const TempDir&)> Make;
  std::string Refusal;
};

void Link(const std::string& ATarget, const std::string& APath, uid_t AOwner) {
  ASSERT_EQ(symlink(ATarget.c_str(), APath.c_str()), 0) << APath;
  ASSERT_EQ(lchown(APath.c_str(), AOwner, AOwner), 0) << APath;
}

void File(const std::string& APath, const std::string& AText, mode_t AMode, uid_t AOwner) {
  WriteFile(APath, AText);
  ASSERT_EQ(chmod(APath.c_str(), AMode), 0);
  ASSERT_EQ(chown(APath.c_str(), AOwner, AOwner), 0);
}

// Settings padded with a comment to ASize bytes.
std::string Padded(const std::string& ASettings, std::size_t ASize) {
  return ASettings + ";" + std::string(ASize - ASettings.size() - 3, 'x') + "\r\n";
}

const std::vector<TPlace>& Places() {
  static const std::vector<TPlace> places = {
      {"a file of root", [](const TStore& s, const TempDir&) { File(s.Path, s.Settings, 0644, 0); },
       ""},
      {"a file of root that its group may write",
       [](const TStore& s, const TempDir&) { File(s.Path, s.Settings, 0664, 0); }, ""},
      {"root's own link into a dotfiles folder",
       [](const TStore& s, const TempDir& d) {
         File(d / "dotfiles/store", s.Settings, 0600, 0);
         Link(d / "dotfiles/store", s.Path, 0);
       },
       ""},
      {"a file of exactly the size limit",
       [](const TStore& s, const TempDir&) {
         File(s.Path, Padded(s.Settings, platform::kStoreSizeLimit), 0644, 0);
       },
       ""},
      {"a link that another user planted to a file of root",
       [](const TStore& s, const TempDir& d) { Link(d / "victim", s.Path, kOtherUser); },
       "it is a link that another user planted"},
      {"a link that another user planted to /dev/zero",
       [](const TStore& s, const TempDir&) { Link("/dev/zero", s.Path, kOtherUser); },
       "it is a link that another user planted"},
      {"a link that another user planted to where nothing is yet",
       [](const TStore& s, const TempDir& d) { Link(d / "victim.d/new", s.Path, kOtherUser); },
       "it is a link that another user planted"},
      {"a link of another user to a file of that user",
       [](const TStore& s, const TempDir& d) {
         File(d / "other/store", s.Settings, 0644, kOtherUser);
         Link(d / "other/store", s.Path, kOtherUser);
       },
       "it belongs to another user"},
      {"a FIFO",
       [](const TStore& s, const TempDir&) { ASSERT_EQ(mkfifo(s.Path.c_str(), 0600), 0); },
       "it is no regular file"},
      {"root's own link to /dev/zero",
       [](const TStore& s, const TempDir&) { Link("/dev/zero", s.Path, 0); },
       "it is no regular file"},
      {"a file that every user may write",
       [](const TStore& s, const TempDir&) { File(s.Path, s.Settings, 0646, 0); },
       "it is writable by every user"},
      {"a file of another user",
       [](const TStore& s, const TempDir&) { File(s.Path, s.Settings, 0644, kOtherUser); },
       "it belongs to another user"},
      {"a file larger than the size limit",
       [](const TStore& s, const TempDir&) {
         File(s.Path, Padded(s.Settings, platform::kStoreSizeLimit + 1), 0644, 0);
       },
       "it is larger than 16 MB"},
  };
  return places;
}

// Reads USER, writes it, reads it again, each answer a line: the value, or
// the message of the failure.
Lines ReadWriteRead(const TStore& AStore) {
  Lines lines;
  const auto answer = [&](const std::function<std::string()>& AStep) {
    try {
      lines.push_back(AStep());
    } catch (const Exception& e) {
      lines.push_back(e.Message());
    }
  };
  answer(AStore.ReadUser);
  answer([&] {
    AStore.WriteUser("bob");
    return std::string("written");
  });
  answer(AStore.ReadUser);
  return lines;
}

class StoreRules : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: the files and links of another user";
    WriteFile(FDir / "victim", "root's own file\n");
    std::filesystem::create_directories(FDir / "victim.d");
  }

  // Makes each place in turn for the store and expects it used or refused.
  void ExpectTheRules(const std::function<TStore()>& AStore) {
    for (const TPlace& place : Places()) {
      SCOPED_TRACE(place.What);
      const TStore store = AStore();
      std::filesystem::create_directories(std::filesystem::path(store.Path).parent_path());
      place.Make(store, FDir);
      const auto before = EntryStates(FDir.Path());
      // In a child that is killed after a while: a FIFO must not hang the
      // reading, /dev/zero must not fill the memory.
      const Lines answers = testsupport::WithinSeconds(30, [&] { return ReadWriteRead(store); });
      if (place.Refusal.empty()) {
        EXPECT_EQ(answers, (Lines{"USER=ann", "written", "USER=bob"}));
      } else {
        const std::string refused =
            std::string(" the ") + store.Name + " " + store.Path + ": " + place.Refusal;
        EXPECT_EQ(answers, (Lines{"Cannot read" + refused, "Cannot write" + refused,
                                  "Cannot read" + refused}));
        EXPECT_TRUE(EntryStates(FDir.Path()) == before) << "a refused store changed something";
      }
      EXPECT_EQ(ReadFile(FDir / "victim"), "root's own file\n");
      std::filesystem::remove(store.Path);
      std::filesystem::remove_all(FDir / "dotfiles");
      std::filesystem::remove_all(FDir / "other");
    }
  }

  TempDir FDir;
};

TEST_F(StoreRules, TheIniFileIsUsedOnlyWhenItIsSound) {
  ExpectTheRules([&] { return IniStore(FDir / "bin/histrel.ini"); });
}

TEST_F(StoreRules, TheHiveIsUsedOnlyWhenItIsSound) {
  const testsupport::ScopedEnvironment config("XDG_CONFIG_HOME", (FDir / "config").c_str());
  ExpectTheRules([] { return HiveStore(platform::RegistryHivePath()); });
}

TEST_F(StoreRules, AnOwnLinkStaysALinkAndItsFileTakesTheWrite) {
  const TStore store = IniStore(FDir / "histrel.ini");
  File(FDir / "dotfiles/histrel.ini", store.Settings, 0600, 0);
  Link("dotfiles/histrel.ini", store.Path, 0);
  EXPECT_EQ(ReadWriteRead(store), (Lines{"USER=ann", "written", "USER=bob"}));
  EXPECT_TRUE(std::filesystem::is_symlink(store.Path));
  EXPECT_EQ(ReadFile(FDir / "dotfiles/histrel.ini"), "[PARAMETERS]\r\nUSER=bob\r\n");
  struct stat info {};
  ASSERT_EQ(stat((FDir / "dotfiles/histrel.ini").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u) << "the file keeps its mode";
}

}  // namespace
