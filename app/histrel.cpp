// The histrel program: starts the units in their fixed order, runs the tool
// and shuts the units down in reverse.
#include <exception>
#include <string>
#include <vector>

#include "Bibliothek/Schalter/fProgramSwitchHelp.h"
#include "Bibliothek/Schalter/uProgramSwitch.h"
#include "app/uHistrelConstants.h"
#include "app/uHistrelEnglishConstant.h"
#include "app/uHistrelRegisterSwitches.h"
#include "app/uHistrelRun.h"
#include "base/Exception.h"
#include "platform/Console.h"
#include "platform/Process.h"
#include "support/uFileRoutines.h"
#include "support/uSingleton.h"
#include "support/uStartup.h"

int main(int argc, char** argv) {
  // The walk holds a directory of every level open: a deep tree needs many.
  platform::RaiseOpenFileLimit();
  // The program's options are taken out first: the switches never see them.
  const THistrelOptions options = ReadHistrelOptions(argc, argv);
  if (!options.Error.empty()) {
    platform::WriteErrorLine(options.Error);
    platform::FlushConsole();
    return kExitUsage;
  }
  if (options.Version && !options.Help) {
    platform::WriteLine(HistrelVersionLine());
    platform::FlushConsole();
    return kExitSuccess;
  }
  std::vector<const char*> arguments;
  for (const std::string& argument : options.Arguments) arguments.push_back(argument.c_str());
  platform::SetProcessArguments(static_cast<int>(arguments.size()), arguments.data());
  // The order of start-up: texts (German, then English), the support
  // units, the switch registry with its standard switches, the tool's
  // switches, the refusal of unknown switches, the overview's start-up
  // step; then the tool's run. --help needs the registered switches only.
  std::vector<TUnit> startUp({
      {"uHistrelConstants", nullptr, FinalizeHistrelConstantsUnit},
      {"uHistrelEnglishConstant", InitializeHistrelEnglishConstantUnit, nullptr},
      {"uSingleton", InitializeSingletonUnit, FinalizeSingletonUnit},
      {"uFileRoutines", InitializeFileRoutinesUnit, FinalizeFileRoutinesUnit},
      {"uProgramSwitch", InitializeProgramSwitchUnit, FinalizeProgramSwitchUnit},
      {"uHistrelRegisterSwitches", InitializeHistrelRegisterSwitchesUnit, nullptr},
  });
  if (!options.Help) {
    startUp.insert(startUp.end(),
                   {
                       {"uHistrelRun", RefuseUnknownSwitches, nullptr},
                       {"cController", nullptr, nullptr},
                       {"cProgramSwitchHelp", nullptr, nullptr},
                       {"fProgramSwitchHelp", InitializeProgramSwitchHelpUnit, nullptr},
                   });
  }
  if (options.Mode != THistrelMode::kRun && !options.Help) {
    startUp.insert(startUp.end() - 1, {"uHistrelRun", RefuseWritingSwitches, nullptr});
  }
  TUnitSequence units(std::move(startUp));
  int exitCode = kExitSuccess;
  try {
    units.Initialize();
    if (options.Help) {
      for (const std::string& line : HistrelUsageLines()) platform::WriteLine(line);
    } else {
      // The lists are read once the switches could end the program (/?):
      // standard input is not taken for nothing.
      // The summary and the progress line go to standard error, so that
      // standard output stays the list of files, the diff or the notes.
      const THistrelRunOptions run{options.KeepGoing, !options.Quiet,
                                   !options.Quiet && platform::ErrorIsTerminal()};
      exitCode = RunHistrel(platform::Today, options.Mode, ReadFileList(options), run);
    }
  } catch (const EHalt& halt) {
    exitCode = halt.ExitCode();
  } catch (const EUsage& mistake) {
    platform::WriteErrorLine(mistake.Message());
    exitCode = kExitUsage;
  } catch (const Exception& failure) {
    // A failure during start-up, or a file list that cannot be read, is not
    // the tool's to report: it ends the program.
    platform::WriteErrorLine(failure.Message());
    exitCode = FailureStatus(options.Mode);
  } catch (const std::exception& failure) {
    // Memory that ran out even for the report of a failure, or a library's
    // failure outside the run: reported all the same, never an abort.
    platform::WriteErrorLine(UnforeseenFailureMessage(failure, ""));
    exitCode = FailureStatus(options.Mode);
  }
  units.Finalize();
  platform::FlushConsole();
  return exitCode;
}
