// The histrel program: starts the units in their fixed order, runs the tool
// and shuts the units down in reverse.
#include "Bibliothek/Schalter/fProgramSwitchHelp.h"
#include "Bibliothek/Schalter/uProgramSwitch.h"
#include "app/uHistrelConstants.h"
#include "app/uHistrelEnglishConstant.h"
#include "app/uHistrelRegisterSwitches.h"
#include "app/uHistrelRun.h"
#include "platform/Console.h"
#include "platform/Exception.h"
#include "platform/Process.h"
#include "support/uFileRoutines.h"
#include "support/uSingleton.h"
#include "support/uStartup.h"

int main(int argc, char** argv) {
  platform::SetProcessArguments(argc, argv);
  // The order of start-up: texts (German, then English), the support
  // units, the switch registry with its standard switches, the tool's
  // switches, the overview's start-up step; then the tool's run.
  TUnitSequence units({
      {"uHistrelConstants", nullptr, FinalizeHistrelConstantsUnit},
      {"uHistrelEnglishConstant", InitializeHistrelEnglishConstantUnit, nullptr},
      {"uSingleton", InitializeSingletonUnit, FinalizeSingletonUnit},
      {"uFileRoutines", InitializeFileRoutinesUnit, FinalizeFileRoutinesUnit},
      {"uProgramSwitch", InitializeProgramSwitchUnit, FinalizeProgramSwitchUnit},
      {"uHistrelRegisterSwitches", InitializeHistrelRegisterSwitchesUnit, nullptr},
      {"cController", nullptr, nullptr},
      {"cProgramSwitchHelp", nullptr, nullptr},
      {"fProgramSwitchHelp", InitializeProgramSwitchHelpUnit, nullptr},
  });
  int exitCode = 0;
  try {
    units.Initialize();
    RunHistrel();
  } catch (const EHalt& halt) {
    exitCode = halt.ExitCode();
  } catch (const Exception& failure) {
    // A failure during start-up is not the tool's to report: it ends the program.
    platform::WriteErrorLine(failure.Message());
    exitCode = 1;
  }
  units.Finalize();
  platform::FlushConsole();
  return exitCode;
}
