// The program run: switches read, defaults kept, FILE split, failures
// reported as one line.
#include "app/uHistrelRun.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/uHistrelEnglishConstant.h"
#include "app/uHistrelRegisterSwitches.h"
#include "tests/HistrelTestSupport.h"
#include "tests/SwitchFixture.h"
#include "tests/TestSupport.h"

namespace {

using testsupport::ConsoleCapture;
using testsupport::FixedDate;
using testsupport::ReadFile;
using testsupport::SwitchFixture;
using testsupport::SystemPath;
using testsupport::TempDir;
using testsupport::WriteFile;
using Lines = std::vector<std::string>;

class ProgramRun : public ::testing::Test {
 protected:
  void SetUp() override { InitializeHistrelEnglishConstantUnit(); }

  // The lines that a run with these switches writes on standard output.
  static Lines Run(const std::string& ASwitches) {
    SwitchFixture fixture("histrel " + ASwitches);
    ConsoleCapture console;
    RunHistrel(FixedDate(2003, 5, 14));
    return console.Lines;
  }

  std::string Top() const { return SystemPath(FDir.Path()); }

  TempDir FDir;
};

TEST_F(ProgramRun, ReportsTheFirstMissingSettingInItsOrder) {
  const std::string missing = Top() + "\\missing\\";
  struct Case {
    std::string switches;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"", "The parameter FILE must be indicated!"},  // FILE is tested before USER
      {"/FILE=", "The parameter FILE must be indicated!"},
      {"/FILE=x.pas", "The user must be indicated!"},
      {"/USER= /FILE=x.pas", "The user must be indicated!"},
      {"/USER=ann /FILE=\"\"", "The path must be indicated!"},
      {"/USER=ann /FILE=" + missing + "*.pas", "Cannot access the directory: " + missing},
      {"/USER=ann /FILE=" + missing, "Cannot access the directory: " + missing},
  };
  for (const Case& c : cases) EXPECT_EQ(Run(c.switches), Lines{c.message}) << c.switches;
}

TEST_F(ProgramRun, OnlyThePlusTurnsAYesNoSwitchOn) {
  WriteFile(FDir / "a.pas", "");
  WriteFile(FDir / "sub/b.pas", "");
  struct Case {
    std::string recursive;
    bool walksSubdirectories;
  };
  const std::vector<Case> cases = {{"", true},
                                   {" /RECURSIVE+", true},
                                   {" /RECURSIVE=+", true},
                                   {" /RECURSIVE-", false},
                                   {" /RECURSIVE=on", false},
                                   {" /RECURSIVE=1", false}};
  for (const Case& c : cases) {
    const Lines lines = Run("/USER=ann /FILE=" + Top() + "\\*.pas" + c.recursive);
    EXPECT_EQ(lines.size(), c.walksSubdirectories ? 2u : 1u) << c.recursive;
  }
}

TEST_F(ProgramRun, KeepCvsAndKeepDateHaveTheirDefaultsUnlessGiven) {
  struct Case {
    std::string switches;
    std::string converted;
  };
  const std::vector<Case> cases = {
      {"", "{ann 2003.05.14 a}"},
      {" /KEEPCVS+", "{CVS: ann 2003.05.14 a}"},
      {" /KEEPDATE-", "{ a}"},
      {" /KEEPCVS+ /KEEPDATE=no", "{CVS: a}"},
  };
  for (const Case& c : cases) {
    WriteFile(FDir / "a.pas", "{CVS* a}\n");
    Run("/USER=ann /FILE=" + Top() + "\\a.pas /RECURSIVE-" + c.switches);
    EXPECT_EQ(ReadFile(FDir / "a.pas"), c.converted + "\n") << c.switches;
  }
}

TEST_F(ProgramRun, AnEmptyInsertKeepsTheDefaultMarker) {
  const std::string source = "{CVSLOG}\n(* History *)\n{CVS* a}\n";
  WriteFile(FDir / "a.pas", source);
  Run("/USER=ann /INSERT= /FILE=" + Top() + "\\a.pas");
  EXPECT_EQ(ReadFile(FDir / "a.pas"),
            "{CVSLOG\n   ann 2003.05.14 a\n}\n(* History *)\n{ann 2003.05.14 a}\n");
  WriteFile(FDir / "a.pas", source);
  Run("/USER=ann /INSERT=history /FILE=" + Top() + "\\a.pas");
  EXPECT_EQ(ReadFile(FDir / "a.pas"),
            "{CVSLOG}\n(* History\n     ann 2003.05.14 a\n*)\n{ann 2003.05.14 a}\n");
}

TEST_F(ProgramRun, WalksTheDirectoryThatFileNames) {
  WriteFile(FDir / "src/a.pas", "{CVS* a}\n");
  WriteFile(FDir / "src/b.txt", "");
  Lines lines = Run("/USER=ann /FILE=\"" + Top() + "\\src\"");
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (Lines{Top() + "\\src\\a.pas", Top() + "\\src\\b.txt"}));
  EXPECT_EQ(ReadFile(FDir / "src/a.pas.cvs"), "ann 2003.05.14 a\n\n");
}

TEST_F(ProgramRun, ThreadsTakesANumberFromZeroTo64AndRefusesAnythingElse) {
  WriteFile(FDir / "a.pas", "{CVS* a}\n");
  WriteFile(FDir / "b.pas", "");
  const Lines walked = {Top() + "\\a.pas", Top() + "\\b.pas"};
  const Lines refused = {"The parameter THREADS must be a number from 0 to 64!"};
  struct Case {
    std::string threads;
    bool accepted;
  };
  const std::vector<Case> cases = {{"0", true},   {"1", true},    {"8", true},
                                   {"64", true},  {"65", false},  {"-1", false},
                                   {"4x", false}, {"100", false}, {"=+", false}};
  for (const Case& c : cases) {
    WriteFile(FDir / "a.pas", "{CVS* a}\n");
    std::remove((FDir / "a.pas.cvs").c_str());
    Lines lines = Run("/USER=ann /THREADS=" + c.threads + " /FILE=" + Top() + "\\*.pas");
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, c.accepted ? walked : refused) << c.threads;
    EXPECT_EQ(ReadFile(FDir / "a.pas"), c.accepted ? "{ann 2003.05.14 a}\n" : "{CVS* a}\n")
        << c.threads;
  }
}

TEST(ProgramOptions, AreTakenOutWhereverTheyStandAndAWrongOneIsRefused) {
  struct Case {
    std::vector<const char*> argv;
    THistrelMode mode;
    bool help;
    bool version;
    Lines kept;
    std::string error;
  };
  const std::string unknown = "histrel: unknown option ";
  const std::vector<Case> cases = {
      {{"histrel", "--diff", "/USER=ann", "/FILE=src\\*.pas"},
       THistrelMode::kDiff,
       false,
       false,
       {"histrel", "/USER=ann", "/FILE=src\\*.pas"},
       ""},
      {{"histrel", "/USER=ann", "--check", "/FILE=x.pas"},
       THistrelMode::kCheck,
       false,
       false,
       {"histrel", "/USER=ann", "/FILE=x.pas"},
       ""},
      {{"histrel", "/USER=ann", "/FILE=x.pas", "--help"},
       THistrelMode::kRun,
       true,
       false,
       {"histrel", "/USER=ann", "/FILE=x.pas"},
       ""},
      {{"histrel", "-h"}, THistrelMode::kRun, true, false, {"histrel"}, ""},
      {{"histrel", "/USER=ann", "--version"},
       THistrelMode::kRun,
       false,
       true,
       {"histrel", "/USER=ann"},
       ""},
      {{"histrel", "--diff", "--diff"}, THistrelMode::kDiff, false, false, {"histrel"}, ""},
      // "--" ends the options and the switches: what follows it are files
      // (ProgramOptions.NamesAfterTheDoubleDashAndListsAreTheRunsFiles).
      {{"histrel", "--", "--diff", "-x"}, THistrelMode::kRun, false, false, {"histrel"}, ""},
      // A word outside the switches is no switch, and a single dash makes
      // no option: either would be dropped without a word.
      {{"histrel", "-x", "/USER=ann"},
       THistrelMode::kRun,
       false,
       false,
       {"histrel", "-x", "/USER=ann"},
       "histrel: -x is neither a switch (/NAME=value) nor an option; sources are named after -- "
       "(try --help)"},
      {{"histrel", "/USER=ann", "-check", "extra"},
       THistrelMode::kRun,
       false,
       false,
       {"histrel", "/USER=ann", "-check", "extra"},
       "histrel: -check is neither a switch (/NAME=value) nor an option; did you mean --check? "
       "(try --help)"},
      {{"histrel", " /USER=ann", "", "'/FILE=a b.pas'"},
       THistrelMode::kRun,
       false,
       false,
       {"histrel", " /USER=ann", "", "'/FILE=a b.pas'"},
       "histrel: '/FILE=a b.pas' is neither a switch (/NAME=value) nor an option; sources are "
       "named after -- (try --help)"},
      {{"histrel", "--quiet", "/USER=ann", "  "},
       THistrelMode::kRun,
       false,
       false,
       {"histrel", "/USER=ann", "  "},
       ""},
      {{"histrel", "/USER=ann", "--x", "--y"},
       THistrelMode::kRun,
       false,
       false,
       {"histrel", "/USER=ann"},
       unknown + "--x (try --help)"},
      {{"histrel", "--diff=yes"},
       THistrelMode::kRun,
       false,
       false,
       {"histrel"},
       unknown + "--diff=yes (try --help)"},
      {{"histrel", "--HELP"},
       THistrelMode::kRun,
       false,
       false,
       {"histrel"},
       unknown + "--HELP (try --help)"},
      {{"histrel", "--diff", "--check"},
       THistrelMode::kCheck,
       false,
       false,
       {"histrel"},
       "histrel: --diff and --check exclude each other (try --help)"},
  };
  for (const Case& c : cases) {
    const THistrelOptions options =
        ReadHistrelOptions(static_cast<int>(c.argv.size()), c.argv.data());
    const std::string name = c.argv.size() > 1 ? c.argv[1] : "";
    EXPECT_EQ(options.Mode, c.mode) << name;
    EXPECT_EQ(options.Help, c.help) << name;
    EXPECT_EQ(options.Version, c.version) << name;
    EXPECT_EQ(options.Arguments, c.kept) << name;
    EXPECT_EQ(options.Error, c.error) << name;
  }
}

// After "--" every argument is a file, whatever it looks like; --files-from
// names a list of files. Either gives the run a list, which may be empty.
TEST(ProgramOptions, NamesAfterTheDoubleDashAndFileListsAreTheRunsFiles) {
  struct Case {
    std::vector<const char*> argv;
    Lines kept;
    bool given;
    Lines lists;
    Lines files;
    std::string error;
  };
  const std::string needsList = "histrel: --files-from needs the name of a file list (try --help)";
  const std::vector<Case> cases = {
      {{"histrel", "/USER=ann", "--", "b.pas", "src/a.pas"},
       {"histrel", "/USER=ann"},
       true,
       {},
       {"b.pas", "src/a.pas"},
       ""},
      {{"histrel", "--", "/USER=ann", "--diff", "-h", "--", "-", ""},
       {"histrel"},
       true,
       {},
       {"/USER=ann", "--diff", "-h", "--", "-", ""},
       ""},
      {{"histrel", "/USER=ann", "--"}, {"histrel", "/USER=ann"}, true, {}, {}, ""},
      {{"histrel", "/USER=ann"}, {"histrel", "/USER=ann"}, false, {}, {}, ""},
      {{"histrel", "--files-from=-", "/USER=ann"}, {"histrel", "/USER=ann"}, true, {"-"}, {}, ""},
      {{"histrel", "--files-from", "list.txt", "--check", "--files-from=b", "--", "c.pas"},
       {"histrel"},
       true,
       {"list.txt", "b"},
       {"c.pas"},
       ""},
      {{"histrel", "--files-from", "--diff"}, {"histrel"}, true, {"--diff"}, {}, ""},
      {{"histrel", "--files-from="}, {"histrel"}, true, {}, {}, needsList},
      {{"histrel", "/USER=ann", "--files-from"}, {"histrel", "/USER=ann"}, true, {}, {}, needsList},
      {{"histrel", "--files-from-x"},
       {"histrel"},
       false,
       {},
       {},
       "histrel: unknown option "
       "--files-from-x (try --help)"},
  };
  for (const Case& c : cases) {
    const THistrelOptions options =
        ReadHistrelOptions(static_cast<int>(c.argv.size()), c.argv.data());
    std::string name;
    for (const char* argument : c.argv) name += std::string(argument) + " ";
    EXPECT_EQ(options.Arguments, c.kept) << name;
    EXPECT_EQ(options.FileListGiven, c.given) << name;
    EXPECT_EQ(options.FileLists, c.lists) << name;
    EXPECT_EQ(options.Files, c.files) << name;
    EXPECT_EQ(options.Error, c.error) << name;
  }
}

TEST(SplitFileList, TakesNulBytesOrElseLineEndsAndLeavesEmptyNamesOut) {
  using namespace std::string_literals;
  struct Case {
    std::string text;
    Lines names;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"a.pas", {"a.pas"}},
      {"a.pas\nsrc/b.pas\n", {"a.pas", "src/b.pas"}},
      {"a.pas\r\n\r\nsrc/b.pas\r\n\n", {"a.pas", "src/b.pas"}},
      {"a b.pas\n\n\nc.pas", {"a b.pas", "c.pas"}},
      {"a\rb.pas\n", {"a\rb.pas"}},  // a CR without LF is a byte of the name
      {"a.pas\0src/b.pas\0"s, {"a.pas", "src/b.pas"}},
      {"\0\0a.pas\0\0"s, {"a.pas"}},
      // With NUL bytes, line ends belong to the names, as git diff -z gives them.
      {"new\nline.pas\0b.pas\r\n\0"s, {"new\nline.pas", "b.pas\r\n"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitFileList(c.text), c.names) << c.text;
}

TEST(ReadFileList, ReadsEachListThenTheNamesAfterTheDoubleDash) {
  TempDir dir;
  WriteFile(dir / "one.txt", "a.pas\r\nsrc/b.pas\r\n");
  WriteFile(dir / "two.txt", std::string("c.pas\0", 6));
  const std::string one = dir / "one.txt";
  const std::string two = "--files-from=" + dir / "two.txt";
  const std::vector<const char*> argv = {"histrel", "--files-from", one.c_str(), two.c_str(),
                                         "--",      "d.pas",        ""};
  THistrelOptions options = ReadHistrelOptions(static_cast<int>(argv.size()), argv.data());
  EXPECT_EQ(ReadFileList(options), (Lines{"a.pas", "src/b.pas", "c.pas", "d.pas"}));

  options = ReadHistrelOptions(2, std::vector<const char*>{"histrel", "--"}.data());
  EXPECT_EQ(ReadFileList(options), Lines{});
  options = ReadHistrelOptions(1, std::vector<const char*>{"histrel"}.data());
  EXPECT_EQ(ReadFileList(options), std::nullopt);

  for (const std::string& list : {dir / "missing.txt", dir.Path()}) {
    options.FileListGiven = true;
    options.FileLists = {list};
    try {
      ReadFileList(options);
      ADD_FAILURE() << "no failure for " << list;
    } catch (const Exception& failure) {
      EXPECT_EQ(failure.Message(),
                "histrel: cannot read the file list " + list + " (--files-from)");
    }
  }
}

// A list replaces FILE, from wherever it comes, and RECURSIVE: each file is
// announced and processed in the order given.
TEST_F(ProgramRun, AListIsProcessedInItsOrderInsteadOfFile) {
  WriteFile(FDir / "a.pas", "{CVS* a}\n");
  WriteFile(FDir / "sub/b.pas", "{CVS* b}\n");
  WriteFile(FDir / "sub/deeper/c.pas", "{CVS* c}\n");
  const testsupport::CurrentDirectory inTree(FDir.Path());
  struct Case {
    std::string switches;
    Lines files;
    int status;
    Lines lines;
  };
  const std::vector<Case> cases = {
      {"/USER=ann", {"sub/b.pas", "a.pas"}, kExitSuccess, {"sub\\b.pas", ".\\a.pas"}},
      {"/USER=ann /FILE=*.pas /RECURSIVE+", {"a.pas"}, kExitSuccess, {".\\a.pas"}},
      {"/USER=ann /FILE=*.pas", {}, kExitSuccess, {}},
      {"/FILE=*.pas", {"a.pas"}, kExitFailure, {"The user must be indicated!"}},
  };
  for (const Case& c : cases) {
    WriteFile(FDir / "a.pas", "{CVS* a}\n");
    WriteFile(FDir / "sub/b.pas", "{CVS* b}\n");
    testsupport::SwitchFixture fixture("histrel " + c.switches);
    ConsoleCapture console;
    const int status = RunHistrel(FixedDate(2003, 5, 14), THistrelMode::kRun, c.files);
    EXPECT_EQ(status, c.status) << c.switches;
    EXPECT_EQ(console.Lines, c.lines) << c.switches;
    EXPECT_TRUE(console.ErrorLines.empty()) << c.switches;
    for (const char* name : {"a.pas", "sub/b.pas"}) {
      const bool listed = std::find(c.files.begin(), c.files.end(), name) != c.files.end() &&
                          status == kExitSuccess;
      EXPECT_EQ(ReadFile(FDir / name).rfind("{ann 2003.05.14 ", 0) == 0, listed)
          << c.switches << " " << name;
    }
    EXPECT_EQ(ReadFile(FDir / "sub/deeper/c.pas"), "{CVS* c}\n") << c.switches;
  }
}

// Every message a run can end with, and the status it ends with: 1 for a
// run (the message on standard output), 2 for a preview (the message on
// standard error, standard output left to the diff or the list).
TEST_F(ProgramRun, EveryFailureEndsWithItsStatusInEveryMode) {
  WriteFile(FDir / "ro/a.pas", "{CVS* a}\n");
  ASSERT_EQ(chmod((FDir / "ro/a.pas").c_str(), 0444), 0);
  WriteFile(FDir / "tmp/a.pas", "{CVS* a}\n");
  WriteFile(FDir / "tmp/a.tmp", "taken");
  WriteFile(FDir / "line/a.pas", "unit A;\n// CVSLOG\n{CVS* a}\n");
  WriteFile(FDir / "user/a.pas", "{CVS* a}\n");
  // A log planted as a link to another file, or as a FIFO: every mode
  // refuses it alike, neither showing the file nor waiting for a writer.
  WriteFile(FDir / "secret", "not to be shown\n");
  WriteFile(FDir / "link/a.pas", "{CVS* a}\n");
  ASSERT_EQ(symlink((FDir / "secret").c_str(), (FDir / "link/a.pas.cvs").c_str()), 0);
  WriteFile(FDir / "fifo/a.pas", "{CVS* a}\n");
  ASSERT_EQ(mkfifo((FDir / "fifo/a.pas.cvs").c_str(), 0644), 0);
  // A link that leads nowhere, and a second name of another file.
  WriteFile(FDir / "dangling/a.pas", "{CVS* a}\n");
  ASSERT_EQ(symlink((FDir / "nowhere").c_str(), (FDir / "dangling/a.pas.cvs").c_str()), 0);
  WriteFile(FDir / "hard/a.pas", "{CVS* a}\n");
  ASSERT_EQ(link((FDir / "secret").c_str(), (FDir / "hard/a.pas.cvs").c_str()), 0);
  const std::string missing = Top() + "\\missing\\";
  // A refused source's reason follows its message on standard error; a
  // read-only source is no failure of a preview, which shows its notes.
  struct Case {
    std::string switches;
    std::string message;
    std::string reason;
    bool previewGoesOn = false;
  };
  std::vector<Case> cases = {
      {"", "The parameter FILE must be indicated!", ""},
      {"/FILE=x.pas", "The user must be indicated!", ""},
      {"/USER=ann /FILE=\"\"", "The path must be indicated!", ""},
      {"/USER=ann /FILE=" + missing, "Cannot access the directory: " + missing, ""},
      {"/USER=ann /FILE=" + Top() + "\\none.pas /RECURSIVE-",
       "The file " + Top() + "\\none.pas cannot be edited!",
       "Reason: " + Top() + "\\none.pas does not exist."},
      {"/USER=ann /FILE=" + Top() + "\\ro\\a.pas /RECURSIVE-",
       "The file " + Top() + "\\ro\\a.pas cannot be edited!",
       "Reason: " + Top() + "\\ro\\a.pas is not writable.", true},
      {"/USER=ann /FILE=" + Top() + "\\tmp\\a.pas /RECURSIVE-",
       "The temporary file " + Top() + "\\tmp\\a.tmp already exists!",
       "Reason: " + Top() +
           "\\tmp\\a.tmp was not left behind by a killed run of this tool, so it is kept."},
      {"/USER=ann /FILE=" + Top() + "\\line\\a.pas /RECURSIVE-",
       "The marker at " + Top() +
           "\\line\\a.pas:2 cannot take the history: only a { } or (* *) comment can hold it!",
       "Reason: a // comment ends with its line, so the history would become code; put the "
       "marker in a { } or (* *) comment."},
      {"/USER=ann /FILE=" + Top() + "\\link\\a.pas /RECURSIVE-",
       "The file " + Top() + "\\link\\a.pas cannot be edited!",
       "Reason: " + Top() + "\\link\\a.pas.cvs is a symbolic link, which is not followed there."},
      {"/USER=ann /FILE=" + Top() + "\\fifo\\a.pas /RECURSIVE-",
       "The file " + Top() + "\\fifo\\a.pas cannot be edited!",
       "Reason: " + Top() + "\\fifo\\a.pas.cvs is a FIFO."},
      {"/USER=ann /FILE=" + Top() + "\\dangling\\a.pas /RECURSIVE-",
       "The file " + Top() + "\\dangling\\a.pas cannot be edited!",
       "Reason: " + Top() +
           "\\dangling\\a.pas.cvs is a symbolic link, which is not followed there."},
      {"/USER=ann /FILE=" + Top() + "\\hard\\a.pas /RECURSIVE-",
       "The file " + Top() + "\\hard\\a.pas cannot be edited!",
       "Reason: " + Top() + "\\hard\\a.pas.cvs has a second name (a hard link)."},
      // A user that would end the converted note early changes the code.
      {"/USER=a} /FILE=" + Top() + "\\user\\a.pas /RECURSIVE-",
       "The rewrite of " + Top() +
           "\\user\\a.pas would change its code, so the file was left as "
           "it is!",
       "Reason: the new text would differ from the old one outside its comments (a user name "
       "holding } does that)."},
  };
  // A log of another user, which only root can plant here.
  if (geteuid() == 0) {
    WriteFile(FDir / "owner/a.pas", "{CVS* a}\n");
    WriteFile(FDir / "owner/a.pas.cvs", "");
    ASSERT_EQ(chown((FDir / "owner/a.pas.cvs").c_str(), 65534, 65534), 0);
    cases.push_back({"/USER=ann /FILE=" + Top() + "\\owner\\a.pas /RECURSIVE-",
                     "The file " + Top() + "\\owner\\a.pas cannot be edited!",
                     "Reason: the log " + Top() + "\\owner\\a.pas.cvs belongs to another user."});
  }
  // What a preview says of a source that a run would refuse, and shows.
  const auto warning = [](const Case& ACase) {
    const std::string shown = ACase.message.substr(9, ACase.message.find(" cannot") - 9);
    return Lines{"Warning: a run would not edit the file " + shown + ".", ACase.reason};
  };
  // Only the missing FILE is followed by a hint, on standard error.
  const auto hintAfter = [](const std::string& AMessage) {
    return AMessage == "The parameter FILE must be indicated!"
               ? Lines{"Try 'histrel --help' for more information."}
               : Lines{};
  };
  for (const THistrelMode mode : {THistrelMode::kRun, THistrelMode::kDiff, THistrelMode::kCheck}) {
    for (const Case& c : cases) {
      testsupport::SwitchFixture fixture("histrel " + c.switches);
      ConsoleCapture console;
      const int status = RunHistrel(FixedDate(2003, 5, 14), mode);
      Lines errors = hintAfter(c.message);
      if (!c.reason.empty()) errors.insert(errors.begin(), c.reason);
      if (mode == THistrelMode::kRun) {
        EXPECT_EQ(status, kExitFailure) << c.message;
        EXPECT_EQ(console.Lines, Lines{c.message});
      } else if (c.previewGoesOn) {
        EXPECT_EQ(status, kExitFailure) << c.message;
        EXPECT_FALSE(console.Lines.empty()) << c.message;
        errors = warning(c);
      } else {
        EXPECT_EQ(status, kExitUsage) << c.message;
        EXPECT_TRUE(console.Lines.empty()) << c.message;
        errors.insert(errors.begin(), c.message);
      }
      EXPECT_EQ(console.ErrorLines, errors) << c.message;
      if (!errors.empty() && !(c.previewGoesOn && mode != THistrelMode::kRun)) {
        EXPECT_EQ(console.InOrder.back(), "error: " + errors.back()) << "the hint comes last";
      }
    }
  }
  // Each file that FILE names above, given in a list instead: the same
  // message, after the file's line in a run; FILE is not used.
  for (const THistrelMode mode : {THistrelMode::kRun, THistrelMode::kDiff, THistrelMode::kCheck}) {
    for (const Case& c : cases) {
      const std::string::size_type file = c.switches.find("/FILE=" + Top());
      if (file == std::string::npos) continue;
      std::string native = c.switches.substr(file + 6);
      native = native.substr(0, native.find(' '));
      if (native.back() == '\\') continue;  // a directory: no file to name
      for (char& ch : native) {
        if (ch == '\\') ch = '/';
      }
      const std::string user = c.switches.substr(0, c.switches.find(' '));
      testsupport::SwitchFixture fixture("histrel " + user + " /FILE=" + Top() + "\\*.pas");
      ConsoleCapture console;
      const int status = RunHistrel(FixedDate(2003, 5, 14), mode, Lines{native});
      const std::string shown = SystemPath(native);
      if (mode == THistrelMode::kRun) {
        EXPECT_EQ(status, kExitFailure) << c.message;
        EXPECT_EQ(console.Lines, (Lines{shown, c.message}));
        EXPECT_EQ(console.ErrorLines, Lines{c.reason}) << c.message;
      } else if (c.previewGoesOn) {
        EXPECT_EQ(status, kExitFailure) << c.message;
        EXPECT_EQ(console.ErrorLines, warning(c));
      } else {
        EXPECT_EQ(status, kExitUsage) << c.message;
        EXPECT_TRUE(console.Lines.empty()) << c.message;
        EXPECT_EQ(console.ErrorLines, (Lines{c.message, c.reason}));
      }
    }
  }
  EXPECT_EQ(ReadFile(FDir / "tmp/a.pas"), "{CVS* a}\n");
  EXPECT_EQ(ReadFile(FDir / "tmp/a.tmp"), "taken");
  EXPECT_EQ(ReadFile(FDir / "line/a.pas"), "unit A;\n// CVSLOG\n{CVS* a}\n");
  EXPECT_FALSE(testsupport::FileExists(FDir / "line/a.pas.cvs"));
  EXPECT_EQ(ReadFile(FDir / "user/a.pas"), "{CVS* a}\n");
  EXPECT_FALSE(testsupport::FileExists(FDir / "user/a.pas.cvs"));
  EXPECT_FALSE(testsupport::FileExists(FDir / "user/a.tmp"));
}

// The preview's output names files relative to the current directory.
TEST_F(ProgramRun, APreviewEndsWithOneWhenSomethingWouldChangeAndARunWithZero) {
  WriteFile(FDir / "plain/a.pas", "unit A;\r\n");
  WriteFile(FDir / "marked/a.pas", "{CVS* a}\r\n");
  const Lines diff = {"diff --git a/marked/a.pas b/marked/a.pas",
                      "--- a/marked/a.pas",
                      "+++ b/marked/a.pas",
                      "@@ -1 +1 @@",
                      "-{CVS* a}\r",
                      "+{ann 2003.05.14 a}\r",
                      "diff --git a/marked/a.pas.cvs b/marked/a.pas.cvs",
                      "new file mode 100644",
                      "--- /dev/null",
                      "+++ b/marked/a.pas.cvs",
                      "@@ -0,0 +1,2 @@",
                      "+ann 2003.05.14 a\r",
                      "+\r"};
  struct Case {
    std::string directory;
    THistrelMode mode;
    int status;
    Lines lines;
  };
  const std::vector<Case> cases = {
      {"plain", THistrelMode::kDiff, kExitSuccess, {}},
      {"plain", THistrelMode::kCheck, kExitSuccess, {}},
      {"marked", THistrelMode::kCheck, kExitFailure, {"marked/a.pas:1: a"}},
      {"marked", THistrelMode::kDiff, kExitFailure, diff},
      {"plain", THistrelMode::kRun, kExitSuccess, {"plain\\a.pas"}},
      {"marked", THistrelMode::kRun, kExitSuccess, {"marked\\a.pas"}},
  };
  const testsupport::CurrentDirectory inTree(FDir.Path());
  for (const Case& c : cases) {
    testsupport::SwitchFixture fixture("histrel /USER=ann /FILE=" + c.directory);
    ConsoleCapture console;
    EXPECT_EQ(RunHistrel(FixedDate(2003, 5, 14), c.mode), c.status) << c.directory;
    EXPECT_EQ(console.Lines, c.lines) << c.directory;
    EXPECT_TRUE(console.ErrorLines.empty()) << c.directory;
  }
  EXPECT_EQ(ReadFile(FDir / "marked/a.pas"), "{ann 2003.05.14 a}\r\n") << "only the run writes";
}

std::string Repeated(const std::string& APiece, int ATimes) {
  std::string text;
  for (int i = 0; i < ATimes; ++i) text += APiece;
  return text;
}

// --check writes a line per note that a run would collect, "path:line:
// text", in the order of the walk and of the lines; a refused source shows
// none of its notes, only the failure.
TEST_F(ProgramRun, TheCheckListsEachNoteAsPathLineAndText) {
  const std::string longNote(250, 'x');
  struct Case {
    std::string label;
    std::vector<std::pair<std::string, std::string>> files;
    int status;
    Lines lines;
    Lines errors;
  };
  const std::vector<Case> cases = {
      {"brace",
       {{"a.pas", "unit A;\n{CVS* one line }\n"}},
       kExitFailure,
       {"brace/a.pas:2: one line"},
       {}},
      {"lines",
       {{"a.pas", "unit A;\n\n  x := 1; {CVS* first\n    second  \n\n  third}  y := 2;\n"}},
       kExitFailure,
       {"lines/a.pas:3: first second third"},
       {}},
      {"line",
       {{"a.pas", "unit A;\r\n\r\n  // CVS*  a line note \r\n"}},
       kExitFailure,
       {"line/a.pas:3: a line note"},
       {}},
      {"two",
       {{"a.pas", "{CVSLOG}\n{CVS* one}\nbegin\n// CVS* two\n{CVS* three}\n"}},
       kExitFailure,
       {"two/a.pas:2: one", "two/a.pas:4: two", "two/a.pas:5: three"},
       {}},
      {"files",
       {{"b.pas", "\n{CVS* in b}\n"}, {"sub/a.pas", "{CVS* in sub}\n"}},
       kExitFailure,
       {"files/b.pas:2: in b", "files/sub/a.pas:1: in sub"},
       {}},
      {"name",
       {{"a\x1B[2J.pas", "{CVS* cleared}\n"}},
       kExitFailure,
       {"\"name/a\\033[2J.pas\":1: cleared"},
       {}},
      {"text",
       {{"a.pas", "{CVS* red \x1B[31m\n here}\n"}},
       kExitFailure,
       {"text/a.pas:1: \"red \\033[31m here\""},
       {}},
      {"long",
       {{"a.pas", "{CVS* " + longNote + "}\n"}},
       kExitFailure,
       {"long/a.pas:1: " + longNote.substr(0, 200) + "..."},
       {}},
      // In a UTF-8 source the cut falls before a character, never inside it.
      {"utf8",
       {{"a.pas", "{CVS* a" + Repeated("\xC3\xA9", 150) + "}\n"}},
       kExitFailure,
       {"utf8/a.pas:1: a" + Repeated("\xC3\xA9", 99) + "..."},
       {}},
      {"none", {{"a.pas", "unit A; { CVS is not a note }\n"}}, kExitSuccess, {}, {}},
      // A read-only source shows its notes, as in checkouts where files stay
      // read-only until they are opened for editing; a run would refuse it.
      {"readonly",
       {{"a.pas", "{CVS* before}\n"}, {"sub/b.pas", "{CVS* refused}\n"}},
       kExitFailure,
       {"readonly/a.pas:1: before", "readonly/sub/b.pas:1: refused"},
       {"Warning: a run would not edit the file readonly\\sub\\b.pas.",
        "Reason: readonly\\sub\\b.pas is not writable."}},
      {"refused",
       {{"a.pas", "{CVS* before}\n"}, {"sub/b.pas", "// CVSLOG\n{CVS* refused}\n"}},
       kExitUsage,
       {"refused/a.pas:1: before"},
       {"The marker at refused\\sub\\b.pas:1 cannot take the history: only a { } or (* *) comment "
        "can hold it!",
        "Reason: a // comment ends with its line, so the history would become code; put the "
        "marker in a { } or (* *) comment."}},
  };
  for (const Case& c : cases) {
    for (const auto& file : c.files) WriteFile(FDir / (c.label + "/" + file.first), file.second);
  }
  // A run would refuse it after its notes were read.
  ASSERT_EQ(chmod((FDir / "readonly/sub/b.pas").c_str(), 0444), 0);
  const testsupport::CurrentDirectory inTree(FDir.Path());
  for (const Case& c : cases) {
    testsupport::SwitchFixture fixture("histrel /USER=ann /RECURSIVE+ /FILE=" + c.label);
    ConsoleCapture console;
    EXPECT_EQ(RunHistrel(FixedDate(2003, 5, 14), THistrelMode::kCheck), c.status) << c.label;
    EXPECT_EQ(console.Lines, c.lines) << c.label;
    EXPECT_EQ(console.ErrorLines, c.errors) << c.label;
    for (const auto& file : c.files) {
      EXPECT_EQ(ReadFile(FDir / (c.label + "/" + file.first)), file.second) << "the check wrote";
    }
  }
}

TEST(UnknownSwitches, TheFirstEndsTheProgramNamedAndAPathCutAtItsSlashesIsShownWritten) {
  InitializeHistrelEnglishConstantUnit();
  struct Case {
    std::string commandLine;
    std::string refusal;  // empty: every piece is known
  };
  const std::string slashHint =
      ": a \"/\" begins a switch, so FILE ends before it; write the path with \\ ('/FILE=";
  const std::vector<Case> cases = {
      {"histrel /USER=ann /[MACROS].HOME=x /? /user=b /keepcvs+ /WRITEINI=[Parameters] "
       "/[Other].X=1 /SHOWHIDDEN+ /EXTENSIONS=.pas /FILE=c:\\src\\x.pas",
       ""},
      {"histrel /USER=ann /RECURSIV- /FILE=x.pas",
       "histrel: unknown switch /RECURSIV- (see --help)"},
      {"histrel /USER=ann /FILE=src/*.pas",
       "histrel: unknown switch /*.pas" + slashHint +
           "src\\*.pas') or give the sources after -- (see --help)"},
      {"histrel /FILE=src/forms/Main.pas /USER=ann /KEEPCVS+",
       "histrel: unknown switch /forms" + slashHint +
           "src\\forms\\Main.pas') or give the sources after -- (see --help)"},
      // Given apart, the piece is no part of FILE's path.
      {"histrel /FILE=src /x.pas", "histrel: unknown switch /x.pas (see --help)"},
  };
  for (const Case& c : cases) {
    testsupport::SwitchFixture fixture(c.commandLine);
    InitializeHistrelRegisterSwitchesUnit();
    std::string refusal;
    try {
      RefuseUnknownSwitches();
    } catch (const EUsage& mistake) {
      refusal = mistake.Message();
    }
    EXPECT_EQ(refusal, c.refusal) << c.commandLine;
  }
}

}  // namespace
