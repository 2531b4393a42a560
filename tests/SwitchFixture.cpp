#include "tests/SwitchFixture.h"

#include <stdlib.h>

#include "Bibliothek/Schalter/uProgramSwitch.h"
#include "platform/Process.h"
#include "support/uFileRoutines.h"
#include "support/uSingleton.h"

namespace testsupport {

SwitchFixture::SwitchFixture(const std::string& ACommandLine, bool ARegisterStandard,
                             const std::function<void(const SwitchFixture&)>& APrepare) {
  const char* old = getenv("XDG_CONFIG_HOME");
  FHadXdg = old != nullptr;
  if (FHadXdg) FOldXdg = old;
  setenv("XDG_CONFIG_HOME", ConfigHome().c_str(), 1);
  WriteFile(FDir / "bin/.keep", "");
  platform::SetProcessForTesting(ACommandLine, FDir / "bin/histrel");
  if (APrepare) APrepare(*this);
  InitializeSingletonUnit();
  InitializeFileRoutinesUnit();
  if (ARegisterStandard) {
    InitializeProgramSwitchUnit();
  } else {
    ProgramSwitch = TSingleton::Create<sofProgramSwitch>();
  }
}

SwitchFixture::~SwitchFixture() {
  FinalizeProgramSwitchUnit();
  FinalizeFileRoutinesUnit();
  FinalizeSingletonUnit();
  if (FHadXdg) {
    setenv("XDG_CONFIG_HOME", FOldXdg.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
}

}  // namespace testsupport
