// End-to-end tests of the switch overview and the error message box: in a
// real terminal (a tmux pane of fixed size) and with output to files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/TestSupport.h"

namespace {

using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::RunResult;
using testsupport::TempDir;
using testsupport::WriteFile;
using Screen = std::vector<std::string>;

const std::string kCaption = "List of registered switches";
const std::string kButton = "[  OK  ]";

// The full path of a program found on PATH, or "".
std::string FindOnPath(const std::string& AName) {
  const char* path = std::getenv("PATH");
  std::stringstream directories(path != nullptr ? path : "");
  std::string directory;
  while (std::getline(directories, directory, ':')) {
    std::string candidate = directory;
    candidate += "/";
    candidate += AName;
    if (!directory.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

// A path as a switch value gives it: backslashes, a leading one for the root.
std::string SwitchPath(std::string APath) {
  for (char& c : APath) {
    if (c == '/') c = '\\';
  }
  return APath;
}

std::string Quoted(const std::string& AText) { return "'" + AText + "'"; }

bool Contains(const std::string& AText, const std::string& APart) {
  return AText.find(APart) != std::string::npos;
}

// The row of the screen that contains APart, or -1.
int RowWith(const Screen& AScreen, const std::string& APart) {
  for (std::size_t i = 0; i < AScreen.size(); ++i) {
    if (Contains(AScreen[i], APart)) return static_cast<int>(i);
  }
  return -1;
}

std::string Dump(const Screen& AScreen) {
  std::string text;
  for (std::size_t i = 0; i < AScreen.size(); ++i) {
    text += std::to_string(i) + ": " + AScreen[i] + "\n";
  }
  return text;
}

// A tmux server of its own (its socket lives in a temporary directory)
// with one session of a fixed size running one shell command.
class TmuxSession {
 public:
  TmuxSession(const std::string& ATmux, const TempDir& ADir)
      : FTmux(ATmux), FSocket(ADir / "tmux.socket") {}
  ~TmuxSession() { Tmux({"kill-server"}); }
  TmuxSession(const TmuxSession&) = delete;
  TmuxSession& operator=(const TmuxSession&) = delete;

  void Start(const std::string& ACommand, int AWidth, int AHeight) {
    const RunResult started = Tmux({"new-session", "-d", "-s", "t", "-x", std::to_string(AWidth),
                                    "-y", std::to_string(AHeight), ACommand});
    ASSERT_EQ(started.ExitCode, 0) << started.Err;
  }

  Screen Capture() {
    Screen rows;
    std::stringstream text(Tmux({"capture-pane", "-p", "-t", "t"}).Out);
    std::string row;
    while (std::getline(text, row)) rows.push_back(row);
    return rows;
  }

  // Whether the session's command is still running: the session, and with
  // it the server, ends when the command does.
  bool Running() { return Tmux({"has-session", "-t", "t"}).ExitCode == 0; }

  // Polls the pane until APredicate holds on a settled picture (the same on
  // two captures in a row, so that a half-drawn screen never counts); false
  // once the command has ended without that. No clock decides: a program
  // that hangs is ended by the time limit of its command line. AScreen gets
  // the last picture either way.
  bool WaitFor(const std::function<bool(const Screen&)>& APredicate, Screen* AScreen) {
    Screen previous;
    for (;;) {
      const bool running = Running();
      *AScreen = Capture();
      if (*AScreen == previous && APredicate(*AScreen)) return true;
      if (!running) return false;
      previous = *AScreen;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  void Keys(const std::string& AKey) { Tmux({"send-keys", "-t", "t", AKey}); }

  void Resize(int AWidth, int AHeight) {
    Tmux({"resize-window", "-t", "t", "-x", std::to_string(AWidth), "-y", std::to_string(AHeight)});
  }

 private:
  RunResult Tmux(std::vector<std::string> AArguments) {
    AArguments.insert(AArguments.begin(), {"-S", FSocket, "-f", "/dev/null"});
    return testsupport::Run(FTmux, AArguments, "", {"LC_ALL=C.UTF-8"});
  }

  std::string FTmux;
  std::string FSocket;
};

class OverviewEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { FProgram = testsupport::PrivateProgram(FDir); }

  // A source the tool would rewrite if it ran: a marker line and a marked comment.
  std::string WriteSource() {
    std::string source = FDir / "src/unit.pas";
    WriteFile(source, "{ CVSLOG }\r\n{CVS* a note}\r\nunit x;\r\n");
    return source;
  }

  RunResult RunHistrel(const std::vector<std::string>& AArguments) {
    return testsupport::Run(FProgram, AArguments, FDir.Path(),
                            {"XDG_CONFIG_HOME=" + (FDir / "config")});
  }

  TempDir FDir;
  std::string FProgram;
};

class OverviewInTerminal : public OverviewEndToEnd {
 protected:
  void SetUp() override {
    SKIP_UNDER_WINE(
        "the Windows build shows the overview in a window of its own, which "
        "tests/windows/windows_gui.sh checks");
    OverviewEndToEnd::SetUp();
    if (IsSkipped()) return;
    FTmuxPath = FindOnPath("tmux");
    if (FTmuxPath.empty()) GTEST_SKIP() << "tmux is not installed";
  }

  // Runs histrel with AArguments in an AWidth by AHeight pane; its exit
  // status goes to a file.
  void StartHistrel(TmuxSession& ASession, const std::vector<std::string>& AArguments, int AWidth,
                    int AHeight) {
    // The time limit ends a program that hangs, and with it the tmux server
    // and the test's waiting; also when the test itself dies before it can
    // close the dialog.
    std::string command = "cd " + Quoted(FDir.Path()) +
                          " && LC_ALL=C.UTF-8 XDG_CONFIG_HOME=" + Quoted(FDir / "config") +
                          " timeout --foreground 120 " + Quoted(FProgram);
    for (const std::string& argument : AArguments) command += " " + Quoted(argument);
    command += "; echo $? > " + Quoted(StatusFile());
    ASession.Start(command, AWidth, AHeight);
  }

  std::string StatusFile() const { return FDir / "status"; }

  // The exit status once the program has ended, or "" when the session
  // ended without one. The status is written before the session ends.
  std::string ExitStatus(TmuxSession& ASession) {
    for (;;) {
      const bool running = ASession.Running();
      const std::string status = ReadFile(StatusFile());
      if (!status.empty() && status.back() == '\n') return status.substr(0, status.size() - 1);
      if (!running) return "";
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  std::string FTmuxPath;
};

TEST_F(OverviewInTerminal, ShowsScrollsFollowsResizesAndClosesWithEnter) {
  const std::string source = WriteSource();
  const std::string original = ReadFile(source);
  TmuxSession session(FTmuxPath, FDir);
  StartHistrel(session, {"/?", "/USER=dev", "/FILE=" + SwitchPath(source)}, 80, 24);
  Screen screen;

  // At 80 by 24: caption bar, the framed list from row 2 to 20, the button
  // at the bottom right.
  ASSERT_TRUE(session.WaitFor(
      [](const Screen& s) { return s.size() == 24 && s[22] == std::string(70, ' ') + kButton; },
      &screen))
      << Dump(screen);
  EXPECT_EQ(screen[0], " " + kCaption);
  EXPECT_TRUE(screen[1].empty());
  EXPECT_FALSE(screen[2].empty());
  EXPECT_TRUE(Contains(screen[3], "/REGOFF=-")) << Dump(screen);
  EXPECT_TRUE(Contains(screen[4], "     Opt: +, -"));
  // The description is longer than the box is wide: it wraps after "or".
  EXPECT_TRUE(Contains(
      screen[5], "     Description: This switch switches the readout from the registry in or"))
      << Dump(screen);
  EXPECT_TRUE(Contains(screen[6], "out."));
  EXPECT_TRUE(Contains(screen[8], "/INIOFF=-"));
  EXPECT_FALSE(screen[20].empty());
  EXPECT_TRUE(screen[21].empty());
  EXPECT_TRUE(screen[23].empty());

  session.Keys("End");
  ASSERT_TRUE(session.WaitFor([](const Screen& s) { return RowWith(s, "/REGOFF=-") < 0; }, &screen))
      << Dump(screen);
  int lastDescription = -1;
  for (int row = 3; row < 20; ++row) {
    if (Contains(screen[static_cast<std::size_t>(row)], "Description:")) lastDescription = row;
  }
  EXPECT_GE(lastDescription, 14) << "the last entry at the bottom of the box\n" << Dump(screen);
  EXPECT_EQ(screen[19].find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz/"),
            std::string::npos)
      << "the last row is the last entry's empty line\n"
      << Dump(screen);

  session.Keys("Home");
  ASSERT_TRUE(
      session.WaitFor([](const Screen& s) { return RowWith(s, "/REGOFF=-") == 3; }, &screen))
      << Dump(screen);
  session.Keys("PageDown");
  ASSERT_TRUE(session.WaitFor([](const Screen& s) { return RowWith(s, "/REGOFF=-") < 0; }, &screen))
      << Dump(screen);
  const Screen afterPage = screen;
  session.Keys("Up");
  ASSERT_TRUE(
      session.WaitFor([&afterPage](const Screen& s) { return s[4] == afterPage[3]; }, &screen))
      << "one row up\n"
      << Dump(screen);

  // A larger pane: the box stretches, the button keeps to the bottom right,
  // and the description fits on one row.
  session.Keys("Home");
  session.Resize(100, 30);
  ASSERT_TRUE(session.WaitFor(
      [](const Screen& s) {
        return s.size() == 30 && s[28] == std::string(90, ' ') + kButton &&
               RowWith(s, "/REGOFF=-") == 3;
      },
      &screen))
      << Dump(screen);
  EXPECT_EQ(screen[0], " " + kCaption);
  EXPECT_TRUE(Contains(screen[5], "readout from the registry in or out.")) << Dump(screen);
  EXPECT_FALSE(screen[26].empty());
  EXPECT_TRUE(screen[27].empty());

  // Too small for the dialog: a note, and the program keeps running.
  session.Resize(9, 5);
  ASSERT_TRUE(session.WaitFor(
      [](const Screen& s) { return RowWith(s, "Terminal") >= 0 && RowWith(s, "too small") >= 0; },
      &screen))
      << Dump(screen);
  session.Resize(80, 24);
  ASSERT_TRUE(session.WaitFor(
      [](const Screen& s) { return s.size() == 24 && s[22] == std::string(70, ' ') + kButton; },
      &screen))
      << Dump(screen);

  session.Keys("Enter");
  EXPECT_EQ(ExitStatus(session), "0");
  EXPECT_EQ(ReadFile(source), original) << "the tool did not run";
  EXPECT_FALSE(FileExists(source + ".cvs"));
}

TEST_F(OverviewInTerminal, EscapeSpaceAndQCloseTheOverviewToo) {
  for (const std::string key : {"Escape", "Space", "q"}) {
    TempDir dir;
    TmuxSession session(FTmuxPath, dir);
    std::remove(StatusFile().c_str());
    StartHistrel(session, {"/?"}, 80, 24);
    Screen screen;
    ASSERT_TRUE(
        session.WaitFor([](const Screen& s) { return RowWith(s, "/REGOFF=-") == 3; }, &screen))
        << key << "\n"
        << Dump(screen);
    session.Keys(key);
    EXPECT_EQ(ExitStatus(session), "0") << key;
  }
}

TEST_F(OverviewInTerminal, AFailedWriteIniShowsTheErrorBoxUntilOk) {
  WriteFile(FDir / "blocker", "a file where a directory should be");
  const std::string iniPath = SwitchPath(FDir / "blocker/ini");
  TmuxSession session(FTmuxPath, FDir);
  StartHistrel(session, {"/WRITEINI=all", "/INIPATH=" + iniPath}, 80, 24);
  Screen screen;
  ASSERT_TRUE(session.WaitFor([](const Screen& s) { return RowWith(s, kButton) >= 0; }, &screen))
      << Dump(screen);
  // Titled in the program's language, the message German as it always was.
  const int title = RowWith(screen, " Error ");
  const int message = RowWith(screen, "kann nicht angelegt werden!");
  const int button = RowWith(screen, kButton);
  ASSERT_GT(title, 0) << Dump(screen);
  ASSERT_GT(message, title) << Dump(screen);
  EXPECT_GT(button, message);
  EXPECT_TRUE(Contains(screen[static_cast<std::size_t>(message)], "Der Pfad ")) << Dump(screen);
  // Centred: as much room above the box as below it, give or take a row.
  const int rowsBelow = 24 - 1 - (button + 1);
  EXPECT_LE(std::abs((title)-rowsBelow), 1) << Dump(screen);

  session.Keys("Enter");
  EXPECT_EQ(ExitStatus(session), "1");
  EXPECT_FALSE(FileExists(FDir / "blocker/ini"));
}

TEST_F(OverviewEndToEnd, WithoutATerminalTheOverviewIsWrittenAsText) {
  const std::string source = WriteSource();
  const std::string original = ReadFile(source);
  const RunResult result = RunHistrel({"/?", "/USER=dev", "/FILE=" + SwitchPath(source)});
  EXPECT_EQ(result.ExitCode, 0);
  EXPECT_EQ(result.Err, "");
  const std::string head = kCaption + "\n" + "/REGOFF=-\n" + "     Opt: +, -\n" +
                           "     Description: This switch switches the readout from the "
                           "registry in or out.\n" +
                           "\n" + "/INIOFF=-\n";
  EXPECT_EQ(result.Out.substr(0, head.size()), head);
  // Every entry has four lines, the last of them empty.
  std::vector<std::string> lines;
  std::stringstream text(result.Out);
  std::string line;
  while (std::getline(text, line)) lines.push_back(line);
  ASSERT_EQ((lines.size() - 1) % 4, 0u) << result.Out;
  EXPECT_GE(lines.size(), 1u + 9 * 4);
  for (std::size_t i = 4; i < lines.size(); i += 4) EXPECT_EQ(lines[i], "") << i;
  EXPECT_EQ(ReadFile(source), original) << "the tool did not run";
}

TEST_F(OverviewEndToEnd, TheOverviewWinsOverWriteIni) {
  const RunResult result =
      RunHistrel({"/?", "/WRITEINI=all", "/INIPATH=" + SwitchPath(FDir / "ini")});
  EXPECT_EQ(result.ExitCode, 0);
  EXPECT_EQ(result.Out.rfind(kCaption + "\n", 0), 0u);
  EXPECT_FALSE(FileExists(FDir / "ini")) << "nothing written";
}

TEST_F(OverviewEndToEnd, WithoutATerminalAFailedWriteIniIsOneLineOnStandardError) {
  WriteFile(FDir / "blocker", "a file where a directory should be");
  const RunResult result =
      RunHistrel({"/WRITEINI=all", "/INIPATH=" + SwitchPath(FDir / "blocker/ini")});
  EXPECT_EQ(result.ExitCode, 1);
  EXPECT_EQ(result.Out, "");
  EXPECT_EQ(result.Err.rfind("Der Pfad ", 0), 0u) << result.Err;
  EXPECT_TRUE(Contains(result.Err, " kann nicht angelegt werden!\n")) << result.Err;
  EXPECT_EQ(std::count(result.Err.begin(), result.Err.end(), '\n'), 1);
}

// A run that lasts over a second shows a progress line on standard error
// in a terminal, which is gone when it ends; the summary line stays. The run
// waits for the logs of two sources, which other processes lock for a while.
TEST_F(OverviewInTerminal, ALongRunShowsItsProgressAndRemovesItAtTheEnd) {
  const std::string flock = FindOnPath("flock");
  if (flock.empty()) GTEST_SKIP() << "flock (util-linux) is not installed";
  for (const char* name : {"a.pas", "b.pas", "c.pas"}) {
    WriteFile(FDir / name, "{CVS* a note}\n");
    WriteFile(FDir / (std::string(name) + ".cvs"), "");
  }
  TmuxSession session(FTmuxPath, FDir);
  const std::string command = "cd " + Quoted(FDir.Path()) + " && { " + flock +
                              " a.pas.cvs sleep 1.5 & " + flock +
                              " b.pas.cvs sleep 6 & sleep 0.3; timeout 60 " + Quoted(FProgram) +
                              " /USER=ann -- a.pas b.pas c.pas >/dev/null; echo $? > " +
                              Quoted(StatusFile()) + "; sleep 60; }";
  session.Start(command, 80, 10);
  Screen screen;
  // Which source the line counts depends on how soon the program started;
  // that it stands there while the run waits for b.pas.cvs does not.
  ASSERT_TRUE(session.WaitFor(
      [](const Screen& s) {
        return s[0].rfind("histrel: ", 0) == 0 && Contains(s[0], " scanned, ");
      },
      &screen))
      << Dump(screen);
  ASSERT_TRUE(session.WaitFor(
      [](const Screen& s) {
        return s[0] == "histrel: 3 sources selected, 3 rewritten, 3 notes collected, 0 refused";
      },
      &screen))
      << Dump(screen);
  EXPECT_EQ(ExitStatus(session), "0");
  for (std::size_t row = 1; row < screen.size(); ++row) {
    EXPECT_EQ(screen[row], "") << "the progress line is gone\n" << Dump(screen);
  }
}

}  // namespace
