// The histrel program: starts the units in their fixed order, runs the tool
// and shuts the units down in reverse.
#include <cstdio>

#include "platform/Console.h"
#include "platform/Exception.h"
#include "platform/Process.h"
#include "support/uStartup.h"

int main(int argc, char** argv) {
  platform::SetProcessArguments(argc, argv);
  int exitCode = 0;
  TUnitSequence units({});
  try {
    units.Initialize();
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
