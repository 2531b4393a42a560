// The INI file and the registry hive as sources of switches, the standard
// switches that move or turn them off, and the writing of all switches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Bibliothek/Schalter/uProgramSwitch.h"
#include "app/uHistrelEnglishConstant.h"
#include "base/Exception.h"
#include "platform/PrivateProfile.h"
#include "platform/Registry.h"
#include "tests/SwitchFixture.h"
#include "tests/TestSupport.h"

namespace {

using testsupport::ReadFile;
using testsupport::SwitchFixture;
using testsupport::WriteFile;

const std::string kKey = "[HKEY_CURRENT_USER\\Software\\TAVIK\\Histrel\\PARAMETERS]";
const std::string kMacroKey = "[HKEY_CURRENT_USER\\Software\\TAVIK\\Histrel\\MACROS]";

std::string Hive(const std::string& AKeysAndValues) {
  return "REGEDIT4\r\n\r\n" + AKeysAndValues + "\r\n";
}

struct Stores {
  std::string ini;   // content of histrel.ini beside the program, or empty
  std::string hive;  // content of the hive, or empty
};

std::function<void(const SwitchFixture&)> Write(const Stores& AStores) {
  return [AStores](const SwitchFixture& AFixture) {
    if (!AStores.ini.empty()) WriteFile(AFixture.IniFile(), AStores.ini);
    if (!AStores.hive.empty()) WriteFile(AFixture.HiveFile(), AStores.hive);
  };
}

std::string ReadUser(const std::string& ACommandLine, const Stores& AStores) {
  SwitchFixture fixture(ACommandLine, true, Write(AStores));
  return ProgramSwitch->GetSwitch("USER")->AsString();
}

TEST(Sources, CommandLineBeatsIniFileBeatsRegistry) {
  const std::string hive = Hive(kKey + "\r\n\"USER\"=\"alice\"\r\n");
  const std::string ini = "[PARAMETERS]\r\nUSER=bob\r\n";
  EXPECT_EQ(ReadUser("histrel", {ini, hive}), "bob");
  EXPECT_EQ(ReadUser("histrel /USER=carol", {ini, hive}), "carol");
  EXPECT_EQ(ReadUser("histrel", {"[PARAMETERS]\r\nOTHER=1\r\n", hive}), "alice");
  EXPECT_EQ(ReadUser("histrel /USER=carol", {"", hive}), "carol");
  // An empty entry in the INI file does not hide the registry's value.
  EXPECT_EQ(ReadUser("histrel", {"[PARAMETERS]\r\nUSER=\r\n", hive}), "alice");
  EXPECT_EQ(ReadUser("histrel", {"", ""}), "");
}

TEST(Sources, RegistryValuesAreRawIniValuesTrimmed) {
  EXPECT_EQ(ReadUser("histrel", {"", Hive(kKey + "\r\n\"USER\"=\"  spaced  \"\r\n")}),
            "  spaced  ");
  EXPECT_EQ(ReadUser("histrel", {"[PARAMETERS]\r\nUSER =  spaced  \r\n", ""}), "spaced");
  EXPECT_EQ(ReadUser("histrel", {"[parameters]\r\nuser=lower\r\n", ""}), "lower");
}

TEST(Sources, IniLinesFollowThePieceRules) {
  SwitchFixture fixture("histrel", true,
                        Write({"[PARAMETERS]\r\nFILE=c:/src/x.pas\r\n"
                               "KEEPCVS=+\r\nKEEPDATE=on\r\n"
                               "WRITEINI=[Parameters]\r\n?=x\r\n"
                               "[Other]\r\nUSER=inother\r\n",
                               ""}));
  EXPECT_EQ(ProgramSwitch->GetSwitch("FILE")->AsString(), "c:");
  EXPECT_TRUE(ProgramSwitch->GetSwitch("KEEPCVS")->AsBoolean());
  EXPECT_FALSE(ProgramSwitch->GetSwitch("KEEPDATE")->AsBoolean());
  EXPECT_EQ(ProgramSwitch->GetSwitch("WRITEINI")->AsString(), "[Parameters]");
  EXPECT_TRUE(ProgramSwitch->GetSwitch("?")->AsBoolean());
  EXPECT_EQ(ProgramSwitch->GetSwitch("USER", "other")->AsString(), "inother");
  EXPECT_EQ(ProgramSwitch->GetSwitch("USER")->AsString(), "");
  // Each look-up asks the file again.
  WriteFile(fixture.IniFile(), "[PARAMETERS]\r\nUSER=changed\r\n");
  EXPECT_EQ(ProgramSwitch->GetSwitch("USER")->AsString(), "changed");
}

TEST(Sources, MacrosComeFromEveryStore) {
  const std::string file = "histrel /FILE=%SRC%\\*.pas";
  for (const Stores& stores : {Stores{"[MACROS]\r\nSRC=c:\\src\r\n", ""},
                               Stores{"", Hive(kMacroKey + "\r\n\"SRC\"=\"c:\\\\src\"\r\n")}}) {
    SwitchFixture fixture(file, true, Write(stores));
    EXPECT_EQ(ProgramSwitch->GetSwitch("FILE")->AsString(), "c:\\src\\*.pas");
  }
}

TEST(Sources, ANonTextRegistryValueFailsTheLookUp) {
  SwitchFixture fixture("histrel", true,
                        Write({"", Hive(kKey + "\r\n\"USER\"=dword:0000002a\r\n")}));
  try {
    (void)ProgramSwitch->GetSwitch("USER");
    FAIL() << "a number is no text";
  } catch (const Exception& failure) {
    EXPECT_NE(failure.Message().find("USER"), std::string::npos) << failure.Message();
  }
}

TEST(OffSwitches, TakeEffectForEveryLaterLookUp) {
  const std::string hive = Hive(kKey + "\r\n\"USER\"=\"alice\"\r\n");
  const std::string ini = "[PARAMETERS]\r\nUSER=bob\r\n";
  EXPECT_EQ(ReadUser("histrel /INIOFF+", {ini, hive}), "alice");
  EXPECT_EQ(ReadUser("histrel /REGOFF+ /INIOFF+", {ini, hive}), "");
  EXPECT_EQ(ReadUser("histrel /CMDOFF+ /USER=carol", {ini, hive}), "bob");
  // REGOFF read from the registry switches the registry off after it was read.
  EXPECT_EQ(
      ReadUser("histrel", {"", Hive(kKey + "\r\n\"USER\"=\"alice\"\r\n\"REGOFF\"=\"+\"\r\n")}), "");
  EXPECT_EQ(ReadUser("histrel", {"[PARAMETERS]\r\nINIOFF=+\r\nUSER=bob\r\n", hive}), "alice");
}

TEST(PathSwitches, MoveTheSourcesToOtherPlaces) {
  testsupport::TempDir other;
  std::string otherSystem = other.Path();
  for (char& c : otherSystem) c = c == '/' ? '\\' : c;
  // The moved INI file names USER; the INI file beside the program names
  // the moved file's name.
  WriteFile(other / "tool.ini", "[PARAMETERS]\r\nUSER=moved\r\nINIFILE=ignored\r\n");
  WriteFile(other / "histrel.ini", "[PARAMETERS]\r\nUSER=wrongfile\r\n");
  {
    SwitchFixture fixture("histrel /INIPATH=" + otherSystem, true,
                          Write({"[PARAMETERS]\r\nINIFILE=tool\r\nUSER=beside\r\n", ""}));
    EXPECT_EQ(ProgramSwitch->IniParameter().FIniFileName, "tool.ini");
    EXPECT_EQ(ProgramSwitch->GetSwitch("USER")->AsString(), "moved");
  }
  {
    SwitchFixture fixture("histrel /REGPATH=\\Software\\Other", true,
                          Write({"", Hive("[HKEY_CURRENT_USER\\Software\\Other\\PARAMETERS]\r\n"
                                          "\"USER\"=\"otherkey\"\r\n\r\n" +
                                          kKey + "\r\n\"USER\"=\"tavik\"\r\n")}));
    EXPECT_EQ(ProgramSwitch->GetSwitch("USER")->AsString(), "otherkey");
  }
}

std::vector<std::string> Entries(const std::string& AFile) {
  return *platform::ReadIniSection(AFile, "PARAMETERS");
}

TEST(WriteIni, WritesEveryRegisteredSwitchWithItsDefaultText) {
  InitializeHistrelEnglishConstantUnit();
  for (const std::string selection :
       {"all", "ALL", "[Parameters]", "parameters", "[ Parameters ]"}) {
    SwitchFixture fixture("histrel /WRITEINI=" + selection);
    ProgramSwitch->Register("[Res].X", "o", "x-default", "d");
    ProgramSwitch->WriteIni();
    const std::vector<std::string> entries = Entries(fixture.IniFile());
    const std::vector<std::string> expected = {
        "REGOFF=-",
        "INIOFF=-",
        "CMDOFF=-",
        "REGPATH=\\Software\\TAVIK\\Histrel\\",
        "INIPATH=" + testsupport::SystemPath(fixture.ProgramDir()) + "\\",
        "INIFILE=histrel.ini",
        "WRITEINI=no default value",
        "WRITEREG=no default value",
        "SHOWHIDDEN=off"};
    EXPECT_EQ(entries, expected) << selection;
    const bool all = selection == "all" || selection == "ALL";
    EXPECT_EQ(platform::ReadIniSection(fixture.IniFile(), "Res")->size(), all ? 1u : 0u);
  }
}

// Mend: the program directory is written as a path text, so that a later
// run reads it back whole instead of cutting it at its first "/".
TEST(WriteIni, WhatItWritesIsReadBack) {
  InitializeHistrelEnglishConstantUnit();
  std::string written;
  std::string programDir;
  {
    SwitchFixture fixture("histrel /WRITEINI=all");
    ProgramSwitch->WriteIni();
    written = testsupport::ReadFile(fixture.IniFile());
    programDir = testsupport::SystemPath(fixture.ProgramDir()) + "\\";
  }
  SwitchFixture fixture("histrel", true, [&](const SwitchFixture& AFixture) {
    testsupport::WriteFile(AFixture.IniFile(), written);
  });
  // INIPATH is written with its closing backslash, and read back as the same
  // directory, with no second one.
  EXPECT_NE(written.find("INIPATH=" + programDir + "\r\n"), std::string::npos) << written;
  EXPECT_EQ(ProgramSwitch->IniParameter().FIniPath, programDir);
}

TEST(WriteIni, ASelectionOfAnotherSectionWritesNothingButMakesTheDirectory) {
  testsupport::TempDir place;
  std::string target = place.Path() + "/new/deeper";
  std::string system = target;
  for (char& c : system) c = c == '/' ? '\\' : c;
  SwitchFixture fixture("histrel /WRITEINI=Resources /INIPATH=" + system);
  ProgramSwitch->WriteIni();
  EXPECT_TRUE(testsupport::FileExists(target));
  EXPECT_FALSE(testsupport::FileExists(target + "/histrel.ini"));
}

TEST(WriteIni, KeepsOtherEntriesAndReadsBackWhatItWrote) {
  InitializeHistrelEnglishConstantUnit();
  const std::string before =
      "; settings\r\n[PARAMETERS]\r\nUSER=ann\r\nREGOFF=+\r\n[MACROS]\r\nA=1\r\n";
  {
    SwitchFixture fixture("histrel /WRITEINI=all", true, Write({before, ""}));
    ProgramSwitch->WriteIni();
    const std::string after = ReadFile(fixture.IniFile());
    EXPECT_EQ(after.rfind("; settings\r\n[PARAMETERS]\r\nUSER=ann\r\nREGOFF=-\r\n", 0), 0u)
        << after;
    EXPECT_NE(after.find("[MACROS]\r\nA=1\r\n"), std::string::npos);
  }
}

TEST(WriteIni, FailsWithTheMessageOfCreatePath) {
  testsupport::TempDir place;
  WriteFile(place / "file", "");
  std::string system = place.Path() + "/file/sub";
  for (char& c : system) c = c == '/' ? '\\' : c;
  SwitchFixture fixture("histrel /WRITEINI=all /INIPATH=" + system);
  try {
    ProgramSwitch->WriteIni();
    FAIL();
  } catch (const Exception& failure) {
    EXPECT_EQ(failure.Message().rfind("Der Pfad ", 0), 0u) << failure.Message();
  }
}

TEST(WriteRegistry, WritesIntoTheKeyOfTheSectionAndKeepsTheRest) {
  InitializeHistrelEnglishConstantUnit();
  const std::string existing =
      Hive("[HKEY_CURRENT_USER\\Software\\Else]\r\n\"N\"=dword:0000002a\r\n\r\n" + kKey +
           "\r\n\"USER\"=\"ann\"\r\n");
  SwitchFixture fixture("histrel /WRITEREG=all", true, Write({"", existing}));
  ProgramSwitch->WriteRegistry();
  const std::string key = "\\Software\\TAVIK\\Histrel\\PARAMETERS\\";
  std::string value;
  ASSERT_TRUE(platform::ReadRegistryString(key, "REGPATH", value));
  EXPECT_EQ(value, "\\Software\\TAVIK\\Histrel\\");
  ASSERT_TRUE(platform::ReadRegistryString(key, "USER", value));
  EXPECT_EQ(value, "ann");
  ASSERT_TRUE(platform::ReadRegistryString(key, "SHOWHIDDEN", value));
  EXPECT_EQ(value, "off");
  EXPECT_NE(ReadFile(fixture.HiveFile()).find("\"N\"=dword:0000002a"), std::string::npos);
  // What was written reads back as the switch's value.
  EXPECT_EQ(ProgramSwitch->GetSwitch("WRITEREG")->AsString(), "all");
  EXPECT_EQ(ProgramSwitch->GetSwitch("SHOWHIDDEN")->AsString(), "off");
}

}  // namespace
