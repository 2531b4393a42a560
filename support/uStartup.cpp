#include "support/uStartup.h"

void Halt(int AExitCode) { throw EHalt(AExitCode); }

void TUnitSequence::Initialize() {
  while (FStarted < FUnits.size()) {
    const TUnit& unit = FUnits[FStarted];
    // The unit counts as started before its step runs: a step that halts the
    // program (the switch overview does) has done its work and is shut down too.
    ++FStarted;
    if (unit.Initialize != nullptr) unit.Initialize();
  }
}

void TUnitSequence::Finalize() {
  while (FStarted > 0) {
    --FStarted;
    const TUnit& unit = FUnits[FStarted];
    if (unit.Finalize != nullptr) unit.Finalize();
  }
}
