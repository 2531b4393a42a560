// histrel run by root over a tree that another user (uid 65534) can write:
// names chosen to act on root's terminal, and a tree deeper than the
// descriptors the run may hold. A name that holds a control character is
// shown in double quotes with C escapes wherever the run shows it; a tree it
// cannot walk to the end stops the run with a message naming the directory.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/HostileTreeFixture.h"

namespace {

using namespace hostiletree;  // NOLINT(google-build-using-namespace)

class HostileNames : public hostiletree::HostileTree {
 protected:
  // Removes everything the attacker planted, for the next case.
  void Clear() const {
    for (const auto& entry : fs::directory_iterator(FTree)) fs::remove_all(entry.path());
  }
  // How the run shows the file AName of the tree: as Shown does, or, when
  // AEscaped differs from AName, the whole path in double quotes with its
  // backslashes doubled and AEscaped for the name.
  std::string ShownQuoted(const std::string& AName, const std::string& AEscaped) const {
    if (AEscaped == AName) return Shown(AName);
    std::string quoted = "\"";
    for (const char c : SystemPath(FTree) + "\\") quoted += c == '\\' ? "\\\\" : std::string(1, c);
    return quoted + AEscaped + "\"";
  }
  RunResult Check() const {
    return testsupport::Run(
        "/usr/bin/timeout",
        {"60", FProgram, "--check", "/USER=ann", "/FILE=" + SystemPath(FTree) + "\\*.pas"}, FTree);
  }
};

struct NameCase {
  const char* Label;
  std::string Name;
  // The name as the run shows it: its escapes, or the name itself.
  std::string Escaped;
};

const std::vector<NameCase> kNames = {
    {"ESC retitling the terminal", "\x1B]0;owned\x07.pas", "\\033]0;owned\\a.pas"},
    {"ESC clearing the terminal", "\x1B[2J\x1B[H.pas", "\\033[2J\\033[H.pas"},
    {"BEL", "bell\x07.pas", "bell\\a.pas"},
    {"CR faking a line", "a.pas\rALL NOTES COLLECTED", "a.pas\\rALL NOTES COLLECTED"},
    {"LF faking a line", "a.pas\nALL NOTES COLLECTED", "a.pas\\nALL NOTES COLLECTED"},
    {"no control character", "caf\xE9 \"x\".pas", "caf\xE9 \"x\".pas"},
};

TEST_F(HostileNames, TheWalkAnnouncesANameWithAControlCharacterQuoted) {
  for (const NameCase& c : kNames) {
    SCOPED_TRACE(c.Label);
    Plant(c.Name, kMarked);
    const RunResult result = RunOn("\\*.pas");
    EXPECT_EQ(result.Out, ShownQuoted(c.Name, c.Escaped) + "\n");
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_NE(ReadFile(FTree + "/" + c.Name), kMarked) << "the source was not rewritten";
    Clear();
  }
}

TEST_F(HostileNames, TheCannotBeEditedMessageQuotesTheName) {
  for (const NameCase& c : kNames) {
    SCOPED_TRACE(c.Label);
    Plant(c.Name, kMarked);
    // No write bit: the read-only attribute, which holds for root too.
    ASSERT_EQ(chmod((FTree + "/" + c.Name).c_str(), 0444), 0);
    const std::string shown = ShownQuoted(c.Name, c.Escaped);
    const RunResult result = RunOn("\\*.pas");
    std::string expected = shown;
    expected.append("\nThe file ").append(shown).append(" cannot be edited!\n");
    EXPECT_EQ(result.Out, expected);
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_EQ(ReadFile(FTree + "/" + c.Name), kMarked);
    Clear();
  }
}

TEST_F(HostileNames, CheckListsASourceWithAControlCharacterQuoted) {
  for (const NameCase& c : kNames) {
    SCOPED_TRACE(c.Label);
    Plant(c.Name, kMarked);
    const auto before = Everything();
    // Run in the tree, so that the list names the source alone.
    const RunResult result = Check();
    EXPECT_EQ(result.Out,
              (c.Escaped == c.Name ? c.Name : "\"" + c.Escaped + "\"") + ":3: A note.\n");
    EXPECT_EQ(result.ExitCode, 1) << result.Err;
    ExpectUntouchedBut(before, {});
    Clear();
  }
}

// A temporary file of the attacker's in the source's temporary name: the
// message names it quoted as well.
TEST_F(HostileNames, TheTemporaryFileMessageQuotesTheName) {
  Plant("\x1B]0;owned\x07.pas", kMarked);
  Plant("\x1B]0;owned\x07.tmp", "the attacker's");
  const std::string shown = ShownQuoted("\x1B]0;owned\x07.pas", "\\033]0;owned\\a.pas");
  const RunResult result = RunOn("\\*.pas");
  EXPECT_EQ(result.Out, shown + "\nThe temporary file " +
                            ShownQuoted("\x1B]0;owned\x07.tmp", "\\033]0;owned\\a.tmp") +
                            " already exists!\n");
  EXPECT_EQ(result.ExitCode, 1);
  EXPECT_EQ(ReadFile(FTree + "/\x1B]0;owned\x07.pas"), kMarked);
}

// A name with a backslash is passed over with a warning, which quotes it
// when it holds a control character too.
TEST_F(HostileNames, TheWarningAboutABackslashQuotesTheName) {
  for (const NameCase& c : kNames) {
    SCOPED_TRACE(c.Label);
    const std::string name = "x\\" + c.Name;
    Plant(name, kMarked);
    const RunResult result = RunOn("\\*.pas");
    EXPECT_EQ(result.Out, "");
    const std::string escaped = c.Escaped == c.Name ? name : "x\\\\" + c.Escaped;
    // The only file is passed over, so the mask selects nothing.
    EXPECT_EQ(result.Err, "The entry " + ShownQuoted(name, escaped) +
                              " is passed over: its name holds a backslash.\nhistrel: FILE " +
                              SystemPath(FTree) + "\\*.pas selects no file\n");
    EXPECT_EQ(result.ExitCode, 0);
    Clear();
  }
}

// A tree of 100 levels, each holding the next, with a marked source at the
// bottom: the walk keeps a descriptor for every level.
TEST_F(HostileNames, ATreeDeeperThanTheDescriptorsAllowStopsTheRunNamingTheDirectory) {
  constexpr int kDepth = 100;
  std::string level = FTree;
  std::string shownLevel = SystemPath(FTree);
  for (int depth = 0; depth < kDepth; ++depth) {
    level += "/d";
    shownLevel += "\\d";
    fs::create_directory(level);
    Own(level);
  }
  const std::string source = level + "/u.pas";
  WriteFile(source, kMarked);
  Own(source);
  struct rlimit limit {};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  const std::string stopped = " cannot be opened; the files in and below it were not processed!\n";
  struct Case {
    const char* Label;
    // How the shell lowers the limit of descriptors before it starts the run.
    const char* Limit;
    bool Walked;
  };
  for (const Case& c : {Case{"soft and hard limit 64", "ulimit -n 64", false},
                        Case{"soft limit 64, the run raises it", "ulimit -S -n 64", true}}) {
    SCOPED_TRACE(c.Label);
    if (c.Walked && limit.rlim_max != RLIM_INFINITY && limit.rlim_max < rlim_t{4} * kDepth) {
      continue;  // the hard limit is too low here for the tree
    }
    const auto before = Everything();
    const RunResult result = testsupport::Run(
        "/bin/sh", {"-c", std::string(c.Limit) + " && exec /usr/bin/timeout 60 \"$0\" \"$@\"",
                    FProgram, "/USER=ann", "/FILE=" + SystemPath(FTree) + "\\*.pas"});
    if (c.Walked) {
      EXPECT_EQ(result.Out, shownLevel + "\\u.pas\n");
      EXPECT_EQ(result.ExitCode, 0) << result.Err;
      ExpectUntouchedBut(before, {source, source + ".cvs"});
      EXPECT_NE(ReadFile(source), kMarked);
      continue;
    }
    EXPECT_EQ(result.ExitCode, 1) << result.Out;
    // The directory named is one of the levels above the source, well
    // below the top.
    const std::string head = "The directory " + SystemPath(FTree) + "\\d\\d";
    ASSERT_EQ(result.Out.compare(0, head.size(), head), 0) << result.Out;
    ASSERT_GT(result.Out.size(), head.size() + stopped.size());
    ASSERT_EQ(result.Out.compare(result.Out.size() - stopped.size(), stopped.size(), stopped), 0)
        << result.Out;
    const std::string named = result.Out.substr(
        std::string("The directory ").size(),
        result.Out.size() - stopped.size() - std::string("The directory ").size());
    EXPECT_EQ(shownLevel.compare(0, named.size(), named), 0) << named;
    EXPECT_LT(named.size(), shownLevel.size());
    ExpectUntouchedBut(before, {});
  }
}

}  // namespace
