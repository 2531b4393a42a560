// The program run: reads the tool's switches, fills the history worker and
// starts it; the program's own options (--help, --diff, ...) and its exit
// statuses.
#pragma once

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "app/uHistrel.h"
#include "base/Exception.h"

// What a run does with the sources it selects: rewrite them, or only show
// what a rewrite would change (a unified diff) or which sources it would
// take (a list of paths), writing nothing.
enum class THistrelMode { kRun, kDiff, kCheck };

// Exit statuses. kExitFailure also ends a --diff or --check that found
// something to change; kExitUsage ends one that failed, and a command line
// with a wrong option.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The options of the program: arguments that begin with "--" (and "-h"),
// taken out before the command line is built, so that the switch language
// never sees them. "--" alone ends the options and the switches: every
// argument after it names a file to process, as after "--" in GNU tools.
struct THistrelOptions {
  bool Help = false;
  bool Version = false;
  // --quiet: no summary line and no progress line on standard error.
  bool Quiet = false;
  THistrelMode Mode = THistrelMode::kRun;
  // --keep-going: a refused source is reported and passed over.
  bool KeepGoing = false;
  // The program name and every argument before "--" that is no option, in
  // their order: the switches.
  std::vector<std::string> Arguments;
  // Whether the run takes a list of files instead of FILE: "--" or
  // --files-from was given (the list may still be empty).
  bool FileListGiven = false;
  // The LIST of each --files-from=LIST (or --files-from LIST), in their
  // order; "-" is standard input.
  std::vector<std::string> FileLists;
  // Every argument after "--", in their order.
  std::vector<std::string> Files;
  // The message for a wrong option ("histrel: unknown option --x (try
  // --help)") or for an argument that is neither an option nor a switch
  // (one that does not begin with "/"); empty when there is none.
  std::string Error;
};

THistrelOptions ReadHistrelOptions(int AArgc, const char* const* AArgv);

// The names in the text of a file list: when it holds a NUL byte, NUL bytes
// alone separate them (a name may then hold a line end, as git diff -z and
// find -print0 give them), else line ends do (LF or CR LF). Empty names are
// left out.
std::vector<std::string> SplitFileList(const std::string& AText);

// The files of the run when AOptions gives a list: the names of each
// --files-from list, then those after "--", empty names left out, in their
// order; std::nullopt when no list is given. Reads the lists (standard
// input for "-"); throws Exception naming the list when one cannot be read.
std::optional<std::vector<std::string>> ReadFileList(const THistrelOptions& AOptions);

// The status a failure ends the program with in AMode.
int FailureStatus(THistrelMode AMode);

// The message for a failure that is no Exception of the tool's (whose own
// message it gives): memory that ran out (std::bad_alloc, std::length_error)
// or any other failure of a library, naming ASource, the source being
// processed, unless it is empty.
std::string UnforeseenFailureMessage(const std::exception& AFailure, const std::string& ASource);

// "histrel " and the version of the build.
std::string HistrelVersionLine();

// The text of --help: usage, every registered switch with its default and
// description (as the overview shows them), where settings come from,
// examples and the options. Needs the started switch registry.
std::vector<std::string> HistrelUsageLines();

// A mistake in the command line (an unknown switch): the program ends with
// kExitUsage before anything is written, its message on standard error.
class EUsage : public Exception {
 public:
  using Exception::Exception;
};

// Throws EUsage at the first command-line piece in section PARAMETERS that
// names no registered switch (and is not "?"), naming it: a typo such as
// /RECURSIV- or the rest of a path cut at its "/" (/FILE=src/*.pas) would
// otherwise be ignored and the run would do what nobody asked for.
// Switches of other sections (macros) are not checked.
void RefuseUnknownSwitches();

// For --diff and --check, which write nothing: throws Exception when
// WRITEINI or WRITEREG asks to write the switches (and "?", which wins over
// both, is not given), before they could.
void RefuseWritingSwitches();

// How a run goes besides its mode and its files.
struct THistrelRunOptions {
  // --keep-going: a refused source is reported and passed over, and the run
  // goes on; it then ends as after a failure.
  bool KeepGoing = false;
  // One summary line at the end (HistrelSummaryLine), once the settings
  // were checked and the selection began.
  bool Summary = false;
  // The progress line while the run lasts (THistrelProgress): for a
  // terminal.
  bool Progress = false;
};

// The main procedure, once the units have started: creates the worker,
// hands it USER, INSERT, RECURSIVE, KEEPCVS, KEEPDATE and FILE, or instead
// of FILE the files AFiles names (native paths, see ReadFileList), and calls
// Execute. The first failure (memory that runs out included) ends the run
// and its message is written as one line (on standard output for a run, on
// standard error for a preview), followed on standard error by the reason
// of a refused source (ERefusal) and by a hint to --help when neither FILE
// nor a list was given; the worker is freed either way. With AOptions.KeepGoing a
// refused source is reported so (message and reason) and passed over, and
// the run goes on; it then ends as after a failure. In kDiff and kCheck nothing is written to any
// file: standard output gets the diff or the list instead of the file lines. Returns the exit
// status: for a run kExitSuccess or kExitFailure; for a preview kExitSuccess
// when nothing would change, kExitFailure when something would, kExitUsage
// after a failure. AOptions: --keep-going, the summary and progress lines.
int RunHistrel(const TDateSource& ADateSource = platform::Today,
               THistrelMode AMode = THistrelMode::kRun,
               const std::optional<std::vector<std::string>>& AFiles = std::nullopt,
               const THistrelRunOptions& AOptions = THistrelRunOptions());
