#include "app/uHistrelRegisterSwitches.h"

#include "Bibliothek/Schalter/uProgramSwitch.h"
#include "app/uHistrelConstants.h"
#include "base/Exception.h"
#include "platform/Console.h"

void InitializeHistrelRegisterSwitchesUnit() {
  // The registry keeps these texts for the overview and for WRITEINI and
  // WRITEREG only; the defaults that take effect are the worker's.
  try {
    ProgramSwitch->Register("USER", SUserOptions, SUserDefault, SUserDescription);
    ProgramSwitch->Register("FILE", SFileOptions, SFileDefault, SFileDescription);
    ProgramSwitch->Register("INSERT", SInsertOptions, SInsertDefault, SInsertDescription);
    ProgramSwitch->Register("RECURSIVE", SRecursiveOptions, SRecursiveDefault,
                            SRecursiveDescription);
    ProgramSwitch->Register("KEEPCVS", SKeepCVSOptions, SKeepCVSDefault, SKeepCVSDescription);
    ProgramSwitch->Register("KEEPDATE", SKeepDateOptions, SKeepDateDefault, SKeepDateDescription);
    ProgramSwitch->Register("THREADS", SThreadsOptions, SThreadsDefault, SThreadsDescription);
    ProgramSwitch->Register("EXTENSIONS", SExtensionsOptions, SExtensionsDefault,
                            SExtensionsDescription);
  } catch (const Exception& failure) {
    // A switch left unregistered can still be given and looked up; it is only
    // missing from the overview and from what WRITEINI and WRITEREG write.
    platform::WriteLine(failure.Message());
  }
}
