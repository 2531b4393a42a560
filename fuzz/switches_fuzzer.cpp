// Feeds arbitrary command lines, INI files and registry hives to the switch
// parser and the look-up with macros. The cut into pieces must agree with
// the word routines it stands for, and a look-up must give what the three
// sources give, the command line over the INI file over the registry.
//
// Input: the command line, then optionally "\x01" and the INI file, then
// optionally "\x01" and the hive. The two files are written into a file
// system in memory, which every file call of the process goes to.
#include <fcntl.h>
#include <stdlib.h>

#include <cstdint>
#include <map>
#include <string>

#include "Bibliothek/Schalter/uProgramSwitch.h"
#include "base/Exception.h"
#include "fuzz/FuzzCheck.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/posix/FileCalls.h"
#include "support/uFileRoutines.h"
#include "support/uSingleton.h"
#include "support/uStringRoutines.h"
#include "tests/MemoryFileSystem.h"

namespace {

std::string gIniPath;
std::string gHivePath;
// Every file call of the process goes to it: the INI file and the hive are
// the input's texts.
testsupport::MemoryFileSystem gMemory;

// Makes path hold text, or removes it when there is no text.
void Place(const std::string& APath, const std::string* AText) {
  if (AText != nullptr) {
    gMemory.WriteFile(APath, *AText);
  } else if (gMemory.Exists(APath)) {
    CHECK(gMemory.UnlinkAt(AT_FDCWD, APath.c_str(), 0) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  platform::UseFileCalls(&gMemory);
  gMemory.MakeDirectory("/proc/self");
  gMemory.MakeLink("/proc/self/exe", "/fuzz/bin/histrel");
  gMemory.MakeDirectory("/fuzz/bin");
  setenv("XDG_CONFIG_HOME", "/fuzz/config", 1);
  const char* const arguments[] = {"histrel"};
  platform::SetProcessArguments(1, arguments);
  InitializeSingletonUnit();
  InitializeFileRoutinesUnit();
  InitializeProgramSwitchUnit();
  // A runaway expansion ends at the same place in the code with smaller
  // bounds, without copying megabytes per input.
  ProgramSwitch->SetMacroLimits(200, 4096);
  gIniPath = platform::NativePath(ProgramSwitch->IniParameter().FIniPath +
                                  ProgramSwitch->IniParameter().FIniFileName);
  gHivePath = platform::NativePath(platform::RegistryHivePath());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string::size_type iniStart = input.find('\x01');
  const std::string commandLine = input.substr(0, iniStart);
  std::string ini;
  std::string hive;
  const std::string::size_type hiveStart =
      iniStart == std::string::npos ? iniStart : input.find('\x01', iniStart + 1);
  if (iniStart != std::string::npos) ini = input.substr(iniStart + 1, hiveStart - iniStart - 1);
  if (hiveStart != std::string::npos) hive = input.substr(hiveStart + 1);
  Place(gIniPath, iniStart != std::string::npos ? &ini : nullptr);
  Place(gHivePath, hiveStart != std::string::npos ? &hive : nullptr);

  if (commandLine.size() < 512) {
    const TStringList pieces = SplitPieces(commandLine);
    const std::int32_t count = WordCount(commandLine, {'/'});
    CHECK(pieces.size() == static_cast<std::size_t>(count));
    for (std::int32_t i = 1; i <= count; ++i) {
      CHECK(pieces[static_cast<std::size_t>(i - 1)] == Trim(ExtractWord(commandLine, {'/'}, i)));
    }
  }
  ProgramSwitch->CommandParameter().FCommandLine = "histrel " + commandLine;
  struct Switch {
    const char* section;
    const char* name;
  };
  for (const Switch& lookUp : {Switch{"", "USER"}, Switch{"", "FILE"}, Switch{"", "?"},
                               Switch{"", "A"}, Switch{"MACROS", "A"}}) {
    const char* const section = lookUp.section;
    const char* const name = lookUp.name;
    const std::string sectionName = *section == '\0' ? "PARAMETERS" : section;
    // The merged text is the last source's that is not empty; a value the
    // registry holds as no text fails the look-up with the same message.
    std::string expected;
    try {
      TParameter* const sources[] = {&ProgramSwitch->RegistryParameter(),
                                     &ProgramSwitch->IniParameter(),
                                     &ProgramSwitch->CommandParameter()};
      for (TParameter* source : sources) {
        source->FName = name;
        source->FSection = sectionName;
        const std::string answer = source->GetValue();
        if (!answer.empty()) expected = answer;
      }
    } catch (const Exception& failure) {
      expected = "failure: " + failure.Message();
    }
    std::string merged;
    try {
      merged = ProgramSwitch->ReadValue(name, sectionName);
      TBasisParameter* value = ProgramSwitch->GetSwitch(name, section, "");
      (void)value->AsString();
      (void)value->AsBoolean();
    } catch (const Exception& failure) {
      if (merged.empty()) merged = "failure: " + failure.Message();
    }
    CHECK(merged == expected);
  }
  try {
    (void)ProgramSwitch->GetSwitch("X", "MACROS", "d")->AsString();
  } catch (const Exception&) {
    // A macro that the registry holds as no text.
  }
  return 0;
}
