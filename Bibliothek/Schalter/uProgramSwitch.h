// The switch library: value objects, the three sources (registry, INI file,
// command line) and the one switch registry, sofProgramSwitch, held in
// ProgramSwitch from start-up to shut-down.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/PrivateProfile.h"
#include "support/uSingleton.h"

using TStringList = std::vector<std::string>;

// A switch's value as found (after macro expansion) or its default.
class TBasisParameter {
 public:
  explicit TBasisParameter(const std::string& AValue) : FValue(AValue) {}
  virtual ~TBasisParameter() = default;

  virtual std::string AsString() const;
  // Throws Exception (SFormatError followed by the reason) when the text is no integer.
  virtual std::int32_t AsInteger() const;
  // Throws Exception (SFormatError followed by the reason) when the text is no number.
  virtual double AsFloat() const;
  // True exactly for the text "+".
  virtual bool AsBoolean() const;

 protected:
  std::string FValue;
};

// The value of a switch given nowhere and without default: "", 0, 0.0, false.
class TNULLParameter : public TBasisParameter {
 public:
  TNULLParameter() : TBasisParameter("") {}
  std::string AsString() const override;
  std::int32_t AsInteger() const override;
  double AsFloat() const override;
  bool AsBoolean() const override;
};

// The section, name and value of one piece of a source's raw text.
struct TSwitchPiece {
  std::string Section;
  std::string Name;
  std::string Value;
};

// The pieces of a raw source text, cut at runs of "/", each trimmed.
TStringList SplitPieces(const std::string& ARaw);

// Reads one piece ("NAME=value", "NAME+", "[SECTION].NAME=value", ...).
TSwitchPiece ReadPiece(const std::string& APiece);

// A source of switch values. The caller sets FName and FSection, then calls
// GetValue.
class TParameter {
 public:
  virtual ~TParameter() = default;
  // The whole raw text of the source.
  virtual std::string GetSource() = 0;
  // The value of FName in FSection, or "" when the source does not give it.
  // Upper-cases FName and FSection as it runs; the first matching piece wins.
  virtual std::string GetValue();

  std::string FName;
  std::string FSection;

 private:
  // The pieces of the raw text last read: every switch is looked up in the
  // same text, which is then cut and read once.
  std::string FPiecesRaw;
  std::vector<TSwitchPiece> FPieces;
  bool FPiecesRead = false;
};

// The process command line: every "/" begins a switch.
class TCommandParameter : public TParameter {
 public:
  explicit TCommandParameter(const std::string& ACommandLine) : FCommandLine(ACommandLine) {}
  // FCommandLine from its first "/" on; "" when it has none.
  std::string GetSource() override;

  std::string FCommandLine;
};

// The INI file FIniPath + FIniFileName; one INI section per switch section.
class TINIParameter : public TParameter {
 public:
  // Places the INI file beside the program file, named after it with ".ini".
  explicit TINIParameter(const std::string& AProgramPath);
  // The entries of section FSection as "/NAME=value" pieces; sets FSection
  // back to "PARAMETERS" afterwards, so that every line matches by name.
  std::string GetSource() override;

  std::string FIniFileName;
  std::string FIniPath;

 private:
  platform::IniSection FJoinedEntries;  // the entries that FJoined was made of
  std::string FJoined;
};

// The current user's registry below FRegistryPath; one key per section.
class TRegistryParameter : public TParameter {
 public:
  // The text value FName of the key FRegistryPath + FSection + "\".
  std::string GetSource() override;
  // Exactly what GetSource gives: registry values are not parsed or trimmed.
  std::string GetValue() override;

  std::string FRegistryPath;
};

// The one switch registry.
class sofProgramSwitch : public TSingleton {
 public:
  static const char* ClassName() { return "sofProgramSwitch"; }

  // Records a switch for the overview and for WRITEINI/WRITEREG. Throws
  // Exception (SMultipleRegistration) when the name is registered already.
  void Register(const std::string& AName, const std::string& AOptions, const std::string& ADefault,
                const std::string& ADescription);
  // The same for a hidden switch (listed only with SHOWHIDDEN).
  void RegisterHidden(const std::string& AName, const std::string& AOptions,
                      const std::string& ADefault, const std::string& ADescription);

  // The value of switch AName in ASection ("" means "PARAMETERS"), macros
  // expanded, else ADefault, else the null value. The result stays owned by
  // the registry and is valid until the same switch is looked up again.
  TBasisParameter* GetSwitch(const std::string& AName, const std::string& ASection = "",
                             const std::string& ADefault = "");

  // The merged raw text from the enabled sources: command line over INI
  // file over registry; an empty answer never erases an earlier one.
  std::string ReadValue(const std::string& AName, const std::string& ASection);

  int RegisteredCount() const { return static_cast<int>(FRegistered.size()); }
  std::string RegisteredKey(int AIndex) const { return FRegistered.at(AIndex).first; }
  const TStringList& RegisteredRecord(int AIndex) const { return FRegistered.at(AIndex).second; }
  std::string RegisteredName(int AIndex) const;
  std::string RegisteredSection(int AIndex) const;

  int HiddenCount() const { return static_cast<int>(FHidden.size()); }
  std::string HiddenKey(int AIndex) const { return FHidden.at(AIndex).first; }
  const TStringList& HiddenRecord(int AIndex) const { return FHidden.at(AIndex).second; }
  std::string HiddenName(int AIndex) const;
  std::string HiddenSection(int AIndex) const;

  // Writes the selected registered switches with their default texts into
  // the INI file or the registry (selection from WRITEINI / WRITEREG).
  void WriteIni();
  void WriteRegistry();

  // Frees every record and value object and empties the lists.
  void ClearLists();

  // Where macro expansion gives up and the value becomes empty, as for a
  // cycle: after AReferences references replaced, or at a value longer than
  // ALength bytes. The defaults are far beyond any real switch; the fuzzer
  // makes them small, so that a runaway expansion ends quickly there too.
  void SetMacroLimits(std::size_t AReferences, std::size_t ALength);

  TCommandParameter& CommandParameter() { return *FCommandParameter; }
  TINIParameter& IniParameter() { return *FIniParameter; }
  TRegistryParameter& RegistryParameter() { return *FRegistryParameter; }
  bool RegistryOn() const { return FRegistryOn; }
  bool IniOn() const { return FIniOn; }
  bool CommandOn() const { return FCommandOn; }

 protected:
  void Init() override;
  void Done() override;

 private:
  using TEntry = std::pair<std::string, TStringList>;

  void ReadOffSwitches();
  void ReadPlaces();
  void ReadPathSwitch(const std::string& AName);
  void ApplyPathSwitch(const std::string& AName, const std::string& AValue);
  std::string ExpandMacros(std::string AValue);
  template <class TWriteOne>
  void WriteSelected(const std::string& ASelectionSwitch, TWriteOne AWriteOne);

  std::unique_ptr<TNULLParameter> FNullParameter;
  std::unique_ptr<TCommandParameter> FCommandParameter;
  std::unique_ptr<TINIParameter> FIniParameter;
  std::unique_ptr<TRegistryParameter> FRegistryParameter;
  std::vector<TEntry> FRegistered;
  std::vector<TEntry> FHidden;
  std::vector<std::pair<std::string, std::unique_ptr<TBasisParameter>>> FValues;
  bool FRegistryOn = false;
  bool FIniOn = false;
  bool FCommandOn = false;
  std::size_t FMaxMacroReferences = 10000;
  std::size_t FMaxMacroLength = std::size_t{256} * 1024;
};

// The one switch registry, from the start-up of this unit to its shut-down.
extern sofProgramSwitch* ProgramSwitch;

// The application title: the program file's name without directory and
// without anything from its first ".", the first character kept, the rest in
// lower case ("HISTREL.EXE" gives "Histrel").
std::string ApplicationTitle(const std::string& AProgramPath);

// Unit start-up: makes ProgramSwitch and registers the nine standard
// switches (a failed registration is shown in the error message box and the
// rest are skipped). Unit shut-down: releases ProgramSwitch.
void InitializeProgramSwitchUnit();
void FinalizeProgramSwitchUnit();
