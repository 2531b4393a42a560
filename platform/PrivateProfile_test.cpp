#include "platform/PrivateProfile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/Exception.h"
#include "platform/posix/FileCalls.h"
#include "platform/posix/PosixStoreFile.h"
#include "tests/MemoryFileSystem.h"
#include "tests/TestSupport.h"
#include "text/Ansi.h"
#include "text/IniText.h"

namespace {

using platform::ReadIniSection;
using platform::WriteIniEntry;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
using text::IniSectionEntries;
using text::IniSetEntry;
using Lines = std::vector<std::string>;

struct ReadCase {
  const char* what;
  std::string text;
  std::string section;
  Lines entries;
};

TEST(IniSectionEntries, FollowsTheWindowsReadingRules) {
  const std::vector<ReadCase> cases = {
      {"plain entries in file order", "[P]\r\nB=2\r\nA=1\r\n", "P", {"B=2", "A=1"}},
      {"a UTF-8 byte order mark before the first section",
       "\xEF\xBB\xBF[P]\r\nB=2\r\n",
       "P",
       {"B=2"}},
      {"section name without regard to case",
       "[Parameters]\nUSER=bob\n",
       "PARAMETERS",
       {"USER=bob"}},
      {"ANSI case rules for bytes above 127", "[\xC4RGER]\nX=1\n", "\xE4rger", {"X=1"}},
      {"blanks around names and values removed",
       "[P]\n  USER \t=  bob smith  \n",
       "P",
       {"USER=bob smith"}},
      {"blanks inside the header removed", "[  P  ]\nA=1\n", "p", {"A=1"}},
      {"text after the header ignored", "[P] ; main\nA=1\n", "P", {"A=1"}},
      {"comments and blank lines skipped", "[P]\n; USER=x\n  ;B=2\n\n   \nA=1\n", "P", {"A=1"}},
      {"a line without = is an entry of its own",
       "[P]\nRECURSIVE+\n  ?  \n",
       "P",
       {"RECURSIVE+", "?"}},
      {"empty name and empty value kept", "[P]\n=v\nA=\n", "P", {"=v", "A="}},
      {"only the first = splits", "[P]\nA=b=c\n", "P", {"A=b=c"}},
      {"the section ends at the next header", "[P]\nA=1\n[Q]\nB=2\n", "P", {"A=1"}},
      {"lines before any section belong to none", "A=0\n[P]\nA=1\n", "P", {"A=1"}},
      {"the first of duplicated sections counts", "[P]\nA=1\n[Q]\n[p]\nA=2\nB=3\n", "P", {"A=1"}},
      {"duplicated names all listed", "[P]\nA=1\nA=2\n", "P", {"A=1", "A=2"}},
      {"no final line end", "[P]\nA=1", "P", {"A=1"}},
      {"CR LF and LF mixed", "[P]\r\nA=1\nB=2\r\n", "P", {"A=1", "B=2"}},
      {"a [ without ] is an entry", "[P]\n[broken=1\n", "P", {"[broken=1"}},
      {"binary bytes pass, control bytes at the ends are blanks",
       std::string("[P]\nA=\x01\xFF\x00 z\x1A\n", 12),
       "P",
       {std::string("A=\xFF\x00 z", 6)}},
      {"missing section", "[P]\nA=1\n", "Q", {}},
      {"empty text", "", "P", {}},
      {"the empty section name matches []", "[]\nA=1\n", "", {"A=1"}},
  };
  for (const ReadCase& c : cases) {
    EXPECT_EQ(IniSectionEntries(c.text, c.section), c.entries) << c.what;
  }
}

struct WriteCase {
  const char* what;
  std::string before;
  std::string section;
  std::string name;
  std::string value;
  std::string after;
};

TEST(IniSetEntry, ReplacesOrAddsAndKeepsEveryOtherByte) {
  const std::vector<WriteCase> cases = {
      {"new text gets CR LF", "", "PARAMETERS", "USER", "bob", "[PARAMETERS]\r\nUSER=bob\r\n"},
      {"keeps a byte order mark", "\xEF\xBB\xBF[P]\r\nA=1\r\n", "P", "A", "2",
       "\xEF\xBB\xBF[P]\r\nA=2\r\n"},
      {"replaces the value only, keeping the line's own spelling",
       "[P]\r\n  User =  old  \r\nX=1\r\n", "p", "USER", "new", "[P]\r\n  User =new\r\nX=1\r\n"},
      {"replaces the first of duplicated names", "[P]\nA=1\nA=2\n", "P", "a", "9",
       "[P]\nA=9\nA=2\n"},
      {"writes into the first of duplicated sections", "[P]\nA=1\n[P]\nB=2\n", "P", "B", "3",
       "[P]\nA=1\nB=3\n[P]\nB=2\n"},
      {"an entry without = gets one", "[P]\nFLAG  \nX=1\n", "P", "flag", "+", "[P]\nFLAG=+\nX=1\n"},
      {"appends after the section's last entry, before blank lines and comments",
       "[P]\nA=1\n; about Q\n\n[Q]\nB=2\n", "P", "C", "3",
       "[P]\nA=1\nC=3\n; about Q\n\n[Q]\nB=2\n"},
      {"appends right after the header of an empty section", "[P]\n\n[Q]\n", "P", "A", "1",
       "[P]\nA=1\n\n[Q]\n"},
      {"appends to the last section of a file without final line end", "[P]\r\nA=1", "P", "B", "2",
       "[P]\r\nA=1\r\nB=2\r\n"},
      {"a header without line end", "[P]", "P", "A", "1", "[P]\r\nA=1\r\n"},
      {"a CR that ends the text is completed to CR LF", "[P]\nA=1\r", "P", "B", "2",
       "[P]\nA=1\r\nB=2\n"},
      {"replacing in the last line keeps it without line end", "[P]\nA=1", "P", "A", "2",
       "[P]\nA=2"},
      {"a new section after a blank line, in the file's line ends", "x\n[P]\nA=1\n", "Q", "B", "2",
       "x\n[P]\nA=1\n\n[Q]\nB=2\n"},
      {"no second blank line before a new section", "[P]\r\nA=1\r\n\r\n", "Q", "B", "2",
       "[P]\r\nA=1\r\n\r\n[Q]\r\nB=2\r\n"},
      {"a new section after a last line without line end", "; only a comment", "Q", "B", "2",
       "; only a comment\r\n\r\n[Q]\r\nB=2\r\n"},
      {"lines before any section are not entries", "A=0\n[P]\n", "P", "A", "1", "A=0\n[P]\nA=1\n"},
      {"a commented-out entry is not replaced; no entry: right after the header", "[P]\n;A=0\n",
       "P", "A", "1", "[P]\nA=1\n;A=0\n"},
      {"names and section are trimmed, the value is written as given", "[P]\n", " P ", " A ", " v ",
       "[P]\nA= v \n"},
      {"binary bytes and unknown lines elsewhere stay",
       std::string("\xFF\x00junk\n[P]\n\x7F\x80\n\x01\n", 16), "P", "A", "1",
       std::string("\xFF\x00junk\n[P]\n\x7F\x80\nA=1\n\x01\n", 20)},
  };
  for (const WriteCase& c : cases) {
    EXPECT_EQ(IniSetEntry(c.before, c.section, c.name, c.value), c.after) << c.what;
  }
}

TEST(IniSetEntry, RefusesWhatWouldNotReadBackAsItself) {
  const std::vector<std::vector<std::string>> cases = {
      {"P", "A", "x\ny"}, {"P", "A\rB", "1"}, {"P\nQ", "A", "1"}, {"P]", "A", "1"},  {"P", "", "1"},
      {"P", "  ", "1"},   {"P", "A=B", "1"},  {"P", ";A", "1"},   {"P", "[A]", "1"},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(IniSetEntry("", c[0], c[1], c[2]), Exception) << c[0] << "/" << c[1];
  }
}

// Random INI-like texts: whatever the text, setting an entry changes that
// entry only, and it reads back with its value.
TEST(IniSetEntry, KeepsEveryOtherEntryOfRandomTexts) {
  const std::vector<std::string> pieces = {"[P]",
                                           "[p ]",
                                           "[Q]",
                                           "[",
                                           "]",
                                           "A=1",
                                           " a = 2 ",
                                           "B",
                                           "=",
                                           ";c",
                                           "\r\n",
                                           "\n",
                                           "\n",
                                           "\r",
                                           " ",
                                           "\xFF",
                                           std::string(1, '\0'),
                                           "x=[y]",
                                           "C=3"};
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const int count = static_cast<int>(random() % 20);
    for (int i = 0; i < count; ++i) text += pieces[random() % pieces.size()];
    const std::string section = random() % 2 ? "P" : "R";
    const std::string value = "v" + std::to_string(round);
    const std::string changed = IniSetEntry(text, section, "A", value);

    const Lines entries = IniSectionEntries(changed, section);
    Lines expected = IniSectionEntries(text, section);
    bool replaced = false;
    for (std::string& entry : expected) {
      const std::string name = entry.substr(0, entry.find('='));
      if (!replaced && (name == "A" || name == "a")) {
        entry = name + "=" + value;
        replaced = true;
      }
    }
    if (!replaced) {
      // Added: the section's entries are the old ones plus the new one at the end.
      expected.push_back("A=" + value);
    }
    EXPECT_EQ(entries, expected) << "text: " << text;
    for (const std::string& other : text::IniSectionNames(changed)) {
      if (text::AnsiSameText(other, section)) continue;
      EXPECT_EQ(IniSectionEntries(changed, other), IniSectionEntries(text, other));
    }
  }
}

TEST(ReadIniSection, MissingFileDirectoryOrSectionReadsEmpty) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[P]\r\nA=1\r\n");
  EXPECT_EQ(*ReadIniSection(dir / "a.ini", "p"), (Lines{"A=1"}));
  EXPECT_EQ(*ReadIniSection(dir / "a.ini", "Q"), Lines{});
  EXPECT_EQ(*ReadIniSection(dir / "missing.ini", "P"), Lines{});
  EXPECT_EQ(*ReadIniSection(dir / "no/such/dir/a.ini", "P"), Lines{});
  EXPECT_EQ(*ReadIniSection(dir.Path(), "P"), Lines{});  // a directory
}

// The INI file is read through the file calls, and read again after a
// change that keeps its size.
TEST(ReadIniSection, ReadsThroughTheFileCallsAndSeesAChangeOfTheSameSize) {
  testsupport::MemoryFileSystem memory;
  memory.WriteFile("/p/b.ini", "[P]\nA=1\n");
  platform::FileCalls* const before = platform::UseFileCalls(&memory);
  EXPECT_EQ(*ReadIniSection("/p/b.ini", "P"), (Lines{"A=1"}));
  EXPECT_EQ(*ReadIniSection("/p/c.ini", "P"), Lines{});  // missing
  memory.WriteFile("/p/b.ini", "[P]\nA=2\n");
  memory.WriteFile("/p/c.ini", "[P]\nC=3\n");
  EXPECT_EQ(*ReadIniSection("/p/b.ini", "P"), (Lines{"A=2"}));
  EXPECT_EQ(*ReadIniSection("/p/c.ini", "P"), (Lines{"C=3"}));
  platform::UseFileCalls(before);
}

TEST(ReadIniSection, TakesSystemPathsWithBackslashes) {
  TempDir dir;
  WriteFile(dir / "sub/a.ini", "[P]\nA=1\n");
  WriteIniEntry(dir.Path() + "\\sub\\a.ini", "P", "B", "2");
  EXPECT_EQ(*ReadIniSection(dir.Path() + "\\sub\\a.ini", "P"), (Lines{"A=1", "B=2"}));
}

// Gives the file a modification time well in the past, as settings files
// usually have, so that a read keeps its text for the next look-up.
void SetModifiedSecondsAgo(const std::string& APath, int ASeconds) {
  struct timespec times[2]{};
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= ASeconds;
  times[1] = times[0];
  ASSERT_EQ(utimensat(AT_FDCWD, APath.c_str(), times, 0), 0);
}

// Overwrites the file in place: same inode, same size.
void OverwriteInPlace(const std::string& APath, const std::string& AContent) {
  std::FILE* file = std::fopen(APath.c_str(), "r+b");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fwrite(AContent.data(), 1, AContent.size(), file), AContent.size());
  ASSERT_EQ(std::fclose(file), 0);
}

// The file is read once per process while it stays as it was; every kind of
// change must still be seen at the next look-up.
TEST(ReadIniSection, SeesEveryChangeOfAFileItHasReadBefore) {
  TempDir dir;
  const std::string ini = dir / "a.ini";
  WriteFile(ini, "[P]\nA=1\n");
  SetModifiedSecondsAgo(ini, 100);
  EXPECT_EQ(*ReadIniSection(ini, "P"), (Lines{"A=1"}));
  // Read once: the same entries while the file stays as it was.
  EXPECT_EQ(ReadIniSection(ini, "P"), ReadIniSection(ini, "P"));

  OverwriteInPlace(ini, "[P]\nA=2\n");  // only the modification time tells
  SetModifiedSecondsAgo(ini, 90);
  EXPECT_EQ(*ReadIniSection(ini, "P"), (Lines{"A=2"}));

  OverwriteInPlace(ini, "[P]\nA=3\n");  // changed just now, time as before
  EXPECT_EQ(*ReadIniSection(ini, "P"), (Lines{"A=3"}));

  WriteFile(dir / "b.ini", "[P]\nA=4\n");  // another file renamed over it
  SetModifiedSecondsAgo(dir / "b.ini", 90);
  ASSERT_EQ(std::rename((dir / "b.ini").c_str(), ini.c_str()), 0);
  EXPECT_EQ(*ReadIniSection(ini, "P"), (Lines{"A=4"}));

  WriteIniEntry(ini, "P", "B", "5");  // a write of this process
  EXPECT_EQ(*ReadIniSection(ini, "P"), (Lines{"A=4", "B=5"}));

  ASSERT_EQ(std::remove(ini.c_str()), 0);
  EXPECT_EQ(*ReadIniSection(ini, "P"), Lines{});
  WriteFile(ini, "[P]\nA=6\n");
  EXPECT_EQ(*ReadIniSection(ini, "P"), (Lines{"A=6"}));
}

TEST(WriteIniEntry, CreatesAFileWithCrLfAndKeepsAnExistingFilesLineEnds) {
  TempDir dir;
  WriteIniEntry(dir / "new.ini", "PARAMETERS", "USER", "bob");
  WriteIniEntry(dir / "new.ini", "PARAMETERS", "FILE", "c:\\src\\*.pas");
  WriteIniEntry(dir / "new.ini", "MACROS", "SRC", "c:\\src");
  EXPECT_EQ(ReadFile(dir / "new.ini"),
            "[PARAMETERS]\r\nUSER=bob\r\nFILE=c:\\src\\*.pas\r\n\r\n[MACROS]\r\nSRC=c:\\src\r\n");

  const std::string unix = "; settings\n[PARAMETERS]\nUSER=ann\n";
  WriteFile(dir / "unix.ini", unix);
  WriteIniEntry(dir / "unix.ini", "parameters", "user", "bob");
  WriteIniEntry(dir / "unix.ini", "parameters", "FILE", "x");
  EXPECT_EQ(ReadFile(dir / "unix.ini"), "; settings\n[PARAMETERS]\nUSER=bob\nFILE=x\n");
}

TEST(WriteIniEntry, KeepsLongLinesBinaryBytesAndMissingFinalLineEnd) {
  TempDir dir;
  const std::string longLine(300000, 'x');
  const std::string before = "; " + longLine + "\r\n" + std::string("\x00\xFF\x1A\r\n", 5) +
                             "[P]\r\nA=1\r\nB=" + longLine + "\r\n[Q]\r\nC=3";
  WriteFile(dir / "a.ini", before);
  WriteIniEntry(dir / "a.ini", "P", "A", "2");
  std::string expected = before;
  expected.replace(expected.find("A=1"), 3, "A=2");
  EXPECT_EQ(ReadFile(dir / "a.ini"), expected);
}

TEST(WriteIniEntry, LeavesNoTemporaryFileBehind) {
  TempDir dir;
  for (int i = 0; i < 3; ++i) WriteIniEntry(dir / "a.ini", "P", "A" + std::to_string(i), "x");
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    EXPECT_EQ(entry.path().filename(), "a.ini");
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST(WriteIniEntry, WritesThroughALinkIntoTheFileItNames) {
  TempDir dir;
  WriteFile(dir / "real/a.ini", "[P]\nA=1\n");
  ASSERT_EQ(symlink((dir / "real/a.ini").c_str(), (dir / "link.ini").c_str()), 0);
  WriteIniEntry(dir / "link.ini", "P", "A", "2");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
  EXPECT_EQ(ReadFile(dir / "real/a.ini"), "[P]\nA=2\n");
}

std::string FailureOf(const std::string& file, const std::string& name = "A") {
  try {
    WriteIniEntry(file, "P", name, "1");
  } catch (const Exception& e) {
    return e.Message();
  }
  return "no failure";
}

TEST(WriteIniEntry, FailuresNameTheFileAndTheReason) {
  TempDir dir;
  const std::string missing = dir / "no/such/a.ini";
  EXPECT_EQ(FailureOf(missing),
            "Cannot write the INI file " + missing + ": No such file or directory");
  EXPECT_FALSE(testsupport::FileExists(dir / "no"));

  WriteFile(dir / "ro.ini", "[P]\nA=0\n");
  chmod((dir / "ro.ini").c_str(), 0444);
  EXPECT_EQ(FailureOf(dir / "ro.ini"),
            "Cannot write the INI file " + (dir / "ro.ini") + ": Permission denied");
  EXPECT_EQ(ReadFile(dir / "ro.ini"), "[P]\nA=0\n");

  EXPECT_EQ(FailureOf(dir / "x.ini", "A=B"), "Cannot write the INI file " + (dir / "x.ini") +
                                                 ": the INI entry name A=B holds \"=\"");
  EXPECT_FALSE(testsupport::FileExists(dir / "x.ini"));

  std::filesystem::create_directory(dir / "dir.ini");
  EXPECT_EQ(FailureOf(dir / "dir.ini"),
            "Cannot write the INI file " + (dir / "dir.ini") + ": Is a directory");
}

TEST(WriteIniEntry, FailsInADirectoryItMayNotWrite) {
  TempDir dir;
  WriteFile(dir / "locked/a.ini", "[P]\nA=0\n");
  chmod(dir.Path().c_str(), 0755);
  chmod((dir / "locked").c_str(), 0555);
  // Root may write every directory: the writer runs as an ordinary user.
  EXPECT_EQ(testsupport::WithoutPrivileges([&] { return Lines{FailureOf(dir / "locked/a.ini")}; }),
            Lines{"Cannot write the INI file " + (dir / "locked/a.ini") + ": Permission denied"});
  EXPECT_EQ(ReadFile(dir / "locked/a.ini"), "[P]\nA=0\n");
}

TEST(WriteIniEntry, ConcurrentWritersLoseNothing) {
  TempDir dir;
  const std::string file = dir / "shared.ini";
  WriteFile(file, "; shared\r\n[P]\r\nKEEP=1\r\n");
  constexpr int kWriters = 20;
  // Two sections, so that writers both add lines and add sections.
  EXPECT_EQ(testsupport::RunInChildren(
                kWriters,
                [&](int i) {
                  WriteIniEntry(file, "P", "W" + std::to_string(i), std::to_string(i));
                  WriteIniEntry(file, "S" + std::to_string(i % 3), "W" + std::to_string(i), "x");
                }),
            0);
  const Lines entries = *ReadIniSection(file, "P");
  ASSERT_EQ(entries.size(), kWriters + 1u);
  EXPECT_EQ(entries[0], "KEEP=1");
  for (int i = 0; i < kWriters; ++i) {
    const std::string entry = "W" + std::to_string(i) + "=" + std::to_string(i);
    EXPECT_NE(std::find(entries.begin(), entries.end(), entry), entries.end()) << entry;
  }
  std::size_t others = 0;
  for (int s = 0; s < 3; ++s) others += ReadIniSection(file, "S" + std::to_string(s))->size();
  EXPECT_EQ(others, static_cast<std::size_t>(kWriters));
  const std::string content = ReadFile(file);
  EXPECT_EQ(text::IniSectionNames(content).size(), 4u);  // no section added twice
  for (std::size_t lf = content.find('\n'); lf != std::string::npos;
       lf = content.find('\n', lf + 1)) {
    EXPECT_EQ(content[lf - 1], '\r') << "every line keeps the file's CR LF";
  }
}

}  // namespace
