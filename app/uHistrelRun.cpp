#include "app/uHistrelRun.h"

#include "Bibliothek/Schalter/uProgramSwitch.h"
#include "platform/Console.h"
#include "platform/Exception.h"

namespace {

std::string SwitchText(const char* AName) { return ProgramSwitch->GetSwitch(AName)->AsString(); }

}  // namespace

void RunHistrel(const TDateSource& ADateSource) {
  THistrel histrel(ADateSource);
  try {
    histrel.SetUser(SwitchText("USER"));
    // A switch that is not given keeps the worker's default; a given yes/no
    // switch is on only for the exact text "+".
    if (!SwitchText("INSERT").empty()) histrel.SetInsertText(SwitchText("INSERT"));
    if (!SwitchText("RECURSIVE").empty()) {
      histrel.SetRecursive(ProgramSwitch->GetSwitch("RECURSIVE")->AsBoolean());
    }
    if (!SwitchText("KEEPCVS").empty()) {
      histrel.SetKeepCVS(ProgramSwitch->GetSwitch("KEEPCVS")->AsBoolean());
    }
    if (!SwitchText("KEEPDATE").empty()) {
      histrel.SetKeepDate(ProgramSwitch->GetSwitch("KEEPDATE")->AsBoolean());
    }
    ApplyFileSwitch(histrel, SwitchText("FILE"));
    histrel.Execute();
  } catch (const Exception& failure) {
    platform::WriteLine(failure.Message());
  }
}
