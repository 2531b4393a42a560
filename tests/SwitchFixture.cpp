#include "tests/SwitchFixture.h"

#include <stdlib.h>

#include <memory>
#include <vector>

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
  // The process is started as the program in FDir/bin would be with
  // ACommandLine: its words are the arguments, rejoined with one blank each.
  FProgram = std::make_unique<ProgramLink>(FDir / "bin/histrel");
  std::vector<std::string> words;
  for (std::string::size_type from = 0;;) {
    const std::string::size_type blank = ACommandLine.find(' ', from);
    words.push_back(ACommandLine.substr(from, blank - from));
    if (blank == std::string::npos) break;
    from = blank + 1;
  }
  std::vector<const char*> arguments;
  for (const std::string& word : words) arguments.push_back(word.c_str());
  platform::SetProcessArguments(static_cast<int>(arguments.size()), arguments.data());
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
