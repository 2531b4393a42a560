// The program's units and their start-up and shut-down steps. Start-up runs
// in a fixed order, explicitly from main; shut-down runs in reverse for every
// unit that has started, also when the program ends early through Halt.
#pragma once

#include <string>
#include <vector>

// One unit: its name and its two steps (either may be empty).
struct TUnit {
  std::string Name;
  void (*Initialize)();
  void (*Finalize)();
};

// Thrown by Halt to end the program normally from anywhere in start-up or
// in the run; main catches it, shuts the units down and exits with its code.
class EHalt {
 public:
  explicit EHalt(int AExitCode) : FExitCode(AExitCode) {}
  int ExitCode() const { return FExitCode; }

 private:
  int FExitCode;
};

// Ends the program normally with AExitCode.
[[noreturn]] void Halt(int AExitCode);

class TUnitSequence {
 public:
  explicit TUnitSequence(std::vector<TUnit> AUnits) : FUnits(std::move(AUnits)) {}
  // Shuts down whatever has started and not yet been shut down.
  ~TUnitSequence() { Finalize(); }
  TUnitSequence(const TUnitSequence&) = delete;
  TUnitSequence& operator=(const TUnitSequence&) = delete;

  // Runs the start-up steps in order. A failure (or Halt) leaves the units
  // started so far recorded, so that Finalize shuts exactly those down.
  void Initialize();

  // Runs the shut-down steps of the started units in reverse order, once.
  void Finalize();

 private:
  std::vector<TUnit> FUnits;
  std::size_t FStarted = 0;
};
