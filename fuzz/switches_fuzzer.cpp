// Feeds arbitrary command lines to the switch parser and the look-up with
// macros. The cut into pieces must agree with the word routines it stands for.
#include <stdlib.h>

#include <cstdint>
#include <string>

#include "Bibliothek/Schalter/uProgramSwitch.h"
#include "fuzz/FuzzCheck.h"
#include "platform/Process.h"
#include "support/uFileRoutines.h"
#include "support/uSingleton.h"
#include "support/uStringRoutines.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // No INI file and no hive: the command line is the only source.
  setenv("XDG_CONFIG_HOME", "/nonexistent/histrel-fuzz", 1);
  platform::SetProcessForTesting("histrel", "/nonexistent/histrel-fuzz/histrel");
  InitializeSingletonUnit();
  InitializeFileRoutinesUnit();
  InitializeProgramSwitchUnit();
  // A runaway expansion ends at the same place in the code with smaller
  // bounds, without copying megabytes per input.
  ProgramSwitch->SetMacroLimits(200, 4096);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  if (size < 512) {
    const TStringList pieces = SplitPieces(input);
    const std::int32_t count = WordCount(input, {'/'});
    CHECK(pieces.size() == static_cast<std::size_t>(count));
    for (std::int32_t i = 1; i <= count; ++i) {
      CHECK(pieces[static_cast<std::size_t>(i - 1)] == Trim(ExtractWord(input, {'/'}, i)));
    }
  }
  ProgramSwitch->CommandParameter().FCommandLine = "histrel " + input;
  for (const char* name : {"USER", "FILE", "?", "A"}) {
    TBasisParameter* value = ProgramSwitch->GetSwitch(name, "", "");
    (void)value->AsString();
    (void)value->AsBoolean();
  }
  (void)ProgramSwitch->GetSwitch("X", "MACROS", "d")->AsString();
  return 0;
}
