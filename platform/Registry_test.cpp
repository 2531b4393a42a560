#include "platform/Registry.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/Exception.h"
#include "tests/TestSupport.h"
#include "text/Ansi.h"
#include "text/RegistryHive.h"

namespace {

using platform::ReadRegistryString;
using platform::WriteRegistryString;
using testsupport::ReadFile;
using testsupport::ScopedEnvironment;
using testsupport::TempDir;
using testsupport::WriteFile;
using text::RegistryHive;
using Lookup = RegistryHive::Lookup;

const char kParameters[] = "\\Software\\TAVIK\\Histrel\\PARAMETERS\\";

// A private hive: XDG_CONFIG_HOME points into a fresh directory.
class HiveTest : public ::testing::Test {
 protected:
  HiveTest() : FConfig(FDir / "config"), FXdg("XDG_CONFIG_HOME", FConfig.c_str()) {}

  std::string HivePath() const { return FConfig + "/programswitch/HKEY_CURRENT_USER.reg"; }

  TempDir FDir;
  std::string FConfig;
  ScopedEnvironment FXdg;
};

// A registry export as regedit writes it on Windows (REGEDIT4, CR LF), with a
// key of another hive, typed values, bytes over two lines and escapes.
const std::string kExport =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVIK\\Histrel]\r\n"
    "\"InstallDir\"=\"C:\\\\Program Files\\\\TAVIK\"\r\n"
    "\"USER\"=\"machine\"\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\TAVIK]\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\TAVIK\\Histrel\\PARAMETERS]\r\n"
    "@=\"default text\"\r\n"
    "\"USER\"=\"alice\"\r\n"
    "\"FILE\"=\"c:\\\\src\\\\*.pas\"\r\n"
    "\"INSERT\"=\"say \\\"CVSLOG\\\"\"\r\n"
    "\"Spaced\"=\"  two  \"\r\n"
    "\"Count\"=dword:0000002a\r\n"
    "\"Blob\"=hex:01,02,ff\r\n"
    "\"Path\"=hex(2):25,53,52,43,25,5c,62,69,6e,00\r\n"
    "\"List\"=hex(7):6f,6e,65,00,74,77,6f,00,74,68,72,65,65,00,66,6f,75,72,00,66,69,\\\r\n"
    "  76,65,00,73,69,78,00,00\r\n"
    "\"Long\"=hex(2):63,3a,5c,61,20,76,65,72,79,20,6c,6f,6e,67,20,70,61,74,68,20,74,\\\r\n"
    "  68,61,74,20,67,6f,65,73,20,6f,6e,00\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\TAVIK\\Histrel\\MACROS]\r\n"
    "\"SRC\"=\"c:\\\\src\"\r\n"
    "\r\n";

struct FindCase {
  std::string key;
  std::string name;
  Lookup result;
  std::string text;
};

TEST(RegistryHive, ReadsAWindowsExport) {
  const RegistryHive hive(kExport);
  const std::vector<FindCase> cases = {
      {kParameters, "", Lookup::kText, "default text"},
      {kParameters, "user", Lookup::kText, "alice"},
      {kParameters, "FILE", Lookup::kText, "c:\\src\\*.pas"},
      {kParameters, "INSERT", Lookup::kText, "say \"CVSLOG\""},
      {kParameters, "Spaced", Lookup::kText, "  two  "},
      {kParameters, "Path", Lookup::kText, "%SRC%\\bin"},
      {kParameters, "LONG", Lookup::kText, "c:\\a very long path that goes on"},
      {kParameters, "Count", Lookup::kNotText, ""},
      {kParameters, "Blob", Lookup::kNotText, ""},
      {kParameters, "List", Lookup::kNotText, ""},
      {kParameters, "Missing", Lookup::kNoValue, ""},
      {"\\Software\\TAVIK\\Histrel\\MACROS", "SRC", Lookup::kText, "c:\\src"},
      // Doubled and missing backslashes at either end are one separator.
      {"\\\\Software\\TAVIK\\\\Histrel\\PARAMETERS\\\\", "USER", Lookup::kText, "alice"},
      {"software\\tavik\\histrel\\parameters", "USER", Lookup::kText, "alice"},
      // Parents exist with or without a key line of their own.
      {"\\Software\\TAVIK\\", "USER", Lookup::kNoValue, ""},
      {"\\Software\\TAVIK\\Histrel\\", "USER", Lookup::kNoValue, ""},
      {"\\Software\\", "", Lookup::kNoValue, ""},
      {"\\", "", Lookup::kNoValue, ""},
      // The machine's keys are no keys of the current user.
      {"\\SOFTWARE\\TAVIK\\Histrel\\", "InstallDir", Lookup::kNoValue, ""},
      {"\\Software\\TAVIK\\Hist", "", Lookup::kNoKey, ""},
      {"\\Software\\TAVIK\\Histrel\\PARAMETERS\\USER", "", Lookup::kNoKey, ""},
      {"\\Software\\Other\\", "USER", Lookup::kNoKey, ""},
  };
  for (const FindCase& c : cases) {
    std::string text = "untouched";
    EXPECT_EQ(hive.Find(c.key, c.name, text), c.result) << c.key << " " << c.name;
    if (c.result == Lookup::kText) {
      EXPECT_EQ(text, c.text) << c.key << " " << c.name;
    } else {
      EXPECT_EQ(text, "untouched") << c.key << " " << c.name;
    }
  }
}

// Mend: a hive saved with a UTF-8 byte order mark keeps its first key.
TEST(RegistryHive, ReadsPastAByteOrderMark) {
  const RegistryHive hive("\xEF\xBB\xBF[HKEY_CURRENT_USER\\Software\\X]\r\n\"A\"=\"1\"\r\n");
  std::string text;
  EXPECT_EQ(hive.Find("\\Software\\X", "A", text), Lookup::kText);
  EXPECT_EQ(text, "1");
}

TEST(RegistryHive, ListsEveryKeyAndValueAsWritten) {
  const std::vector<RegistryHive::Key> keys = RegistryHive(kExport).Keys();
  ASSERT_EQ(keys.size(), 4u);
  EXPECT_EQ(keys[0].path, "HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVIK\\Histrel");
  EXPECT_EQ(keys[1].values.size(), 0u);
  ASSERT_EQ(keys[2].values.size(), 10u);
  EXPECT_EQ(keys[2].values[0].name, "");
  EXPECT_EQ(keys[2].values[3].name, "INSERT");
  EXPECT_EQ(keys[2].values[3].data, "\"say \\\"CVSLOG\\\"\"");
  EXPECT_EQ(keys[2].values[8].data,
            "hex(7):6f,6e,65,00,74,77,6f,00,74,68,72,65,65,00,66,6f,75,72,00,66,69,\\\r\n"
            "  76,65,00,73,69,78,00,00");
  EXPECT_EQ(keys[3].values[0].name, "SRC");
}

struct RobustCase {
  const char* what;
  std::string text;
  Lookup result;
  std::string value;
};

// Each text is looked up for value X of key HKEY_CURRENT_USER\A.
TEST(RegistryHive, TakesWhatItCanFromDamagedText) {
  const std::vector<RobustCase> cases = {
      {"no header, LF line ends", "[HKEY_CURRENT_USER\\A]\n\"X\"=\"1\"\n", Lookup::kText, "1"},
      {"no final line end", "[HKEY_CURRENT_USER\\A]\n\"X\"=\"1\"", Lookup::kText, "1"},
      {"hive name in any case", "[hkey_current_user\\a]\n\"x\"=\"1\"\n", Lookup::kText, "1"},
      {"key line without ]", "[HKEY_CURRENT_USER\\A\n\"X\"=\"1\"\n", Lookup::kText, "1"},
      {"doubled backslashes in the key line", "[HKEY_CURRENT_USER\\\\A\\]\n\"X\"=\"1\"\n",
       Lookup::kText, "1"},
      {"blanks around =", "[HKEY_CURRENT_USER\\A]\n  \"X\" =\t\"1\"\n", Lookup::kText, "1"},
      {"unterminated text runs to the line end", "[HKEY_CURRENT_USER\\A]\n\"X\"=\"ab c \n",
       Lookup::kText, "ab c "},
      {"an escaped quote at the end leaves it unterminated",
       "[HKEY_CURRENT_USER\\A]\n\"X\"=\"a\\\"\n", Lookup::kText, "a\""},
      {"unknown escapes keep their backslash", "[HKEY_CURRENT_USER\\A]\n\"X\"=\"a\\qb\\\\c\"\n",
       Lookup::kText, "a\\qb\\c"},
      {"text after the closing quote is ignored", "[HKEY_CURRENT_USER\\A]\n\"X\"=\"a\" junk\n",
       Lookup::kText, "a"},
      {"binary bytes", std::string("[HKEY_CURRENT_USER\\A]\n\"X\"=\"\xFF\x00\x1A\"\n", 31),
       Lookup::kText, std::string("\xFF\x00\x1A", 3)},
      {"hex(2) without NUL", "[HKEY_CURRENT_USER\\A]\n\"X\"=hex(2):41,42\n", Lookup::kText, "AB"},
      {"hex(2) stops at a bad byte", "[HKEY_CURRENT_USER\\A]\n\"X\"=hex(2):41,zz,42\n",
       Lookup::kText, "A"},
      {"a run of digits too long for a byte ends the data",
       "[HKEY_CURRENT_USER\\A]\n\"X\"=hex(2):41,4222222222222222222222,43\n", Lookup::kText, "A"},
      {"hex(1) is a text stored as bytes", "[HKEY_CURRENT_USER\\A]\n\"X\"=hex(1):41,0d,0a,00\n",
       Lookup::kText, "A\r\n"},
      {"bytes over lines that end in \\",
       "[HKEY_CURRENT_USER\\A]\r\n\"X\"=hex(2):41,\\\r\n  42,\\\r\n  43,00\r\n", Lookup::kText,
       "ABC"},
      {"a key line ends a broken continuation",
       "[HKEY_CURRENT_USER\\B]\n\"Y\"=hex:01,\\\n[HKEY_CURRENT_USER\\A]\n\"X\"=\"1\"\n",
       Lookup::kText, "1"},
      {"unknown type", "[HKEY_CURRENT_USER\\A]\n\"X\"=str:abc\n", Lookup::kNotText, ""},
      {"hex(N) of another type", "[HKEY_CURRENT_USER\\A]\n\"X\"=hex(b):01,00\n", Lookup::kNotText,
       ""},
      {"a broken hex type", "[HKEY_CURRENT_USER\\A]\n\"X\"=hex(2:41\n", Lookup::kNotText, ""},
      {"nothing after =", "[HKEY_CURRENT_USER\\A]\n\"X\"=\n", Lookup::kNotText, ""},
      {"an unterminated name is no value", "[HKEY_CURRENT_USER\\A]\n\"X=\"1\"\n", Lookup::kNoValue,
       ""},
      {"a comment is no value", "[HKEY_CURRENT_USER\\A]\n;\"X\"=\"1\"\n", Lookup::kNoValue, ""},
      {"values before any key belong to none", "\"X\"=\"1\"\n[HKEY_CURRENT_USER\\A]\n",
       Lookup::kNoValue, ""},
      {"the last line of a value counts", "[HKEY_CURRENT_USER\\A]\n\"X\"=\"1\"\n\"x\"=\"2\"\n",
       Lookup::kText, "2"},
      {"also across key lines of the same key",
       "[HKEY_CURRENT_USER\\A]\n\"X\"=\"1\"\n[HKEY_CURRENT_USER\\B]\n[HKEY_CURRENT_USER\\A]\n"
       "\"Y\"=\"2\"\n[HKEY_CURRENT_USER\\a]\n\"X\"=\"3\"\n",
       Lookup::kText, "3"},
      {"=- removes a value", "[HKEY_CURRENT_USER\\A]\n\"X\"=\"1\"\n\"X\"=-\n", Lookup::kNoValue,
       ""},
      {"a removed key names no key", "[-HKEY_CURRENT_USER\\A]\n\"X\"=\"1\"\n", Lookup::kNoKey, ""},
      {"another hive's key", "[HKEY_USERS\\A]\n\"X\"=\"1\"\n", Lookup::kNoKey, ""},
      {"empty text", "", Lookup::kNoKey, ""},
      {"a Unicode header is just an unknown line",
       "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"X\"=\"1\"\n", Lookup::kText,
       "1"},
  };
  for (const RobustCase& c : cases) {
    std::string text;
    EXPECT_EQ(RegistryHive(c.text).Find("\\A\\", "X", text), c.result) << c.what;
    if (c.result == Lookup::kText) {
      EXPECT_EQ(text, c.value) << c.what;
    }
  }
}

TEST(RegistryHive, ChangesOnlyTheLinesOfTheValueItSets) {
  struct Change {
    std::string key;
    std::string name;
    std::string value;
    std::string oldLines;  // replaced in kExport
    std::string newLines;
  };
  const std::vector<Change> changes = {
      {kParameters, "user", "bob", "\"USER\"=\"alice\"", "\"user\"=\"bob\""},
      {kParameters, "", "new default", "@=\"default text\"", "@=\"new default\""},
      {kParameters, "Path", "c:\\x", "\"Path\"=hex(2):25,53,52,43,25,5c,62,69,6e,00",
       "\"Path\"=\"c:\\\\x\""},
      {"\\\\Software\\TAVIK\\Histrel\\PARAMETERS\\\\", "List", "a\"b",
       "\"List\"=hex(7):6f,6e,65,00,74,77,6f,00,74,68,72,65,65,00,66,6f,75,72,00,66,69,\\\r\n"
       "  76,65,00,73,69,78,00,00",
       "\"List\"=\"a\\\"b\""},
      // A new value goes after the key's last value, continuation lines included.
      {kParameters, "NEW", "1", "6f,6e,00\r\n", "6f,6e,00\r\n\"NEW\"=\"1\"\r\n"},
      {"\\Software\\TAVIK", "A", "1", "[HKEY_CURRENT_USER\\Software\\TAVIK]\r\n",
       "[HKEY_CURRENT_USER\\Software\\TAVIK]\r\n\"A\"=\"1\"\r\n"},
      // The machine's key is not the user's: the user's key gets a key line.
      {"\\SOFTWARE\\TAVIK\\Histrel", "USER", "me", "\"c:\\\\src\"\r\n\r\n",
       "\"c:\\\\src\"\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\TAVIK\\Histrel]\r\n\"USER\"=\"me\"\r\n"
       "\r\n"},
  };
  for (const Change& c : changes) {
    RegistryHive hive(kExport);
    hive.SetString(c.key, c.name, c.value);
    std::string expected = kExport;
    const std::size_t at = expected.rfind(c.oldLines);
    ASSERT_NE(at, std::string::npos) << c.oldLines;
    expected.replace(at, c.oldLines.size(), c.newLines);
    EXPECT_EQ(hive.Text(), expected) << c.name;
    std::string text;
    EXPECT_EQ(hive.Find(c.key, c.name, text), Lookup::kText);
    EXPECT_EQ(text, c.value);
  }
}

TEST(RegistryHive, AddsLinesWithoutChangingWhatTheLinesBeforeMean) {
  struct Case {
    std::string before;
    std::string after;
  };
  const std::vector<Case> cases = {
      {"[HKEY_CURRENT_USER\\A]\n\"B\"=hex:01\n\"Y\"=hex:41,\\\n",
       "[HKEY_CURRENT_USER\\A]\n\"B\"=hex:01\n\"X\"=\"1\"\n\"Y\"=hex:41,\\\n"},
      {"[HKEY_CURRENT_USER\\A]\n\"Y\"=hex:41,\\\n[HKEY_CURRENT_USER\\C]\n",
       "[HKEY_CURRENT_USER\\A]\n\"X\"=\"1\"\n\"Y\"=hex:41,\\\n[HKEY_CURRENT_USER\\C]\n"},
      // A CR that ends the text becomes a CR LF; the key line stays "Z".
      {"[HKEY_CURRENT_USER\\Z]\r\"X\"=\"0\"\r",
       "[HKEY_CURRENT_USER\\Z]\r\"X\"=\"0\"\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"X\"=\"1\"\r\n\r\n"},
      // Finished bytes over two lines: the new value follows them.
      {"[HKEY_CURRENT_USER\\A]\n\"Y\"=hex:41,\\\n  42\n",
       "[HKEY_CURRENT_USER\\A]\n\"Y\"=hex:41,\\\n  42\n\"X\"=\"1\"\n"},
  };
  for (const Case& c : cases) {
    RegistryHive hive(c.before);
    hive.SetString("\\A", "X", "1");
    EXPECT_EQ(hive.Text(), c.after);
  }
}

TEST(RegistryHive, WritesTextsThatQuotesCannotHoldAsBytes) {
  RegistryHive hive;
  const std::string multiLine = "line one\r\nline two\nand a long third line to wrap \\ \"";
  hive.SetString("\\A", "X", multiLine);
  hive.SetString("\\A", "Y", std::string("cut\0here", 8));
  std::string text;
  EXPECT_EQ(hive.Find("\\A", "X", text), Lookup::kText);
  EXPECT_EQ(text, multiLine);
  EXPECT_EQ(hive.Find("\\A", "Y", text), Lookup::kText);
  EXPECT_EQ(text, "cut");
  EXPECT_EQ(hive.Text().substr(0, 35), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n");
  EXPECT_NE(hive.Text().find("\"X\"=hex(1):6c,69,6e,65,20,6f,6e,65,0d,0a,"), std::string::npos);
  std::size_t lineStart = 0;
  for (std::size_t lf = hive.Text().find('\n'); lf != std::string::npos;
       lf = hive.Text().find('\n', lineStart = lf + 1)) {
    EXPECT_LE(lf - lineStart, 80u) << "bytes are wrapped as regedit wraps them";
  }
  EXPECT_THROW(hive.SetString("\\A\nB", "X", "1"), Exception);
  EXPECT_THROW(hive.SetString("\\A", "X\rY", "1"), Exception);
}

// Random hive-like texts: setting one value changes that value only, and it
// reads back as written.
TEST(RegistryHive, KeepsEveryOtherValueOfRandomTexts) {
  const std::vector<std::string> pieces = {"REGEDIT4",
                                           "[HKEY_CURRENT_USER\\A]",
                                           "[HKEY_CURRENT_USER\\a\\B]",
                                           "[HKEY_LOCAL_MACHINE\\A]",
                                           "[-HKEY_CURRENT_USER\\A]",
                                           "[",
                                           "]",
                                           "\"X\"=\"1\"",
                                           "\"x\"=dword:1",
                                           "\"Y\"=hex(2):41,\\",
                                           "  42,00",
                                           "@=\"d\"",
                                           "\"X\"=-",
                                           "\"",
                                           "\\",
                                           "=",
                                           ";c",
                                           "\r\n",
                                           "\n",
                                           "\n",
                                           "\r",
                                           " ",
                                           "\xFF",
                                           std::string(1, '\0')};
  const std::vector<std::string> values = {"v", "", "a\\b\"c", "two\r\nlines", " pad "};
  std::mt19937 random(11);
  for (int round = 0; round < 400; ++round) {
    std::string original;
    const int count = static_cast<int>(random() % 24);
    for (int i = 0; i < count; ++i) original += pieces[random() % pieces.size()];
    const RegistryHive before(original);
    RegistryHive after(original);
    const std::string key = random() % 2 ? "\\A" : "\\A\\b";
    const std::string name = random() % 3 ? "X" : "";
    const std::string& value = values[random() % values.size()];
    after.SetString(key, name, value);

    std::string text;
    ASSERT_EQ(after.Find(key, name, text), Lookup::kText) << original;
    EXPECT_EQ(text, value) << original;
    // Every other value of the current user reads as before.
    for (const std::string probeKey : {"\\A", "\\a\\B", "\\A\\B\\C"}) {
      for (const std::string probeName : {"X", "Y", ""}) {
        const bool sameKey = text::AnsiSameText(probeKey, key == "\\A" ? "\\A" : "\\A\\B");
        if (sameKey && probeName == name) continue;
        std::string was;
        std::string now;
        const Lookup old = before.Find(probeKey, probeName, was);
        const Lookup found = after.Find(probeKey, probeName, now);
        // The key set and its parents exist now.
        const bool parent = probeKey == "\\A";
        if ((sameKey || parent) && old == Lookup::kNoKey) {
          EXPECT_EQ(found, Lookup::kNoValue) << original;
          continue;
        }
        EXPECT_EQ(old, found) << probeKey << " " << probeName << " in " << original;
        EXPECT_EQ(was, now) << probeKey << " " << probeName << " in " << original;
      }
    }
    // Keys of other hives keep their values exactly.
    std::vector<RegistryHive::Key> othersBefore;
    std::vector<RegistryHive::Key> othersAfter;
    for (const auto& k : before.Keys()) {
      if (k.path.rfind("HKEY_LOCAL_MACHINE", 0) == 0) othersBefore.push_back(k);
    }
    for (const auto& k : after.Keys()) {
      if (k.path.rfind("HKEY_LOCAL_MACHINE", 0) == 0) othersAfter.push_back(k);
    }
    ASSERT_EQ(othersBefore.size(), othersAfter.size()) << original;
    for (std::size_t i = 0; i < othersBefore.size(); ++i) {
      ASSERT_EQ(othersBefore[i].values.size(), othersAfter[i].values.size()) << original;
      for (std::size_t j = 0; j < othersBefore[i].values.size(); ++j) {
        EXPECT_EQ(othersBefore[i].values[j].data, othersAfter[i].values[j].data) << original;
      }
    }
  }
}

// How long parsing takes is measured by bench/run.sh (W4), not here.
TEST(RegistryHive, FindsTheFirstAndTheLastValueOfALargeKey) {
  std::string text =
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\TAVIK\\Histrel\\PARAMETERS]\r\n";
  for (int i = 0; i < 20000; ++i) {
    text += "\"VALUE" + std::to_string(i) + "\"=\"text " + std::to_string(i) + "\"\r\n";
  }
  const RegistryHive hive(text);
  std::string value;
  EXPECT_EQ(hive.Find(kParameters, "value0", value), Lookup::kText);
  EXPECT_EQ(value, "text 0");
  EXPECT_EQ(hive.Find(kParameters, "value19999", value), Lookup::kText);
  EXPECT_EQ(value, "text 19999");
  EXPECT_EQ(hive.Find(kParameters, "value20000", value), Lookup::kNoValue);
}

TEST_F(HiveTest, LivesInTheXdgConfigFolder) {
  EXPECT_EQ(platform::RegistryHivePath(), HivePath());
  {
    ScopedEnvironment home("HOME", "/home/ann");
    ScopedEnvironment unset("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(platform::RegistryHivePath(),
              "/home/ann/.config/programswitch/HKEY_CURRENT_USER.reg");
    ScopedEnvironment empty("XDG_CONFIG_HOME", "");
    EXPECT_EQ(platform::RegistryHivePath(),
              "/home/ann/.config/programswitch/HKEY_CURRENT_USER.reg");
    ScopedEnvironment relative("XDG_CONFIG_HOME", "cfg");
    EXPECT_EQ(platform::RegistryHivePath(),
              "/home/ann/.config/programswitch/HKEY_CURRENT_USER.reg");
    ScopedEnvironment slash("XDG_CONFIG_HOME", "/cfg/");
    EXPECT_EQ(platform::RegistryHivePath(), "/cfg/programswitch/HKEY_CURRENT_USER.reg");
  }
  EXPECT_EQ(platform::RegistryHivePath(), HivePath());
}

TEST_F(HiveTest, OpeningAKeyNeverCreatesAnything) {
  std::string value = "untouched";
  EXPECT_FALSE(ReadRegistryString(kParameters, "USER", value));
  EXPECT_EQ(value, "untouched");
  EXPECT_FALSE(testsupport::FileExists(FConfig));
  WriteFile(HivePath(), kExport);
  EXPECT_FALSE(ReadRegistryString("\\Software\\Other\\", "USER", value));
  EXPECT_EQ(value, "untouched");
  EXPECT_TRUE(ReadRegistryString(kParameters, "missing", value));
  EXPECT_EQ(value, "");
  EXPECT_TRUE(ReadRegistryString(kParameters, "Spaced", value));
  EXPECT_EQ(value, "  two  ");
  EXPECT_EQ(ReadFile(HivePath()), kExport);
}

TEST_F(HiveTest, ReadingANonTextValueFailsNamingIt) {
  WriteFile(HivePath(), kExport);
  for (const char* name : {"Count", "Blob", "List"}) {
    std::string value;
    try {
      ReadRegistryString(kParameters, name, value);
      ADD_FAILURE() << name << " read as text";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), std::string("The registry value \"") + name +
                                 "\" of HKEY_CURRENT_USER\\Software\\TAVIK\\Histrel\\PARAMETERS"
                                 " is not a text value");
    }
  }
}

TEST_F(HiveTest, ANewHiveHasTheExportLayout) {
  WriteRegistryString(kParameters, "USER", "a\\b \"c\"");
  WriteRegistryString(kParameters, "FILE", "x");
  WriteRegistryString("\\Software\\TAVIK\\Histrel\\MACROS\\", "", "d");
  EXPECT_EQ(ReadFile(HivePath()),
            "REGEDIT4\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\Software\\TAVIK\\Histrel\\PARAMETERS]\r\n"
            "\"USER\"=\"a\\\\b \\\"c\\\"\"\r\n"
            "\"FILE\"=\"x\"\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\Software\\TAVIK\\Histrel\\MACROS]\r\n"
            "@=\"d\"\r\n"
            "\r\n");
  std::string value;
  EXPECT_TRUE(ReadRegistryString(kParameters, "user", value));
  EXPECT_EQ(value, "a\\b \"c\"");
  // The folder holds the hive alone: no lock file, no temporary file.
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(FConfig + "/programswitch")) {
    names.insert(entry.path().filename());
  }
  EXPECT_EQ(names, std::set<std::string>{"HKEY_CURRENT_USER.reg"});
}

TEST_F(HiveTest, AnExistingHiveKeepsItsLineEndsAndEverythingElse) {
  const std::string unix = "; by hand\n[HKEY_CURRENT_USER\\A]\n\"X\"=dword:1\n";
  WriteFile(HivePath(), unix);
  WriteRegistryString("\\\\A\\\\", "Y", "2");
  WriteRegistryString("\\B", "Z", "3");
  EXPECT_EQ(ReadFile(HivePath()), unix + "\"Y\"=\"2\"\n\n[HKEY_CURRENT_USER\\B]\n\"Z\"=\"3\"\n\n");

  WriteFile(HivePath(), kExport);
  WriteRegistryString(kParameters, "USER", "bob");
  std::string expected = kExport;
  expected.replace(expected.find("\"alice\""), 7, "\"bob\"");
  EXPECT_EQ(ReadFile(HivePath()), expected);
}

std::string WriteFailure(const std::string& key, const std::string& name) {
  try {
    WriteRegistryString(key, name, "1");
  } catch (const Exception& e) {
    return e.Message();
  }
  return "no failure";
}

TEST_F(HiveTest, WriteFailuresNameTheHiveAndTheReason) {
  WriteFile(FConfig, "a file where the folder should be");
  EXPECT_EQ(WriteFailure(kParameters, "USER"),
            "Cannot write the registry hive " + HivePath() + ": Not a directory");
  std::filesystem::remove(FConfig);

  WriteFile(HivePath(), kExport);
  chmod(HivePath().c_str(), 0444);
  EXPECT_EQ(WriteFailure(kParameters, "USER"),
            "Cannot write the registry hive " + HivePath() + ": Permission denied");
  EXPECT_EQ(ReadFile(HivePath()), kExport);
  chmod(HivePath().c_str(), 0644);

  EXPECT_EQ(WriteFailure(kParameters, "A\nB"),
            "Cannot write the registry hive " + HivePath() +
                ": a registry key path or value name cannot hold a line break");
  EXPECT_EQ(ReadFile(HivePath()), kExport);
}

TEST_F(HiveTest, ConcurrentWritersLoseNothing) {
  constexpr int kWriters = 20;
  // Two keys, so that writers both create keys and add values.
  EXPECT_EQ(testsupport::RunInChildren(
                kWriters,
                [](int i) {
                  const std::string key = "\\Software\\TAVIK\\Histrel\\K" + std::to_string(i % 2);
                  WriteRegistryString(key, "W" + std::to_string(i), std::to_string(i));
                  WriteRegistryString(kParameters, "W" + std::to_string(i), std::to_string(i));
                }),
            0);
  for (int i = 0; i < kWriters; ++i) {
    const std::string name = "W" + std::to_string(i);
    const std::string key = "\\Software\\TAVIK\\Histrel\\K" + std::to_string(i % 2);
    std::string value;
    EXPECT_TRUE(ReadRegistryString(kParameters, name, value));
    EXPECT_EQ(value, std::to_string(i));
    EXPECT_TRUE(ReadRegistryString(key, name, value));
    EXPECT_EQ(value, std::to_string(i));
  }
  const std::vector<RegistryHive::Key> keys = RegistryHive(ReadFile(HivePath())).Keys();
  ASSERT_EQ(keys.size(), 3u);  // no key line written twice
  EXPECT_EQ(keys[0].values.size() + keys[1].values.size() + keys[2].values.size(), 2u * kWriters);
}

}  // namespace
