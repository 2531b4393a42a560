#include "Bibliothek/Schalter/uProgramSwitch.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <map>

#include "Bibliothek/Schalter/uProgramSwitchConstant.h"
#include "base/Exception.h"
#include "platform/MessageBox.h"
#include "platform/PrivateProfile.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "support/uFileRoutines.h"
#include "support/uStringRoutines.h"
#include "text/Ansi.h"

sofProgramSwitch* ProgramSwitch = nullptr;

namespace {

const char* const kDefaultSection = "PARAMETERS";
const char* const kMacroSection = "MACROS";

bool HoldsTwoPercents(const std::string& AText) {
  const std::string::size_type first = AText.find('%');
  return first != std::string::npos && AText.find('%', first + 1) != std::string::npos;
}

std::string ValueKey(const std::string& ASection, const std::string& AName) {
  return "[" + text::AnsiUpperCase(ASection) + "]." + text::AnsiUpperCase(AName);
}

std::string BareName(const std::string& AKey) {
  const std::string::size_type bracket = AKey.find(']');
  if (bracket != std::string::npos)
    return Trim(AKey.substr(std::min<std::string::size_type>(AKey.size(), bracket + 2)));
  return Trim(AKey.substr(std::min<std::string::size_type>(1, AKey.size())));
}

std::string SectionOfKey(const std::string& AKey) {
  if (AKey.find(']') == std::string::npos) return kDefaultSection;
  std::string section = Trim(ExtractWord(AKey, {']'}, 1));
  const std::string::size_type open = section.find('[');
  if (open != std::string::npos) section.erase(0, open + 1);
  return Trim(section);
}

std::string FileNameOf(const std::string& APath) {
  const std::string::size_type slash = APath.find_last_of("/\\");
  return slash == std::string::npos ? APath : APath.substr(slash + 1);
}

// The directory part of a path, its last separator included: the path with
// its file name cut off, as the INI directory's default always was.
std::string DirectoryOf(const std::string& APath) {
  const std::string fileName = FileNameOf(APath);
  return DeleteStr(APath, static_cast<std::int32_t>(APath.size() - fileName.size() + 1),
                   static_cast<std::int32_t>(APath.size()));
}

// A directory or key path with one backslash at its end, as Delphi's
// IncludeTrailingBackslash makes it. WRITEINI writes the places with theirs
// (INIPATH=\home\ann\build\); a second one would be read back into every
// message that names the INI file.
std::string IncludeTrailingBackslash(const std::string& APath) {
  return !APath.empty() && APath.back() == '\\' ? APath : APath + "\\";
}

// The file name with its extension (from its last ".") replaced by AExtension.
std::string ChangeFileExt(const std::string& AFileName, const std::string& AExtension) {
  const std::string::size_type dot = AFileName.rfind('.');
  return (dot == std::string::npos ? AFileName : AFileName.substr(0, dot)) + AExtension;
}

std::string ConversionFailure(const std::string& AReason) { return SFormatError + AReason; }

}  // namespace

// ---------------------------------------------------------------- values

std::string TBasisParameter::AsString() const { return FValue; }

std::int32_t TBasisParameter::AsInteger() const {
  const std::string text = Trim(FValue);
  const std::string reason = "'" + FValue + "' is not a valid integer value";
  if (text.empty()) throw Exception(ConversionFailure(reason));
  std::string digits = text;
  int base = 10;
  bool negative = false;
  if (digits[0] == '-' || digits[0] == '+') {
    negative = digits[0] == '-';
    digits.erase(0, 1);
  }
  if (!digits.empty() && digits[0] == '$') {
    base = 16;
    digits.erase(0, 1);
  } else if (digits.size() > 1 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.erase(0, 2);
  }
  if (digits.empty() || digits.find_first_of("+- \t") != std::string::npos) {
    throw Exception(ConversionFailure(reason));
  }
  errno = 0;
  char* end = nullptr;
  const long long magnitude = std::strtoll(digits.c_str(), &end, base);
  const long long value = negative ? -magnitude : magnitude;
  if (errno != 0 || *end != '\0' || value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    throw Exception(ConversionFailure(reason));
  }
  return static_cast<std::int32_t>(value);
}

double TBasisParameter::AsFloat() const {
  const std::string text = Trim(FValue);
  const std::string reason = "'" + FValue + "' is not a valid floating point value";
  if (text.empty() || text.find_first_of("xXpP") != std::string::npos) {
    throw Exception(ConversionFailure(reason));
  }
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0') throw Exception(ConversionFailure(reason));
  return value;
}

bool TBasisParameter::AsBoolean() const { return FValue == "+"; }

std::string TNULLParameter::AsString() const { return std::string(); }
std::int32_t TNULLParameter::AsInteger() const { return 0; }
double TNULLParameter::AsFloat() const { return 0.0; }
bool TNULLParameter::AsBoolean() const { return false; }

// ---------------------------------------------------------------- pieces

TStringList SplitPieces(const std::string& ARaw) {
  // Piece i is ExtractWord(ARaw, ['/'], i), trimmed, and there are
  // WordCount(ARaw, ['/']) of them. ExtractWord trims the text first while
  // WordCount does not, so blanks at either end of the raw text can add
  // pieces that come out empty. Cutting once keeps long command lines linear.
  TStringList pieces;
  const std::string text = Trim(ARaw);
  std::string::size_type start = 0;
  while (start < text.size()) {
    std::string::size_type end = text.find('/', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) pieces.push_back(Trim(text.substr(start, end - start)));
    start = end + 1;
  }
  const std::size_t count = static_cast<std::size_t>(WordCount(ARaw, {'/'}));
  while (pieces.size() < count) pieces.emplace_back();
  return pieces;
}

TSwitchPiece ReadPiece(const std::string& APiece) {
  TSwitchPiece result;
  std::string piece = APiece;
  if (piece.find(']') == std::string::npos) {
    result.Section = kDefaultSection;
  } else if (!piece.empty() && piece[0] == '[') {
    const std::string::size_type close = piece.find(']');
    result.Section = text::AnsiUpperCase(Trim(piece.substr(1, close - 1)));
    // Everything through the "]" and the "." of [SECTION].NAME goes.
    piece.erase(0, std::min(piece.size(), close + 2));
  } else {
    // NAME=value[S] lies in section S: the text behind the first "[", less
    // its last character.
    std::string section = ExtractWord(piece, {'['}, 2);
    if (!section.empty()) section.pop_back();
    result.Section = text::AnsiUpperCase(Trim(section));
  }
  const std::string::size_type nameEnd = piece.find_first_of("+-=");
  const std::string name = nameEnd == std::string::npos ? piece : piece.substr(0, nameEnd);
  result.Name = text::AnsiUpperCase(Trim(name));
  // The value is what follows the first (length of the trimmed name)
  // characters of the piece; "NAME = abc" thus gives "abc".
  std::string value = Trim(piece.substr(std::min(piece.size(), result.Name.size())));
  if (!value.empty() && value[0] == '=') value = Trim(value.substr(1));
  result.Value = value;
  return result;
}

// ---------------------------------------------------------------- sources

std::string TParameter::GetValue() {
  std::string raw = GetSource();
  FSection = text::AnsiUpperCase(FSection);
  FName = text::AnsiUpperCase(FName);
  if (!FPiecesRead || raw != FPiecesRaw) {
    FPieces.clear();
    for (const std::string& text : SplitPieces(raw)) FPieces.push_back(ReadPiece(text));
    FPiecesRaw = std::move(raw);
    FPiecesRead = true;
  }
  for (const TSwitchPiece& piece : FPieces) {
    if (piece.Section != FSection || piece.Name != FName) continue;
    // The first occurrence wins; later pieces are not read.
    if (piece.Name == SHelpSwitch) return "+";
    return piece.Value;
  }
  return std::string();
}

std::string TCommandParameter::GetSource() {
  const std::string::size_type slash = FCommandLine.find('/');
  return slash == std::string::npos ? std::string() : FCommandLine.substr(slash);
}

TINIParameter::TINIParameter(const std::string& AProgramPath) {
  if (AProgramPath.empty() || FileNameOf(AProgramPath).empty()) {
    throw Exception(SIniFileError + "the program file is unknown");
  }
  FIniPath = DirectoryOf(AProgramPath);
  FIniFileName = ChangeFileExt(FileNameOf(AProgramPath), ".ini");
}

std::string TINIParameter::GetSource() {
  // The lines of an INI section carry no section of their own; setting the
  // section back to PARAMETERS makes the generic reading match every line of
  // the section read by its name alone. This happens also when reading fails.
  struct TResetSection {
    std::string& Section;
    ~TResetSection() { Section = kDefaultSection; }
  } resetSection{FSection};
  if (FSection.empty()) return std::string();
  // Every switch is looked up in the section: its pieces are joined again
  // only when the file gave other entries than last time.
  platform::IniSection entries = platform::ReadIniSection(FIniPath + FIniFileName, FSection);
  if (entries != FJoinedEntries) {
    FJoined.clear();
    for (const std::string& line : *entries) {
      FJoined += "/";
      FJoined += line;
    }
    FJoinedEntries = std::move(entries);
  }
  return FJoined;
}

std::string TRegistryParameter::GetSource() {
  std::string value;
  if (!platform::ReadRegistryString(FRegistryPath + FSection + "\\", FName, value)) value.clear();
  return value;
}

std::string TRegistryParameter::GetValue() { return GetSource(); }

// ---------------------------------------------------------------- registry

std::string ApplicationTitle(const std::string& AProgramPath) {
  std::string title = FileNameOf(AProgramPath);
  const std::string::size_type dot = title.find('.');
  if (dot != std::string::npos) title.erase(dot);
  if (title.empty()) return title;
  return std::string(1, text::AnsiUpperChar(title[0])) + text::AnsiLowerCase(title.substr(1));
}

void sofProgramSwitch::Init() {
  TSingleton::Init();
  FRegistryOn = true;
  FIniOn = true;
  FCommandOn = true;
  FNullParameter = std::make_unique<TNULLParameter>();
  FCommandParameter = std::make_unique<TCommandParameter>(platform::CommandLine());
  FIniParameter = std::make_unique<TINIParameter>(platform::ProgramPath());
  FRegistryParameter = std::make_unique<TRegistryParameter>();
  FRegistryParameter->FRegistryPath =
      SRegistryBasePath + ApplicationTitle(platform::ProgramPath()) + "\\";
  ReadOffSwitches();
  ReadPlaces();
}

void sofProgramSwitch::Done() {
  ClearLists();
  FNullParameter.reset();
  FCommandParameter.reset();
  FIniParameter.reset();
  FRegistryParameter.reset();
  TSingleton::Done();
}

void sofProgramSwitch::ClearLists() {
  FRegistered.clear();
  FHidden.clear();
  FValues.clear();
}

void sofProgramSwitch::ReadOffSwitches() {
  const bool regOff = GetSwitch("REGOFF")->AsBoolean();
  const bool iniOff = GetSwitch("INIOFF")->AsBoolean();
  const bool cmdOff = GetSwitch("CMDOFF")->AsBoolean();
  FRegistryOn = !regOff;
  FIniOn = !iniOff;
  FCommandOn = !cmdOff;
  ClearLists();
}

void sofProgramSwitch::ReadPlaces() {
  const std::string p0 = FIniParameter->FIniPath;
  std::string p1;
  bool p1Remembered = false;
  if (FIniOn) ReadPathSwitch("Inipath");
  if (FIniParameter->FIniPath != p0) {
    p1 = FIniParameter->FIniPath;
    p1Remembered = true;
    FIniParameter->FIniPath = p0;
  }
  // INIFILE is looked up in the INI file of the original directory, even
  // when INIPATH names another one.
  if (FIniOn) ReadPathSwitch("Inifile");
  if (p1Remembered && p1 != FIniParameter->FIniPath) FIniParameter->FIniPath = p1;
  if (FRegistryOn) ReadPathSwitch("Regpath");
}

void sofProgramSwitch::ReadPathSwitch(const std::string& AName) {
  TParameter* const sources[] = {FRegistryParameter.get(), FIniParameter.get(),
                                 FCommandParameter.get()};
  const bool enabled[] = {FRegistryOn, FIniOn, FCommandOn};
  for (TParameter* source : sources) {
    source->FSection = kDefaultSection;
    source->FName = AName;
  }
  // Each answer takes effect at once, so a source asked later already reads
  // from the place an earlier one set.
  for (int i = 0; i < 3; ++i) {
    if (enabled[i]) ApplyPathSwitch(AName, sources[i]->GetValue());
  }
}

void sofProgramSwitch::ApplyPathSwitch(const std::string& AName, const std::string& AValue) {
  if (AValue.empty()) return;
  if (AName == "Inipath") {
    FIniParameter->FIniPath = IncludeTrailingBackslash(AValue);
  } else if (AName == "Inifile") {
    FIniParameter->FIniFileName =
        AValue.find(".ini") != std::string::npos ? AValue : AValue + ".ini";
  } else if (AName == "Regpath") {
    FRegistryParameter->FRegistryPath = IncludeTrailingBackslash(AValue);
  }
}

void sofProgramSwitch::Register(const std::string& AName, const std::string& AOptions,
                                const std::string& ADefault, const std::string& ADescription) {
  const std::string key = "/" + AName;
  for (const TEntry& entry : FRegistered) {
    if (text::AnsiSameText(entry.first, key)) {
      throw Exception(FormatText(SMultipleRegistration, AName));
    }
  }
  FRegistered.emplace_back(key, TStringList{AOptions, ADefault, ADescription});
}

void sofProgramSwitch::RegisterHidden(const std::string& AName, const std::string& AOptions,
                                      const std::string& ADefault,
                                      const std::string& ADescription) {
  // A hidden switch is refused when its name is taken in either list, so
  // that the overview and the writing never show one name twice.
  const std::string key = "/" + AName;
  for (const auto* list : {&FRegistered, &FHidden}) {
    for (const TEntry& entry : *list) {
      if (text::AnsiSameText(entry.first, key)) {
        throw Exception(FormatText(SMultipleRegistration, AName));
      }
    }
  }
  FHidden.emplace_back(key, TStringList{AOptions, ADefault, ADescription});
}

std::string sofProgramSwitch::RegisteredName(int AIndex) const {
  return BareName(RegisteredKey(AIndex));
}
std::string sofProgramSwitch::RegisteredSection(int AIndex) const {
  return SectionOfKey(RegisteredKey(AIndex));
}
std::string sofProgramSwitch::HiddenName(int AIndex) const { return BareName(HiddenKey(AIndex)); }
std::string sofProgramSwitch::HiddenSection(int AIndex) const {
  return SectionOfKey(HiddenKey(AIndex));
}

std::string sofProgramSwitch::ReadValue(const std::string& AName, const std::string& ASection) {
  std::string result;
  TParameter* const sources[] = {FRegistryParameter.get(), FIniParameter.get(),
                                 FCommandParameter.get()};
  const bool enabled[] = {FRegistryOn, FIniOn, FCommandOn};
  for (int i = 0; i < 3; ++i) {
    if (!enabled[i]) continue;
    sources[i]->FName = AName;
    sources[i]->FSection = ASection;
    std::string answer = sources[i]->GetValue();
    // A later source overrides an earlier one; an empty answer erases nothing.
    if (!answer.empty()) result = std::move(answer);
  }
  return result;
}

void sofProgramSwitch::SetMacroLimits(std::size_t AReferences, std::size_t ALength) {
  FMaxMacroReferences = AReferences;
  FMaxMacroLength = ALength;
}

std::string sofProgramSwitch::ExpandMacros(std::string AValue) {
  // Macros that refer to themselves more than once grow the value
  // exponentially over the ten passes. Such a runaway expansion is treated
  // like a cycle (the value becomes empty) instead of taking minutes and
  // gigabytes; no real switch value comes near the bounds (SetMacroLimits).
  std::size_t references = 0;
  // The sources do not change during one look-up, so each macro is read once.
  std::map<std::string, std::string> macroValues;
  for (int pass = 0; pass < 10 && HoldsTwoPercents(AValue); ++pass) {
    std::string copy = AValue;
    while (HoldsTwoPercents(copy)) {
      const std::string::size_type open = copy.find('%');
      const std::string::size_type close = copy.find('%', open + 1);
      const std::string reference = copy.substr(open, close - open + 1);
      const std::string macro = reference.substr(1, reference.size() - 2);
      copy.erase(open, reference.size());
      auto known = macroValues.find(macro);
      if (known == macroValues.end()) {
        known = macroValues.emplace(macro, ReadValue(macro, kMacroSection)).first;
      }
      // A reference to a macro given nowhere empties the whole value.
      if (known->second.empty()) return std::string();
      const std::string::size_type at = AValue.find(reference);
      if (at != std::string::npos) AValue.replace(at, reference.size(), known->second);
      if (++references > FMaxMacroReferences || AValue.size() > FMaxMacroLength) {
        return std::string();
      }
    }
  }
  // Still references after ten passes: a macro that refers to itself.
  if (HoldsTwoPercents(AValue)) return std::string();
  return AValue;
}

TBasisParameter* sofProgramSwitch::GetSwitch(const std::string& AName, const std::string& ASection,
                                             const std::string& ADefault) {
  const std::string section = ASection.empty() ? std::string(kDefaultSection) : ASection;
  const std::string value = ExpandMacros(ReadValue(AName, section));
  if (value.empty() && ADefault.empty()) return FNullParameter.get();
  const std::string key = ValueKey(section, AName);
  for (auto it = FValues.begin(); it != FValues.end(); ++it) {
    if (it->first == key) {
      FValues.erase(it);
      break;
    }
  }
  FValues.emplace_back(key, std::make_unique<TBasisParameter>(value.empty() ? ADefault : value));
  return FValues.back().second.get();
}

template <class TWriteOne>
void sofProgramSwitch::WriteSelected(const std::string& ASelectionSwitch, TWriteOne AWriteOne) {
  std::string selection = GetSwitch(ASelectionSwitch)->AsString();
  auto treat = [&](const std::string& ASection, const std::string& AName,
                   const TStringList& ARecord) {
    if (text::AnsiUpperCase(selection) != "ALL") {
      if (selection.find('[') != std::string::npos) {
        // "[Parameters]" names the section Parameters; the shortened
        // selection stays in force for the switches that follow.
        selection = Trim(selection.substr(std::min<std::size_t>(1, selection.size())));
        if (!selection.empty()) selection = Trim(selection.substr(0, selection.size() - 1));
      }
      if (text::AnsiUpperCase(selection) != text::AnsiUpperCase(ASection)) return;
    }
    AWriteOne(ASection, AName, ARecord.at(1));
  };
  for (int i = 0; i < HiddenCount(); ++i) {
    const std::string showHidden = GetSwitch(SShowHiddenSwitch, "", SShowHiddenDefault)->AsString();
    if (text::AnsiUpperCase(showHidden) == text::AnsiUpperCase(SShowHiddenDefault)) break;
    treat(HiddenSection(i), HiddenName(i), HiddenRecord(i));
  }
  for (int i = 0; i < RegisteredCount(); ++i) {
    treat(RegisteredSection(i), RegisteredName(i), RegisteredRecord(i));
  }
}

void sofProgramSwitch::WriteIni() {
  const std::string iniFile = FIniParameter->FIniPath + FIniParameter->FIniFileName;
  // The directory is made first, also when the selection names no section.
  CreatePath(FIniParameter->FIniPath);
  WriteSelected(SWriteIniSwitch, [&](const std::string& ASection, const std::string& AName,
                                     const std::string& ADefault) {
    platform::WriteIniEntry(iniFile, ASection, AName, ADefault);
  });
}

void sofProgramSwitch::WriteRegistry() {
  const std::string registryPath = FRegistryParameter->FRegistryPath;
  WriteSelected(SWriteRegSwitch, [&](const std::string& ASection, const std::string& AName,
                                     const std::string& ADefault) {
    platform::WriteRegistryString(registryPath + ASection + "\\", AName, ADefault);
  });
}

// ---------------------------------------------------------------- unit

void InitializeProgramSwitchUnit() {
  ProgramSwitch = TSingleton::Create<sofProgramSwitch>();
  const std::string programPath = platform::ProgramPath();
  const std::string title = ApplicationTitle(programPath);
  const std::string programFile = FileNameOf(programPath);
  // The INI directory's default text is the program's directory.
  const std::string iniPathDefault = DirectoryOf(programPath);
  try {
    ProgramSwitch->Register("REGOFF", SOnOffOptions, SOffDefault, SRegOffDescription);
    ProgramSwitch->Register("INIOFF", SOnOffOptions, SOffDefault, SIniOffDescription);
    ProgramSwitch->Register("CMDOFF", SOnOffOptions, SOffDefault, SCmdOffDescription);
    ProgramSwitch->Register(SRegPathSwitch, SRegPathOptions, SRegPathDefault + title + "\\",
                            SRegPathDescription);
    ProgramSwitch->Register(SIniPathSwitch, SIniPathOptions, iniPathDefault, SIniPathDescription);
    // The name of the INI file as it is on disk, so that what WRITEINI
    // writes is read back on a file system that minds letter case.
    ProgramSwitch->Register(SIniFileSwitch, SIniFileOptions, ChangeFileExt(programFile, ".ini"),
                            SIniFileDescription);
    ProgramSwitch->Register(SWriteIniSwitch, SWriteIniOptions, SWriteIniDefault,
                            SWriteIniDescription);
    ProgramSwitch->Register(SWriteRegSwitch, SWriteRegOptions, SWriteRegDefault,
                            SWriteRegDescription);
    ProgramSwitch->Register(SShowHiddenSwitch, SShowHiddenOptions, SShowHiddenDefault,
                            SShowHiddenDescription);
  } catch (const Exception& failure) {
    platform::ShowErrorMessageBox(SErrorBoxCaption, failure.Message());
  }
}

void FinalizeProgramSwitchUnit() {
  if (ProgramSwitch != nullptr) ProgramSwitch->Free();
  ProgramSwitch = nullptr;
}
