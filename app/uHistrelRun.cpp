#include "app/uHistrelRun.h"

#include <new>
#include <stdexcept>
#include <string_view>

#include "Bibliothek/Schalter/uProgramSwitch.h"
#include "Bibliothek/Schalter/uProgramSwitchConstant.h"
#include "app/uHistrelConstants.h"
#include "app/uHistrelPreview.h"
#include "app/uHistrelProgress.h"
#include "base/Exception.h"
#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "support/uStringRoutines.h"
#include "text/Ansi.h"
#include "text/ShownName.h"

#ifndef HISTREL_VERSION
#define HISTREL_VERSION "unknown"
#endif

namespace {

std::string SwitchText(const char* AName) { return ProgramSwitch->GetSwitch(AName)->AsString(); }

// The number of reading threads that the text of THREADS gives: 0 is one
// per core (at most 8). Only digits are taken, so that "-1" or "4x" is
// refused rather than read as something else.
unsigned ReadThreadsOf(const std::string& AText) {
  if (AText.empty() || AText.size() > 2 ||
      AText.find_first_not_of("0123456789") != std::string::npos) {
    throw Exception(SThreadsInvalid);
  }
  const unsigned value = static_cast<unsigned>(std::stoul(AText));
  if (value > 64) throw Exception(SThreadsInvalid);
  return value == 0 ? DefaultReadThreads() : value;
}

// The default text of the registered switch AName ("" when not registered).
std::string RegisteredDefault(const std::string& AName) {
  for (int i = 0; i < ProgramSwitch->RegisteredCount(); ++i) {
    if (text::AnsiSameText(ProgramSwitch->RegisteredName(i), AName)) {
      return ProgramSwitch->RegisteredRecord(i).at(1);
    }
  }
  return "";
}

// The text of switch AName, or ADefault when it is not given.
std::string SwitchTextOr(const char* AName, const std::string& ADefault) {
  const std::string value = SwitchText(AName);
  return value.empty() ? ADefault : value;
}

// Whether AText holds a blank (a byte up to 32, as Trim takes them) at AAt.
bool IsBlankAt(const std::string& AText, std::string::size_type AAt) {
  return AAt < AText.size() && static_cast<unsigned char>(AText[AAt]) <= 32;
}

// Whether APiece names a switch the command line may give: a registered or
// hidden one of its section, "?", or any switch of another section than
// PARAMETERS (the macros, which any name may be).
bool IsKnownPiece(const TSwitchPiece& APiece) {
  if (APiece.Section != "PARAMETERS" || APiece.Name == SHelpSwitch) return true;
  const auto names = [&APiece](const std::string& AName, const std::string& ASection) {
    return text::AnsiSameText(AName, APiece.Name) && text::AnsiSameText(ASection, APiece.Section);
  };
  for (int i = 0; i < ProgramSwitch->RegisteredCount(); ++i) {
    if (names(ProgramSwitch->RegisteredName(i), ProgramSwitch->RegisteredSection(i))) return true;
  }
  for (int i = 0; i < ProgramSwitch->HiddenCount(); ++i) {
    if (names(ProgramSwitch->HiddenName(i), ProgramSwitch->HiddenSection(i))) return true;
  }
  return false;
}

// The options, for the hint after a mistyped one ("-check").
const char* const kOptionNames[] = {"--diff", "--check", "--files-from", "--keep-going",
                                    "--help", "--quiet", "--version"};

// The message for AArgument, which is neither an option nor a switch: a
// word before the switches, or an option written with one "-".
std::string StrayArgumentMessage(const std::string& AArgument) {
  std::string message =
      "histrel: " + text::ShownName(AArgument) + " is neither a switch (/NAME=value) nor an option";
  const std::string name = AArgument.substr(0, AArgument.find('='));
  for (const char* option : kOptionNames) {
    if ("-" + name == option)
      return message.append("; did you mean -").append(AArgument).append("? (try --help)");
  }
  return message.append("; sources are named after -- (try --help)");
}

// Whether AArgument may stand among the switches: one that begins with "/"
// (after blanks), or blanks alone, which add nothing.
bool IsSwitchArgument(const std::string& AArgument) {
  const std::string trimmed = Trim(AArgument);
  return trimmed.empty() || trimmed[0] == '/';
}

// The default text that older versions wrote for USER and FILE (German).
const char kGermanNoDefault[] = "kein";

// Where the value of the tool's switch AName comes from, as a message names
// it: the first source, in their order of precedence, that gives it.
std::string StoreOfSwitch(const std::string& AName) {
  if (ProgramSwitch->CommandOn()) {
    TCommandParameter& commandLine = ProgramSwitch->CommandParameter();
    commandLine.FName = AName;
    commandLine.FSection = "PARAMETERS";
    if (!commandLine.GetValue().empty()) return "the command line";
  }
  if (ProgramSwitch->IniOn()) {
    TINIParameter& ini = ProgramSwitch->IniParameter();
    ini.FName = AName;
    ini.FSection = "PARAMETERS";
    if (!ini.GetValue().empty()) {
      return "the INI file " +
             text::ShownName(platform::NativePath(ini.FIniPath + ini.FIniFileName));
    }
  }
  return "the registry key HKEY_CURRENT_USER" +
         text::ShownName(ProgramSwitch->RegistryParameter().FRegistryPath) + "PARAMETERS";
}

// The text of USER or FILE as the run takes it: "" when it is the default
// text that /WRITEINI and /WRITEREG write for a switch without a default
// ("no default value"): that is no name and no path, so the switch counts
// as not given, and a line on standard error says where the text stands.
std::string GivenText(const std::string& AName) {
  std::string value = SwitchText(AName.c_str());
  if (value.empty() || (value != RegisteredDefault(AName) && value != kGermanNoDefault)) {
    return value;
  }
  platform::WriteErrorLine("histrel: " + AName + " \"" + value + "\" in " + StoreOfSwitch(AName) +
                           " is the text written for a switch without a default, not a value; " +
                           AName + " counts as not given");
  return "";
}

// The line for a FILE AFile that selected no file.
std::string NothingSelectedMessage(const std::string& AFile) {
  std::string message = "histrel: FILE " + text::ShownName(AFile) + " selects no file";
  // "src\*.pas" not quoted reaches the program as "src*.pas".
  if (AFile.find('\\') == std::string::npos && AFile.find('*') != std::string::npos &&
      AFile[0] != '*') {
    message +=
        " (a backslash not quoted is taken away by the shell: write '/FILE=dir\\*.pas',"
        " or give the sources after --)";
  }
  return message;
}

// The line for sources named after -- or in lists that selected no file.
std::string NothingListedMessage() {
  return "histrel: the sources named select no file (a directory gives its files that end in " +
         SwitchTextOr("EXTENSIONS", kPascalSourceExtensions) + ")";
}

// The line after the message that FILE is missing, as GNU tools end a
// usage error.
const char kTryHelp[] = "Try 'histrel --help' for more information.";

const char* const kUsageHead[] = {
    "Usage: histrel [OPTION]... /USER=name [/SWITCH=value]... -- SOURCE|DIRECTORY...",
    "  or:  histrel [OPTION]... /USER=name [/SWITCH=value]... --files-from=LIST",
    "  or:  histrel [OPTION]... /USER=name '/FILE=path' [/SWITCH=value]...",
    "",
    "Collects the marked comments of Pascal sources ({CVS* ...} and // CVS* ...)",
    "into a dated history entry under the marker line (CVSLOG), appends the entry",
    "to the source's history log (<source>.cvs) and turns the notes into ordinary",
    "comments. The paths after -- and in a --files-from list are paths as the",
    "shell gives them (src, src/a.pas), taken in their order: a file is processed",
    "whatever its name, a directory gives the sources in and below it whose",
    "extension EXTENSIONS lists; the switch FILE is then not used. In switches a",
    "\"/\" always begins a new switch: write the path of FILE with backslashes",
    "and quote it for the shell. A word or switch that is not known stops the",
    "program before anything is written.",
    "",
    "Switches (/NAME=value, /NAME+ on, /NAME- off), each with its default:",
};

const char* const kUsageTail[] = {
    "Examples:",
    "  histrel /USER=ann -- src",
    "  histrel --check /USER=ci -- src",
    "  histrel /USER=ann '/FILE=src\\*.pas'",
    "  histrel --diff /USER=ann '/FILE=src\\*.pas' | git apply",
    "  histrel /USER=ann -- src/Unit1.pas src/Unit2.pas",
    // One line, longer than the others.
    ("  git diff -z --name-only --diff-filter=d -- '*.pas' '*.pp' '*.inc' | histrel /USER=ann "
     "--files-from=-"),
    "",
    "Options:",
    "  --diff      write nothing; show what a run would change as a unified diff",
    "  --check     write nothing; list each marked comment that a run would",
    "              collect as \"path:line: text\"",
    "  --keep-going",
    "              report a source that a run refuses and go on with the next;",
    "              the run then ends with status 1 (2 in --diff/--check)",
    "  --files-from=LIST",
    "              process the sources named in LIST (- is standard input), one",
    "              per line or separated by NUL bytes, instead of FILE",
    "  --quiet     no summary line at the end and no progress line (standard error)",
    "  --          end the options and switches: every argument after it names a",
    "              source or a directory to process, instead of FILE",
    "  -h, --help  show this text and end",
    "  --version   show the version and end",
    "",
    "Exit status: 0 success; 1 a failure was reported, or --diff/--check found",
    "something to change; 2 --diff/--check failed, or a wrong option was given.",
};

}  // namespace

THistrelOptions ReadHistrelOptions(int AArgc, const char* const* AArgv) {
  THistrelOptions options;
  bool optionsEnded = false;
  bool previewChosen = false;
  const std::string filesFrom = "--files-from";
  const auto takeFileList = [&](const std::string& AList) {
    options.FileListGiven = true;
    if (!AList.empty()) {
      options.FileLists.push_back(AList);
    } else if (options.Error.empty()) {
      options.Error = "histrel: --files-from needs the name of a file list (try --help)";
    }
  };
  for (int i = 0; i < AArgc; ++i) {
    const std::string argument = AArgv[i];
    if (optionsEnded) {
      options.Files.push_back(argument);
      continue;
    }
    const bool option = i > 0 && (argument == "-h" || argument.compare(0, 2, "--") == 0);
    if (!option) {
      // Only text from the first "/" on is read as switches: a word outside
      // them would be dropped or glued to a value without a word.
      if (i > 0 && !IsSwitchArgument(argument) && options.Error.empty()) {
        options.Error = StrayArgumentMessage(argument);
      }
      options.Arguments.push_back(argument);
      continue;
    }
    if (argument == "--") {
      // As in GNU tools and git: what follows is operands, here files.
      optionsEnded = true;
      options.FileListGiven = true;
    } else if (argument.compare(0, filesFrom.size() + 1, filesFrom + "=") == 0) {
      takeFileList(argument.substr(filesFrom.size() + 1));
    } else if (argument == filesFrom) {
      takeFileList(i + 1 < AArgc ? AArgv[++i] : "");
    } else if (argument == "--help" || argument == "-h") {
      options.Help = true;
    } else if (argument == "--version") {
      options.Version = true;
    } else if (argument == "--quiet") {
      options.Quiet = true;
    } else if (argument == "--keep-going") {
      options.KeepGoing = true;
    } else if (argument == "--diff" || argument == "--check") {
      const THistrelMode mode = argument == "--diff" ? THistrelMode::kDiff : THistrelMode::kCheck;
      if (previewChosen && mode != options.Mode && options.Error.empty()) {
        options.Error = "histrel: --diff and --check exclude each other (try --help)";
      }
      options.Mode = mode;
      previewChosen = true;
    } else if (options.Error.empty()) {
      options.Error = "histrel: unknown option " + argument + " (try --help)";
    }
  }
  return options;
}

std::vector<std::string> SplitFileList(const std::string& AText) {
  std::vector<std::string> names;
  const bool nulSeparated = AText.find('\0') != std::string::npos;
  const char separator = nulSeparated ? '\0' : '\n';
  for (std::string::size_type start = 0; start < AText.size();) {
    std::string::size_type end = AText.find(separator, start);
    if (end == std::string::npos) end = AText.size();
    std::string::size_type last = end;
    if (!nulSeparated && end < AText.size() && last > start && AText[last - 1] == '\r') --last;
    if (last > start) names.push_back(AText.substr(start, last - start));
    start = end + 1;
  }
  return names;
}

std::optional<std::vector<std::string>> ReadFileList(const THistrelOptions& AOptions) {
  if (!AOptions.FileListGiven) return std::nullopt;
  std::vector<std::string> names;
  for (const std::string& list : AOptions.FileLists) {
    std::string text;
    const bool read =
        list == "-" ? platform::ReadStandardInput(text) : platform::ReadNativeFile(list, text);
    if (!read) {
      throw Exception("histrel: cannot read the file list " +
                      (list == "-" ? std::string("on standard input") : text::ShownName(list)) +
                      " (--files-from)");
    }
    for (std::string& name : SplitFileList(text)) names.push_back(std::move(name));
  }
  for (const std::string& name : AOptions.Files) {
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

int FailureStatus(THistrelMode AMode) {
  return AMode == THistrelMode::kRun ? kExitFailure : kExitUsage;
}

std::string HistrelVersionLine() { return std::string("histrel ") + HISTREL_VERSION; }

std::vector<std::string> HistrelUsageLines() {
  std::vector<std::string> lines(std::begin(kUsageHead), std::end(kUsageHead));
  // The same entries as the overview of /?.
  for (int i = 0; i < ProgramSwitch->RegisteredCount(); ++i) {
    const TStringList& record = ProgramSwitch->RegisteredRecord(i);
    lines.push_back(ProgramSwitch->RegisteredKey(i) + "=" + record.at(1));
    lines.push_back(SOptLabel + record.at(0));
    lines.push_back(SDescriptionLabel + record.at(2));
    lines.emplace_back("");
  }
  lines.emplace_back("Where settings come from: each switch is taken from the command line, else");
  lines.emplace_back("from the INI file beside the program (sections [PARAMETERS] and [MACROS])");
  lines.push_back("  " + RegisteredDefault(SIniPathSwitch) + RegisteredDefault(SIniFileSwitch));
  lines.emplace_back("else from the registry hive, key");
  lines.push_back("  HKEY_CURRENT_USER" + RegisteredDefault(SRegPathSwitch) + "PARAMETERS");
  lines.emplace_back("in $XDG_CONFIG_HOME/programswitch/HKEY_CURRENT_USER.reg (XDG_CONFIG_HOME");
  lines.emplace_back("unset: ~/.config). A value may refer to a macro as %NAME%, which is the");
  lines.emplace_back("switch NAME of section MACROS (/[MACROS].NAME=value).");
  lines.emplace_back("");
  lines.insert(lines.end(), std::begin(kUsageTail), std::end(kUsageTail));
  return lines;
}

void RefuseUnknownSwitches() {
  const std::string source = TCommandParameter(platform::CommandLine()).GetSource();
  // The pieces as the switch library cuts them, each with whether it was
  // glued to the one before (no blank between them): one word of the shell.
  struct TRawPiece {
    std::string Text;
    bool Glued;
  };
  std::vector<TRawPiece> pieces;
  bool glued = false;
  for (std::string::size_type start = 0; start <= source.size();) {
    std::string::size_type end = source.find('/', start);
    if (end == std::string::npos) end = source.size();
    const std::string raw = source.substr(start, end - start);
    if (!Trim(raw).empty()) pieces.push_back({Trim(raw), glued && !IsBlankAt(raw, 0)});
    if (!raw.empty()) glued = !IsBlankAt(raw, raw.size() - 1);
    start = end + 1;
  }
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (IsKnownPiece(ReadPiece(pieces[i].Text))) continue;
    std::string message = "histrel: unknown switch /" + text::ShownName(pieces[i].Text);
    const TSwitchPiece before = i > 0 ? ReadPiece(pieces[i - 1].Text) : TSwitchPiece();
    if (pieces[i].Glued && before.Section == "PARAMETERS" && before.Name == "FILE") {
      // A POSIX path in FILE: every "/" of it began a switch.
      std::string path = before.Value;
      for (std::size_t j = i; j < pieces.size() && (j == i || pieces[j].Glued); ++j) {
        path += "\\" + pieces[j].Text;
      }
      message +=
          ": a \"/\" begins a switch, so FILE ends before it; write the path with \\ ('/FILE=" +
          text::ShownName(path) + "') or give the sources after -- (see --help)";
    } else {
      message += " (see --help)";
    }
    throw EUsage(message);
  }
}

void RefuseWritingSwitches() {
  if (ProgramSwitch->GetSwitch(SHelpSwitch, "", "")->AsBoolean()) return;
  const auto asksToWrite = [](const std::string& ASwitch, const std::string& ADefault) {
    const std::string selection = ProgramSwitch->GetSwitch(ASwitch, "", "")->AsString();
    return !selection.empty() && selection != ADefault;
  };
  if (asksToWrite(SWriteIniSwitch, SWriteIniDefault) ||
      asksToWrite(SWriteRegSwitch, SWriteRegDefault)) {
    throw Exception(
        "histrel: --diff and --check write nothing; WRITEINI and WRITEREG cannot be used with "
        "them");
  }
}

namespace {

// Writes the message of a failure (on standard output for a run, on
// standard error for a preview, whose standard output is the diff or the
// list), and the reason of a refusal on standard error after it.
void ReportFailure(THistrelMode AMode, const std::string& AMessage, const std::string& AReason) {
  if (AMode == THistrelMode::kRun) {
    platform::WriteLine(AMessage);
  } else {
    platform::WriteErrorLine(AMessage);
  }
  if (!AReason.empty()) platform::WriteErrorLine(AReason);
}

}  // namespace

int RunHistrel(const TDateSource& ADateSource, THistrelMode AMode,
               const std::optional<std::vector<std::string>>& AFiles,
               const THistrelRunOptions& AOptions) {
  THistrel histrel(ADateSource);
  THistrelProgress progress(AOptions.Progress, AMode != THistrelMode::kRun);
  if (AOptions.Progress) {
    histrel.SetProgress([&progress](const THistrel::TTally& ATally) { progress.Update(ATally); });
  }
  // The summary ends what the run wrote on standard error, whatever it was.
  const auto summarize = [&] {
    progress.Finish();
    if (AOptions.Summary && histrel.Tally().Began) {
      platform::WriteErrorLine(HistrelSummaryLine(histrel.Tally(), AMode != THistrelMode::kRun));
    }
  };
  // --check keeps no text: it writes the notes of each source as the source
  // is found to change, so that it holds one source's notes at a time.
  THistrelPreview preview = AMode == THistrelMode::kDiff
                                ? THistrelPreview(true)
                                : THistrelPreview(TNoteLineWriter([](const std::string& ALine) {
                                    platform::WriteLine(ALine);
                                  }));
  if (AMode != THistrelMode::kRun) histrel.SetOutput(&preview);
  if (AOptions.KeepGoing) {
    histrel.SetKeepGoing([AMode](const ERefusal& ARefusal) {
      ReportFailure(AMode, ARefusal.Message(), ARefusal.Reason());
    });
  }
  int status = kExitSuccess;
  std::string failed;
  std::string reason;
  // Neither FILE nor a list: the program was most likely started bare.
  bool fileMissing = false;
  try {
    histrel.SetUser(GivenText("USER"));
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
    if (!SwitchText("THREADS").empty()) {
      histrel.SetReadThreads(ReadThreadsOf(SwitchText("THREADS")));
    }
    if (!SwitchText("EXTENSIONS").empty()) {
      histrel.SetSourceExtensions(ReadSourceExtensions(SwitchText("EXTENSIONS")));
    }
    std::string file;
    if (AFiles) {
      // A list replaces FILE, wherever FILE comes from.
      ApplyFileList(histrel, *AFiles);
    } else {
      file = GivenText("FILE");
      fileMissing = file.empty();
      ApplyFileSwitch(histrel, file);
    }
    histrel.Execute();
    // Nothing selected where something was named: a mask that matches
    // nothing, a path the shell changed; a check would pass without a word.
    if (histrel.Tally().Selected == 0 && (!AFiles || !AFiles->empty())) {
      platform::WriteErrorLine(AFiles ? NothingListedMessage() : NothingSelectedMessage(file));
      if (AMode != THistrelMode::kRun) status = kExitUsage;
    }
    // Sources passed over end the run as a failure would.
    if (histrel.RefusedSources() > 0) status = FailureStatus(AMode);
  } catch (const ERefusal& refusal) {
    status = FailureStatus(AMode);
    failed = refusal.Message();
    reason = refusal.Reason();
  } catch (const Exception& failure) {
    status = FailureStatus(AMode);
    failed = failure.Message();
  } catch (const std::exception& failure) {
    // Memory that ran out, or a library's failure that the tool has no
    // message of its own for: the memory that the unwinding gave back is
    // enough for the message.
    status = FailureStatus(AMode);
    failed = UnforeseenFailureMessage(failure, histrel.FailedSource());
  }
  // A preview's standard output is the diff or the list, so its failure
  // goes to standard error, after what was found before it.
  if (AMode == THistrelMode::kRun) {
    progress.Finish();
    if (!failed.empty()) ReportFailure(AMode, failed, reason);
    if (fileMissing) platform::WriteErrorLine(kTryHelp);
    summarize();
    return status;
  }
  progress.Finish();
  try {
    if (AMode == THistrelMode::kDiff) {
      preview.WriteDiff([](std::string_view AHead, std::string_view AText) {
        platform::WriteLine(AHead, AText);
      });
    }
  } catch (const std::exception& failure) {
    status = FailureStatus(AMode);
    if (failed.empty()) failed = UnforeseenFailureMessage(failure, "");
  }
  if (!failed.empty()) ReportFailure(AMode, failed, reason);
  if (fileMissing) platform::WriteErrorLine(kTryHelp);
  summarize();
  if (status == kExitSuccess && !preview.Empty()) status = kExitFailure;
  return status;
}

std::string UnforeseenFailureMessage(const std::exception& AFailure, const std::string& ASource) {
  if (dynamic_cast<const Exception*>(&AFailure) != nullptr) return AFailure.what();
  const bool memory = dynamic_cast<const std::bad_alloc*>(&AFailure) != nullptr ||
                      dynamic_cast<const std::length_error*>(&AFailure) != nullptr;
  if (memory) {
    return ASource.empty() ? SNotEnoughMemoryForRun : FormatText(SNotEnoughMemory, ASource);
  }
  return ASource.empty() ? FormatText(SUnexpectedFailure, AFailure.what())
                         : FormatText(SCannotEditFile, ASource);
}
