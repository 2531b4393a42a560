// The history worker on single files: entries and their wrapping, comment
// collection, conversion and the rewriting of a source with its log.
#include "app/uHistrel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/uHistrelConstants.h"
#include "app/uHistrelEnglishConstant.h"
#include "base/Exception.h"
#include "tests/HistrelTestSupport.h"
#include "tests/SampleUnit.h"
#include "tests/TestSupport.h"
#include "text/PascalScan.h"

namespace {

using testsupport::FileExists;
using testsupport::FixedDate;
using testsupport::kSampleAfterFirstRun;
using testsupport::kSampleBefore;
using testsupport::kSampleLogAfterFirstRun;
using testsupport::ReadFile;
using testsupport::RemoveFile;
using testsupport::SystemPath;
using testsupport::TempDir;
using testsupport::WithCrLf;
using testsupport::WithDate;
using testsupport::WriteFile;
using Lines = std::vector<std::string>;

const std::string kMark(1, kHistoryMark);

std::string Blanks(std::size_t ACount) { return std::string(ACount, ' '); }

TEST(THistrel, StartsWithTheDefaultsThatTakeEffectWhenNoSwitchIsGiven) {
  const THistrel histrel;
  EXPECT_EQ(histrel.Path(), "");
  EXPECT_EQ(histrel.FileName(), "");
  EXPECT_EQ(histrel.User(), "");
  EXPECT_EQ(histrel.InsertText(), "CVSLOG");
  EXPECT_TRUE(histrel.Recursive());
  EXPECT_FALSE(histrel.KeepCVS());
  EXPECT_TRUE(histrel.KeepDate());
  EXPECT_TRUE(histrel.HistoryLines().empty());
}

TEST(FormatHistoryDate, PadsMonthAndDay) {
  EXPECT_EQ(FormatHistoryDate({2003, 5, 4}), "2003.05.04");
  EXPECT_EQ(FormatHistoryDate({2024, 12, 31}), "2024.12.31");
}

// ---------------------------------------------------------------------------
// FILE splitting

struct FileSwitchCase {
  std::string file;
  std::string path;
  std::string fileName;
};

TEST(ApplyFileSwitch, SplitsPathAndFileNameOrMask) {
  const std::vector<FileSwitchCase> cases = {
      {"c:\\pek\\*.pas", "c:\\pek\\", "*.pas"},
      {"c:\\a\\b", "c:\\a\\b", ""},
      {"c:\\a\\b\\", "c:\\a\\b\\", ""},
      {"x.pas", ".\\", "x.pas"},
      {"sub\\", "sub\\", ""},
      {"c:\\a.b\\src", "c:\\a.b\\src", ""},
      {"c:\\a\\b.c", "c:\\a\\", "b.c"},
      {"\"c:\\pek\\*.pas\"", "c:\\pek\\", "*.pas"},
      {"\"\"", "", ""},  // only quotes: Execute then reports the missing path
      {"\\\\", "\\\\", ""},
      {"\\home\\ann\\src\\*.pas", "\\home\\ann\\src\\", "*.pas"},
      {"dir", "dir", ""},
      {"c:\\a\"\\\"b.c", "c:\\a\\", "b.c"},  // quotes count nowhere
  };
  for (const FileSwitchCase& c : cases) {
    THistrel histrel;
    ApplyFileSwitch(histrel, c.file);
    EXPECT_EQ(histrel.Path(), c.path) << c.file;
    EXPECT_EQ(histrel.FileName(), c.fileName) << c.file;
  }
}

TEST(ApplyFileSwitch, RefusesAnEmptyFile) {
  InitializeHistrelEnglishConstantUnit();
  THistrel histrel;
  try {
    ApplyFileSwitch(histrel, "");
    FAIL() << "no failure";
  } catch (const Exception& failure) {
    EXPECT_EQ(failure.Message(), "The parameter FILE must be indicated!");
  }
}

// The files of a list are native paths, split as FILE splits a file name
// off; a name that a system path cannot hold stays as it was given.
TEST(ListedFileOf, SplitsANativePathIntoDirectoryAndName) {
  struct Case {
    std::string native;
    std::string path;
    std::string fileName;
    bool nameable;
  };
  const std::vector<Case> cases = {
      {"a.pas", ".\\", "a.pas", true},
      {"src/b.pas", "src\\", "b.pas", true},
      {"./a.pas", ".\\", "a.pas", true},
      {"../up/c.pas", "..\\up\\", "c.pas", true},
      {"/home/ann/src/d.pas", "\\home\\ann\\src\\", "d.pas", true},
      {"Makefile", ".\\", "Makefile", true},  // no full stop: still a file
      {"*.pas", ".\\", "*.pas", true},        // no mask: the file of that name
      {"src/", "src\\", "", true},            // a directory: it cannot be edited
      {"a\\b.pas", "", "a\\b.pas", false},
      {"src/a\\b/c.pas", "", "src/a\\b/c.pas", false},
  };
  for (const Case& c : cases) {
    const TListedFile file = ListedFileOf(c.native);
    EXPECT_EQ(file.Path, c.path) << c.native;
    EXPECT_EQ(file.FileName, c.fileName) << c.native;
    EXPECT_EQ(file.Nameable, c.nameable) << c.native;
  }
}

// ---------------------------------------------------------------------------
// Comment texts

struct CommentCase {
  std::string line;
  std::string pattern;
  std::string text;
};

TEST(GetCommentText, YieldsTheTextOfEachPattern) {
  const std::vector<CommentCase> cases = {
      {"{CVS* Fixed a typo.}", "{CVS*", "Fixed a typo."},
      {"x := 1; {CVS* note}", "{CVS*", "note"},
      {"{CVS*note}", "{CVS*", "ote"},  // the character after the asterisk separates
      {"{CVS*}", "{CVS*", kMark},      // the brace is that character: still open
      {"{CVS*", "{CVS*", kMark},
      {"{CVS* }", "{CVS*", ""},
      {"{CVS*  open comment  ", "{CVS*", "open comment" + kMark},
      {"{CVS* a} {CVS* b}", "{CVS*", "a"},
      {"{cvs* note}", "{CVS*", ""},
      {"no marker", "{CVS*", ""},
      {"{CVS* x\xA7}", "{CVS*", "x\xA7"},  // reads as not closed
      {"text without brace", "}", "text without brace" + kMark},
      {"", "}", kMark},
      {"}", "}", " "},
      {"} rest", "}", " "},
      {"  end of it } more", "}", "  end of it "},
      {"// CVS* Removed a parameter.", "//", "Removed a parameter."},
      {"   //   CVS* spaced  ", "//", "spaced"},
      {"//CVS*x", "//", ""},  // the x is the separator character
      {"// CVS*", "//", ""},
      {"x := 1; // CVS* note", "//", ""},
      {"// CVS note", "//", ""},
      {"/ / CVS* note", "//", ""},
  };
  for (const CommentCase& c : cases) {
    std::string text = "previous";
    THistrel::GetCommentText(c.line, c.pattern, text);
    EXPECT_EQ(text, c.text) << c.pattern << " on: " << c.line;
  }
}

// ---------------------------------------------------------------------------
// History entries

class HistoryEntries : public ::testing::Test {
 protected:
  void SetUp() override { InitializeHistrelEnglishConstantUnit(); }

  Lines Build(const std::string& AUser, const Lines& APieces) {
    THistrel histrel(FixedDate(2003, 5, 14));
    histrel.SetUser(AUser);
    histrel.SetSourceUtf8(FSourceUtf8);
    for (const std::string& piece : APieces) histrel.AddHistoryText(piece);
    return histrel.HistoryLines();
  }

  bool FSourceUtf8 = false;
};

TEST_F(HistoryEntries, OneCommentThatFitsIsOneLineAndTheEndLine) {
  EXPECT_EQ(Build("dev", {"  Fixed a typo.  " + kMark}),
            (Lines{"{", "dev 2003.05.14 Fixed a typo.", ""}));
}

TEST_F(HistoryEntries, WrapsAtTheEightiethColumn) {
  // "dev 2003.05.14" is 14 long: with a word of 63 the line is 78, and one
  // more word of 1 makes it 80, the most a line holds.
  const std::string w63(63, 'a');
  EXPECT_EQ(Build("dev", {w63 + " b c" + kMark}),
            (Lines{"{", "dev 2003.05.14 " + w63 + " b", Blanks(15) + "c", ""}));
  EXPECT_EQ(Build("dev", {w63 + " b" + kMark}), (Lines{"{", "dev 2003.05.14 " + w63 + " b", ""}));
  // With a word of 64 the same "b" would make 81: it starts the next line.
  const std::string w64(64, 'a');
  EXPECT_EQ(Build("dev", {w64 + " b c" + kMark}),
            (Lines{"{", "dev 2003.05.14 " + w64, Blanks(15) + "b c", ""}));
  EXPECT_EQ(Build("dev", {w64 + " b" + kMark}),
            (Lines{"{", "dev 2003.05.14 " + w64, Blanks(15) + "b", ""}));
}

TEST_F(HistoryEntries, AWordLongerThanALineStandsAloneAndIsNeverRepeated) {
  const std::string longWord(90, 'x');
  EXPECT_EQ(
      Build("dev", {"one " + longWord + " two three" + kMark}),
      (Lines{"{", "dev 2003.05.14 one", Blanks(15) + longWord, Blanks(15) + "two three", ""}));
  // As the last word, too.
  EXPECT_EQ(Build("dev", {"one " + longWord + kMark}),
            (Lines{"{", "dev 2003.05.14 one", Blanks(15) + longWord, ""}));
  // As the first word, the header stands alone.
  EXPECT_EQ(Build("dev", {longWord + " z" + kMark}),
            (Lines{"{", "dev 2003.05.14", Blanks(15) + longWord, Blanks(15) + "z", ""}));
}

TEST_F(HistoryEntries, ALastWordThatDoesNotFitMovesOnceToANewLine) {
  const std::string w60(60, 'a');
  EXPECT_EQ(Build("dev", {w60 + " lastword" + kMark}),
            (Lines{"{", "dev 2003.05.14 " + w60, Blanks(15) + "lastword", ""}));
}

TEST_F(HistoryEntries, ContinuationColumnFollowsTheUserName) {
  struct UserCase {
    std::string user;
    std::size_t continuation;
  };
  for (const UserCase& c : std::vector<UserCase>{
           {"a", 13}, {"qa", 14}, {"abcde", 17}, {"a-rather-long-user-name", 35}}) {
    // A first word that fills the line to 80, so that "next" wraps.
    std::string first(68 - c.user.size(), 'w');
    first += " next" + kMark;
    const Lines lines = Build(c.user, {first, "second" + kMark});
    ASSERT_EQ(lines.size(), 5u) << c.user;
    EXPECT_EQ(lines[1].size(), 80u) << c.user;
    EXPECT_EQ(lines[2], Blanks(c.continuation) + "next") << c.user;
    // A later entry's first word stands in the same column.
    EXPECT_EQ(lines[3], Blanks(c.continuation) + "second") << c.user;
  }
}

TEST_F(HistoryEntries, PiecesOfOneCommentFlowOnInOneLine) {
  EXPECT_EQ(
      Build("dev", {"First line of a longer note", "that goes on", "  in a second line " + kMark}),
      (Lines{"{", "dev 2003.05.14 First line of a longer note that goes on in a second line", ""}));
}

TEST_F(HistoryEntries, AnEmptyFirstPieceLeavesTheHeaderAlone) {
  EXPECT_EQ(Build("dev", {""}), (Lines{"{", "dev 2003.05.14"}));
  EXPECT_EQ(Build("dev", {"", "words" + kMark}), (Lines{"{", "dev 2003.05.14 words", ""}));
}

TEST_F(HistoryEntries, AnEmptyPieceThatEndsTheEntryKeepsTheLine) {
  EXPECT_EQ(Build("dev", {"open", " " + kMark}), (Lines{"{", "dev 2003.05.14 open", ""}));
}

TEST_F(HistoryEntries, BlanksSeparateButTabsInsideAWordDoNot) {
  EXPECT_EQ(Build("dev", {"a    b\tc \x01" + kMark}), (Lines{"{", "dev 2003.05.14 a b\tc", ""}));
}

TEST_F(HistoryEntries, OnlyTheLastMarkEndsTheEntry) {
  EXPECT_EQ(Build("dev", {"a\xA7"
                          "b" +
                          kMark}),
            (Lines{"{",
                   "dev 2003.05.14 a\xA7"
                   "b",
                   ""}));
  EXPECT_EQ(Build("dev", {"a" + kMark + kMark}), (Lines{"{", "dev 2003.05.14 a\xA7", ""}));
}

TEST_F(HistoryEntries, WithoutAUserNothingIsAdded) {
  THistrel histrel(FixedDate(2003, 5, 14));
  try {
    histrel.AddHistoryText("text" + kMark);
    FAIL() << "no failure";
  } catch (const Exception& failure) {
    EXPECT_EQ(failure.Message(), "The user must be indicated!");
  }
  EXPECT_TRUE(histrel.HistoryLines().empty());
}

TEST_F(HistoryEntries, InAUtf8SourceLinesAreWrappedAtTheEightiethCharacter) {
  FSourceUtf8 = true;
  // 104 characters in 111 bytes; the first line holds 80 characters in 85
  // bytes.
  EXPECT_EQ(Build("dev", {"Die Größenänderung der Übersicht prüft jetzt alle Spaltenbreiten: "
                          "für Umlaute wird nicht mehr geschätzt." +
                          kMark}),
            (Lines{"{",
                   "dev 2003.05.14 Die Größenänderung der Übersicht prüft jetzt alle "
                   "Spaltenbreiten:",
                   Blanks(15) + "für Umlaute wird nicht mehr geschätzt.", ""}));
}

TEST_F(HistoryEntries, InAUtf8SourceWideCharactersTakeTwoColumnsAndMarksNone) {
  FSourceUtf8 = true;
  // 31 of them take 62 columns (93 bytes), so that "b" still makes 79.
  std::string wide;
  for (int i = 0; i < 31; ++i) wide += "漢";
  EXPECT_EQ(Build("dev", {wide + " b c" + kMark}),
            (Lines{"{", "dev 2003.05.14 " + wide + " b", Blanks(15) + "c", ""}));
  // 32 take 79 with the header: "b" would make 81.
  wide += "字";
  EXPECT_EQ(Build("dev", {wide + " b" + kMark}),
            (Lines{"{", "dev 2003.05.14 " + wide, Blanks(15) + "b", ""}));
  // Emoji are wide too: 75 columns and " ⌚⌚⌚" would make 82.
  const std::string w60(60, 'a');
  EXPECT_EQ(Build("dev", {w60 + " ⌚⌚⌚" + kMark}),
            (Lines{"{", "dev 2003.05.14 " + w60, Blanks(15) + "⌚⌚⌚", ""}));
  // A combining mark takes none: 63 accented letters of 126 code points
  // take 78 columns with the header, so that "b" makes exactly 80.
  std::string accented;
  for (int i = 0; i < 63; ++i) accented += "e\xCC\x81";
  EXPECT_EQ(Build("dev", {accented + " b c" + kMark}),
            (Lines{"{", "dev 2003.05.14 " + accented + " b", Blanks(15) + "c", ""}));
  // The same when the words come in later pieces, onto the line kept.
  EXPECT_EQ(Build("dev", {accented, "", "b", "c" + kMark}),
            (Lines{"{", "dev 2003.05.14 " + accented + " b", Blanks(15) + "c", ""}));
}

struct SourceUserCase {
  std::string user;
  bool sourceUtf8;
  std::string sourceUser;
};

TEST_F(HistoryEntries, TheUserIsWrittenInTheEncodingOfTheSource) {
  const std::vector<SourceUserCase> cases = {
      {"jörg", true, "jörg"},        {"j\xF6rg", true, "jörg"},     {"jörg", false, "j\xF6rg"},
      {"j\xF6rg", false, "j\xF6rg"}, {"Zoë 王", false, "Zo\xEB ?"}, {"qa", true, "qa"},
  };
  for (const SourceUserCase& c : cases) {
    // Whichever is set last, the other is taken into account.
    THistrel userFirst;
    userFirst.SetUser(c.user);
    userFirst.SetSourceUtf8(c.sourceUtf8);
    THistrel userLast;
    userLast.SetSourceUtf8(c.sourceUtf8);
    userLast.SetUser(c.user);
    EXPECT_EQ(userFirst.SourceUser(), c.sourceUser) << c.user << " " << c.sourceUtf8;
    EXPECT_EQ(userLast.SourceUser(), c.sourceUser) << c.user << " " << c.sourceUtf8;
    EXPECT_EQ(userLast.User(), c.user);
  }
}

TEST_F(HistoryEntries, ContinuationsStandUnderTheFirstWordAfterTheDateInEitherEncoding) {
  // "jörg" is four characters in UTF-8 and four bytes in Windows-1252: the
  // first word after the date stands in column 16 either way.
  for (const std::string& user : {std::string("jörg"), std::string("j\xF6rg")}) {
    for (const bool sourceUtf8 : {true, false}) {
      FSourceUtf8 = sourceUtf8;
      const std::string header = sourceUtf8 ? "jörg 2003.05.14 " : "j\xF6rg 2003.05.14 ";
      const std::string first(64, 'w');
      std::string piece = first;
      piece += " next" + kMark;
      EXPECT_EQ(Build(user, {piece, "second" + kMark}),
                (Lines{"{", header + first, Blanks(16) + "next", Blanks(16) + "second", ""}))
          << user << " " << sourceUtf8;
    }
  }
}

// ---------------------------------------------------------------------------
// Rewriting one source

struct BytesCase {
  std::string name;
  std::string before;
  std::string after;
};

// Unit1.pas in a directory of a file system in memory; RewriteSourceOnDisk
// keeps it on the disk, for what the system itself must show (modes,
// extended attributes, links, FIFOs).
class RewriteSource : public ::testing::Test {
 protected:
  explicit RewriteSource(bool AInMemory = true)
      : FMemory(AInMemory ? std::make_unique<testsupport::InMemoryFiles>() : nullptr) {}
  void SetUp() override { InitializeHistrelEnglishConstantUnit(); }

  std::string Source() const { return FDir / "Unit1.pas"; }
  std::string Log() const { return FDir / "Unit1.pas.cvs"; }
  std::string Temporary() const { return FDir / "Unit1.tmp"; }

  // Processes Unit1.pas with the given settings; the failure's message, or "".
  std::string Process(const std::string& AUser = "qa", int AYear = 2003, int AMonth = 6,
                      int ADay = 2) {
    THistrel histrel(FixedDate(AYear, AMonth, ADay));
    histrel.SetUser(AUser);
    histrel.SetPath(SystemPath(FDir.Path()) + "\\");
    histrel.SetFileName("Unit1.pas");
    histrel.SetKeepCVS(FKeepCVS);
    histrel.SetKeepDate(FKeepDate);
    histrel.SetInsertText(FInsertText);
    try {
      histrel.ProcessFile();
    } catch (const Exception& failure) {
      return failure.Message();
    }
    return "";
  }

  // The source after one run on AContent (written with CR LF).
  std::string Rewritten(const std::string& AContent) {
    WriteFile(Source(), WithCrLf(AContent));
    EXPECT_EQ(Process(), "");
    return ReadFile(Source());
  }

  std::string Shown() const { return SystemPath(FDir.Path()) + "\\Unit1.pas"; }

  // Each case's source, without a log, becomes its new text in one run.
  void ExpectRewrites(const std::vector<BytesCase>& ACases) {
    for (const BytesCase& c : ACases) {
      RemoveFile(Log());
      WriteFile(Source(), c.before);
      EXPECT_EQ(Process(), "") << c.name;
      EXPECT_EQ(ReadFile(Source()), c.after) << c.name;
    }
  }

  // Before FDir, which it holds.
  std::unique_ptr<testsupport::InMemoryFiles> FMemory;
  TempDir FDir;
  bool FKeepCVS = false;
  bool FKeepDate = true;
  std::string FInsertText = "CVSLOG";
};

class RewriteSourceOnDisk : public RewriteSource {
 protected:
  RewriteSourceOnDisk() : RewriteSource(false) {}
};

const char kSampleAfterSecondRun[] = R"(unit Sample;

interface

{CVSLOG
   qa 2003.06.02 Bar is now called once per report instead of once per page.
                 Tested the page totals again after the change of Bar.
   dev 2003.05.14 Fixed the rounding of totals in the footer of the monthly report,
                  so that cents are no longer lost.
                  Removed the second parameter of Bar.
                  First line of a longer note that goes on in a second line
}

implementation

procedure Foo;
begin
  {dev 2003.05.14 Fixed the rounding of totals in the footer of the monthly report, so that cents are no longer lost.}
  Bar; {qa 2003.06.02 Bar is now called once per report instead of once per page.}
  // dev 2003.05.14 Removed the second parameter of Bar.
  {dev 2003.05.14 First line of a longer note
        that goes on in a second line
  }
  // qa 2003.06.02 Tested the page totals again after the change of Bar.
end;

end.
)";

std::string Replace(std::string AText, const std::string& AOld, const std::string& ANew) {
  const std::string::size_type at = AText.find(AOld);
  if (at != std::string::npos) AText.replace(at, AOld.size(), ANew);
  return AText;
}

TEST_F(RewriteSource, FirstWorkedExampleComesOutByteForByte) {
  // In the line ends of the source: CR LF, or LF alone.
  for (const bool crLf : {true, false}) {
    const auto ends = [crLf](const std::string& AText) { return crLf ? WithCrLf(AText) : AText; };
    RemoveFile(Log());
    WriteFile(Source(), ends(kSampleBefore));
    ASSERT_EQ(Process("dev", 2003, 5, 14), "");
    EXPECT_EQ(ReadFile(Source()), ends(WithDate(kSampleAfterFirstRun, "2003.05.14")));
    EXPECT_EQ(ReadFile(Log()), ends(WithDate(kSampleLogAfterFirstRun, "2003.05.14")));
    EXPECT_FALSE(FileExists(Temporary()));
  }
}

TEST_F(RewriteSource, SecondWorkedExamplePutsTheNewEntryOnTop) {
  WriteFile(Source(), WithCrLf(WithDate(kSampleAfterFirstRun, "2003.05.14")));
  WriteFile(Log(), WithCrLf(WithDate(kSampleLogAfterFirstRun, "2003.05.14")));
  std::string edited =
      Replace(WithDate(kSampleAfterFirstRun, "2003.05.14"), "  Bar;\n",
              "  Bar; {CVS* Bar is now called once per report instead of once per page.}\n");
  edited = Replace(edited, "  }\nend;",
                   "  }\n  // CVS* Tested the page totals again after the change of Bar.\nend;");
  WriteFile(Source(), WithCrLf(edited));
  ASSERT_EQ(Process("qa", 2003, 6, 2), "");
  EXPECT_EQ(ReadFile(Source()), WithCrLf(kSampleAfterSecondRun));
  EXPECT_EQ(ReadFile(Log()),
            WithCrLf(WithDate(kSampleLogAfterFirstRun, "2003.05.14") +
                     "qa 2003.06.02 Bar is now called once per report instead of once per page.\n"
                     "Tested the page totals again after the change of Bar.\n"));
}

TEST_F(RewriteSourceOnDisk, ASecondRunWithoutNewCommentsTouchesNothing) {
  WriteFile(Source(), kSampleBefore);
  ASSERT_EQ(Process("dev", 2003, 5, 14), "");
  const std::string source = ReadFile(Source());
  const std::string log = ReadFile(Log());
  struct stat before {};
  ASSERT_EQ(stat(Source().c_str(), &before), 0);
  ASSERT_EQ(Process("qa"), "");
  struct stat after {};
  ASSERT_EQ(stat(Source().c_str(), &after), 0);
  EXPECT_EQ(ReadFile(Source()), source);
  EXPECT_EQ(ReadFile(Log()), log);
  EXPECT_EQ(before.st_ino, after.st_ino);  // not even replaced by an equal copy
}

struct ConversionCase {
  bool keepCVS;
  bool keepDate;
  std::string brace;
  std::string line;
};

TEST_F(RewriteSource, ConvertsMarkedCommentsAsKeepCvsAndKeepDateSay) {
  const std::vector<ConversionCase> cases = {
      {false, true, "{qa 2003.06.02 Fixed a typo.}", "  // qa 2003.06.02 Fixed a typo."},
      {false, false, "{ Fixed a typo.}", "  //  Fixed a typo."},
      {true, true, "{CVS: qa 2003.06.02 Fixed a typo.}", "  // CVS: qa 2003.06.02 Fixed a typo."},
      {true, false, "{CVS: Fixed a typo.}", "  // CVS: Fixed a typo."},
  };
  for (const ConversionCase& c : cases) {
    FKeepCVS = c.keepCVS;
    FKeepDate = c.keepDate;
    EXPECT_EQ(Rewritten("{CVS* Fixed a typo.}\n  // CVS* Fixed a typo.\n"),
              WithCrLf(c.brace + "\n" + c.line + "\n"))
        << "KEEPCVS " << c.keepCVS << " KEEPDATE " << c.keepDate;
  }
}

struct SourceCase {
  std::string name;
  std::string before;
  std::string after;
  std::string log;
};

TEST_F(RewriteSource, CollectsAndConvertsTheMarkedComments) {
  const std::string h = "qa 2003.06.02";
  const std::vector<SourceCase> cases = {
      {"lower case is no marker", "{cvs* note}\n{CVS* real}\n", "{cvs* note}\n{" + h + " real}\n",
       h + " real\n\n"},
      {"brace comment after code", "x := 1; {CVS* note}\n", "x := 1; {" + h + " note}\n",
       h + " note\n\n"},
      {"line comment after code is none", "x := 1; // CVS* no\n{CVS* yes}\n",
       "x := 1; // CVS* no\n{" + h + " yes}\n", h + " yes\n\n"},
      {"no blank after the asterisk", "{CVS*note}\n", "{" + h + "note}\n", h + " ote\n\n"},
      {"the marker's own asterisk", "x := a * b; {CVS* note}\n", "x := a * b; {" + h + " note}\n",
       h + " note\n\n"},
      {"{CVS*} is an empty note closed by its brace", "{CVS*}\nfirst\n{CVS* second}\n",
       "{" + h + "}\nfirst\n{" + h + " second}\n", h + " second\n\n"},
      {"empty comments are converted, add nothing", "{CVS* }\n// CVS*\n{CVS* text}\n",
       "{" + h + " }\n// " + h + "\n{" + h + " text}\n", h + " text\n\n"},
      {"two on one line: the second waits", "{CVS* one} {CVS* two}\n",
       "{" + h + " one} {CVS* two}\n", h + " one\n\n"},
      {"a mark before the brace is text", "{CVS* see \xA7}\nx := 1; { c }\n",
       "{" + h + " see \xA7}\nx := 1; { c }\n", h + " see \xA7\n\n"},
      {"no note in a literal or a directive", "s := '{CVS* x}'; {$I CVS*.inc} {CVS* y}\n",
       "s := '{CVS* x}'; {$I CVS*.inc} {" + h + " y}\n", h + " y\n\n"},
      {"a brace inside a note is text", "{CVS* a { b} c;\n", "{" + h + " a { b} c;\n",
       h + " a { b\n\n"},
      {"a closing line may open the next", "{CVS* a\nb } {CVS* c}\n",
       "{" + h + " a\nb } {" + h + " c}\n", h + " a b\nc\n\n"},
      {"brace in column one ends the entry", "{CVS* a\n}\n// CVS* b\n",
       "{" + h + " a\n}\n// " + h + " b\n", h + " a\nb\n\n"},
      {"empty lines add nothing", "{CVS* a\n\n\nb}\n", "{" + h + " a\n\n\nb}\n", h + " a b\n\n"},
  };
  for (const SourceCase& c : cases) {
    RemoveFile(Log());
    EXPECT_EQ(Rewritten(c.before), WithCrLf(c.after)) << c.name;
    EXPECT_EQ(ReadFile(Log()), WithCrLf(c.log)) << c.name;
  }
}

TEST_F(RewriteSource, AFileWithoutMarkedCommentsIsLeftExactlyAsItWas) {
  const std::string content =
      "unit A;\n{CVSLOG}\n{cvs* not}\r// CVS note\x1A"
      "after\n";
  WriteFile(Source(), content);
  EXPECT_EQ(Process(), "");
  EXPECT_EQ(ReadFile(Source()), content);
  EXPECT_FALSE(FileExists(Log()));
  EXPECT_FALSE(FileExists(Temporary()));
}

TEST_F(RewriteSource, WithoutTheInsertTextTheEntryGoesOnlyToTheLog) {
  EXPECT_EQ(Rewritten("unit A;\n{CVS* a}\n"), WithCrLf("unit A;\n{qa 2003.06.02 a}\n"));
  EXPECT_EQ(ReadFile(Log()), WithCrLf("qa 2003.06.02 a\n\n"));
}

// Mend: only a comment holds the marker; a word in code, a literal or a
// note never does.
TEST_F(RewriteSource, TheFirstCommentHoldingTheInsertTextInAnyCaseReceivesTheHistory) {
  EXPECT_EQ(Rewritten("unit CvsLogTools;\nconst S = 'CVSLOG';\n{CVS* fixed the CVSLOG scan}\n"
                      "{ the cvslog: }\n{CVSLOG}\n"),
            WithCrLf("unit CvsLogTools;\nconst S = 'CVSLOG';\n{qa 2003.06.02 fixed the CVSLOG "
                     "scan}\n{ the cvslog:\n" +
                     Blanks(8) + "qa 2003.06.02 fixed the CVSLOG scan\n}\n{CVSLOG}\n"));
}

TEST_F(RewriteSource, AMarkerCommentIsReopenedAndKeepsItsTextAndColumn) {
  EXPECT_EQ(Rewritten("  {CvsLog} more\n{CVS* a}\n"),
            WithCrLf("  {CvsLog\n" + Blanks(5) + "qa 2003.06.02 a\n} more\n{qa 2003.06.02 a}\n"));
  FInsertText = "History";
  EXPECT_EQ(Rewritten("(* history *)\n{CVS* a}\n"),
            WithCrLf("(* history\n" + Blanks(5) + "qa 2003.06.02 a\n*)\n{qa 2003.06.02 a}\n"));
}

// Mend: nothing of a marker line is lost. What stands before "{" and the
// marker stays in front of it; what follows the first "}" after the marker
// follows the "}" that closes the history.
TEST_F(RewriteSource, AMarkerLineKeepsItsCodeAndDirectives) {
  const std::string h = "qa 2003.06.02";
  const std::vector<SourceCase> cases = {
      {"code and a directive", "x := 1; {CVSLOG} {$mode objfpc}\n{CVS* a}\n",
       "x := 1; {CVSLOG\n" + Blanks(11) + h + " a\n} {$mode objfpc}\n{" + h + " a}\n", ""},
      {"unit header and uses clause", "unit U; {CVSLOG} interface uses SysUtils;\n{CVS* a}\n",
       "unit U; {CVSLOG\n" + Blanks(11) + h + " a\n} interface uses SysUtils;\n{" + h + " a}\n",
       ""},
      {"a (* *) marker", "(* CVSLOG *) x;\n{CVS* a}\n",
       "(* CVSLOG\n" + Blanks(5) + h + " a\n*) x;\n{" + h + " a}\n", ""},
      {"a later run", "x {CVSLOG\n   old\n}\n{CVS* b}\n",
       "x {CVSLOG\n" + Blanks(5) + h + " b\n   old\n}\n{" + h + " b}\n", ""},
      {"a brace before the marker closes nothing", "{x} {CVSLOG\n   old\n}\n{CVS* b}\n",
       "{x} {CVSLOG\n" + Blanks(7) + h + " b\n   old\n}\n{" + h + " b}\n", ""},
  };
  for (const SourceCase& c : cases) {
    EXPECT_EQ(Rewritten(c.before), WithCrLf(c.after)) << c.name;
  }
}

// Mend: every way of writing the marker in a comment gets the history inside
// that comment, and a second run changes nothing.
TEST_F(RewriteSource, EveryMarkerCommentTakesTheHistoryInsideIt) {
  const std::string h = "qa 2003.06.02 a";
  const std::vector<BytesCase> cases = {
      {"blanks inside the braces", "{ CVSLOG }\n{CVS* a}\n",
       "{ CVSLOG\n" + Blanks(4) + h + "\n}\n"},
      {"words after the marker", "{CVSLOG History}\n{CVS* a}\n",
       "{CVSLOG History\n" + Blanks(3) + h + "\n}\n"},
      {"(* *)", "(*CVSLOG*)\n{CVS* a}\n", "(*CVSLOG\n" + Blanks(4) + h + "\n*)\n"},
      {"an open brace", "{CVSLOG history of changes\n}\n{CVS* a}\n",
       "{CVSLOG history of changes\n" + Blanks(3) + h + "\n}\n"},
      {"a line inside a block", "(* Unit A\n   CVSLOG\n*)\n{CVS* a}\n",
       "(* Unit A\n   CVSLOG\n" + Blanks(5) + h + "\n*)\n"},
      {"a block that closes on the marker line", "{ Unit A\n  CVSLOG } x;\n{CVS* a}\n",
       "{ Unit A\n  CVSLOG\n" + Blanks(4) + h + "\n} x;\n"},
      {"nested braces", "{ {CVSLOG} }\n{CVS* a}\n", "{ {CVSLOG\n" + Blanks(5) + h + "\n} }\n"},
      {"a line comment on the marker line", "{CVSLOG} // x\n{CVS* a}\n",
       "{CVSLOG\n" + Blanks(3) + h + "\n} // x\n"},
  };
  for (const BytesCase& c : cases) {
    RemoveFile(Log());
    const std::string first = Rewritten(c.before);
    EXPECT_EQ(first, WithCrLf(c.after + "{" + h + "}\n")) << c.name;
    text::PascalCodeComparison code;
    code.FeedBefore(WithCrLf(c.before));
    code.FeedAfter(first);
    EXPECT_TRUE(code.Finish()) << c.name;
    EXPECT_EQ(Process("dev", 2004, 1, 1), "") << c.name;
    EXPECT_EQ(ReadFile(Source()), first) << c.name;
  }
}

// Mend: a UTF-8 source is wrapped by characters and takes the user in UTF-8;
// a Windows-1252 one stays one byte a character.
TEST_F(RewriteSource, AUtf8SourceIsWrappedByCharactersAndGetsTheUserInUtf8) {
  std::string words;
  for (int i = 0; i < 12; ++i)
    words +=
        " Gr\xC3\xB6\xC3\x9F"
        "e";
  WriteFile(Source(), "{CVSLOG}\n// CVS*" + words + "\n");
  ASSERT_EQ(Process("j\xF6rg"), "");
  // "jörg 2003.06.02" and ten words make 75 characters (95 bytes).
  std::string first = "j\xC3\xB6rg 2003.06.02";
  std::string second(16, ' ');
  for (int i = 0; i < 10; ++i)
    first +=
        " Gr\xC3\xB6\xC3\x9F"
        "e";
  second +=
      "Gr\xC3\xB6\xC3\x9F"
      "e Gr\xC3\xB6\xC3\x9F"
      "e";
  EXPECT_EQ(ReadFile(Source()), "{CVSLOG\n   " + first + "\n   " + second +
                                    "\n}\n// j\xC3\xB6rg 2003.06.02" + words + "\n");
  EXPECT_EQ(ReadFile(Log()), first + "\n" + second.substr(16) + "\n");
  // A byte order mark takes no column.
  RemoveFile(Log());
  WriteFile(Source(), "\xEF\xBB\xBF{CVSLOG}\n// CVS* a\n");
  ASSERT_EQ(Process("j\xF6rg"), "");
  EXPECT_EQ(ReadFile(Source()),
            "\xEF\xBB\xBF{CVSLOG\n   j\xC3\xB6rg 2003.06.02 a\n}\n"
            "// j\xC3\xB6rg 2003.06.02 a\n");
  // The same note in Windows-1252 is cut by bytes, and the user is not
  // converted.
  RemoveFile(Log());
  WriteFile(Source(),
            "{CVSLOG}\n// CVS* Gr\xF6\xDF"
            "e\n");
  ASSERT_EQ(Process("j\xF6rg"), "");
  EXPECT_EQ(ReadFile(Log()),
            "j\xF6rg 2003.06.02 Gr\xF6\xDF"
            "e\n");
}

// Mend: a note cannot end the history comment early or open a nested one.
TEST_F(RewriteSource, BracesOfANoteBecomeParenthesesInTheHistoryButNotInTheLog) {
  EXPECT_EQ(Rewritten("{CVSLOG}\n// CVS* map \"}\" to \"\\}\", {x}\n"),
            WithCrLf("{CVSLOG\n   qa 2003.06.02 map \")\" to \"\\)\", (x)\n}\n"
                     "// qa 2003.06.02 map \"}\" to \"\\}\", {x}\n"));
  EXPECT_EQ(ReadFile(Log()), WithCrLf("qa 2003.06.02 map \"}\" to \"\\}\", {x}\n"));
  // Under any marker nothing in the history can open or end a comment.
  RemoveFile(Log());
  EXPECT_EQ(Rewritten("(* CVSLOG *)\n// CVS* {x} (*y*) {*}\n"),
            WithCrLf("(* CVSLOG\n     qa 2003.06.02 (x) ( *y* ) ( * )\n*)\n"
                     "// qa 2003.06.02 {x} (*y*) {*}\n"));
}

// Mend: what the tool wrote is never collected again.
TEST_F(RewriteSource, ASecondRunCollectsNothingFromTheHistoryItWrote) {
  const std::vector<std::string> sources = {
      // wrapped so that "// CVS*" begins a history line
      "{CVSLOG}\n// CVS* " + std::string(64, 'w') + " // CVS* again\n",
      // an older history that holds a marked comment
      "  {CVSLOG\n  // CVS* written by hand\n  {CVS* also\n  }\n{CVS* new}\n",
  };
  for (const std::string& source : sources) {
    RemoveFile(Log());
    WriteFile(Source(), WithCrLf(source));
    ASSERT_EQ(Process(), "");
    const std::string first = ReadFile(Source());
    const std::string log = ReadFile(Log());
    ASSERT_NE(first, WithCrLf(source));
    ASSERT_EQ(Process("dev", 2004, 1, 1), "") << source;
    EXPECT_EQ(ReadFile(Source()), first) << source;
    EXPECT_EQ(ReadFile(Log()), log) << source;
  }
  EXPECT_EQ(ReadFile(Log()), WithCrLf("qa 2003.06.02 new\n"));
}

// Mend: "*.pas" also selects "Unit1.pas.cvs", the log beside Unit1.pas.
TEST_F(RewriteSource, ALogBesideItsSourceIsNeverRewritten) {
  WriteFile(Log(), "{CVS* a}\r\n");
  THistrel histrel(FixedDate(2003, 6, 2));
  histrel.SetUser("qa");
  histrel.SetPath(SystemPath(FDir.Path()) + "\\");
  histrel.SetFileName("Unit1.pas.cvs");
  WriteFile(Source(), "unit Unit1;\r\n");
  EXPECT_NO_THROW(histrel.ProcessFile());
  EXPECT_EQ(ReadFile(Log()), "{CVS* a}\r\n");
  EXPECT_FALSE(FileExists(Log() + ".cvs"));
  // Without its source beside it, it is a file like any other.
  RemoveFile(Source());
  EXPECT_NO_THROW(histrel.ProcessFile());
  EXPECT_EQ(ReadFile(Log()), "{qa 2003.06.02 a}\r\n");
  EXPECT_TRUE(FileExists(Log() + ".cvs"));
}

TEST_F(RewriteSource, AnInsertTextIsPlainTextNotAPattern) {
  FInsertText = ".*[log]";
  EXPECT_EQ(
      Rewritten("{CVSLOG}\n{.*[LOG]}\n{CVS* a}\n"),
      WithCrLf("{CVSLOG}\n{.*[LOG]\n" + Blanks(3) + "qa 2003.06.02 a\n}\n{qa 2003.06.02 a}\n"));
}

// Mend: every byte of a rewritten source stays, but for the marked comments
// and the history; every line keeps its own line end, and the lines a run
// adds take that of the marker line.
TEST_F(RewriteSource, KeepsLoneCrsCtrlZTailsAndEveryLineEnd) {
  const std::string h = "qa 2003.06.02";
  const std::vector<BytesCase> cases = {
      {"a lone CR is a byte of its line", "{CVS* a}\r\nx := 'a\rb';\r\n",
       "{" + h + " a}\r\nx := 'a\rb';\r\n"},
      {"CR before CR LF", "{CVS* a}\r\nx\r\r\n", "{" + h + " a}\r\nx\r\r\n"},
      {"CR-only line ends make one line, kept whole",
       "unit U;\r{CVSLOG}\rinterface\r{CVS* a}\rend.\r",
       "unit U;\r{CVSLOG\r\n" + Blanks(11) + h + " a\r\n}\rinterface\r{" + h + " a}\rend.\r"},
      {"no line end after the last line", "unit U;\n{CVSLOG}\n{CVS* a}\nend.",
       "unit U;\n{CVSLOG\n   " + h + " a\n}\n{" + h + " a}\nend."},
      {"mixed line ends stay mixed", "unit U;\n{CVS* a}\r\nx\r\ny\n",
       "unit U;\n{" + h + " a}\r\nx\r\ny\n"},
      {"added lines end as the marker line", "unit U;\n{CVSLOG}\r\n{CVS* a}\nx",
       "unit U;\n{CVSLOG\r\n   " + h + " a\r\n}\r\n{" + h + " a}\nx"},
      {"a marker on the last line", "unit U;\r\n{CVS* a}\n{CVSLOG}",
       "unit U;\r\n{" + h + " a}\n{CVSLOG\r\n   " + h + " a\r\n}"},
      {"a Ctrl-Z tail is copied",
       "{CVS* a}\nlast\x1A"
       "dropped {CVS* b}\n\x01\n",
       "{" + h +
           " a}\nlast\x1A"
           "dropped {CVS* b}\n\x01\n"},
      {"a Ctrl-Z at the start of a line", "{CVS* a}\r\n\x1A\r\nrest",
       "{" + h + " a}\r\n\x1A\r\nrest"},
      {"a Ctrl-Z on the marker line", "{CVS* a}\r\nx {CVSLOG} y\x1Az",
       "{" + h + " a}\r\nx {CVSLOG\r\n     " + h + " a\r\n} y\x1Az"},
  };
  for (const BytesCase& c : cases) {
    WriteFile(Source(), c.before);
    EXPECT_EQ(Process(), "") << c.name;
    EXPECT_EQ(ReadFile(Source()), c.after) << c.name;
  }
}

// Mend: a log keeps its own line ends; a new one takes its source's.
TEST_F(RewriteSource, LinesAppendedToALogTakeItsLineEnds) {
  struct LogCase {
    std::string source;
    std::string logBefore;  // "" for none
    std::string logAfter;
  };
  const std::vector<LogCase> cases = {
      {"{CVS* a}\n", "old\r\n", "old\r\nqa 2003.06.02 a\r\n\r\n"},
      {"{CVS* a}\r\n", "old\n", "old\nqa 2003.06.02 a\n\n"},
      {"{CVS* a}\n", "", "qa 2003.06.02 a\n\n"},
      {"{CVS* a}\r\n", "", "qa 2003.06.02 a\r\n\r\n"},
      // A second entry of the same day and text is an entry of its own.
      {"{CVS* a}\n", "qa 2003.06.02 a\n\n", "qa 2003.06.02 a\n\nqa 2003.06.02 a\n\n"},
  };
  for (const LogCase& c : cases) {
    RemoveFile(Log());
    if (!c.logBefore.empty()) WriteFile(Log(), c.logBefore);
    WriteFile(Source(), c.source);
    ASSERT_EQ(Process(), "");
    EXPECT_EQ(ReadFile(Log()), c.logAfter) << testing::PrintToString(c.source + c.logBefore);
  }
}

// What the compilers read as code, literals included, stays as it was, and
// what they read as a comment holds the notes and the history.
TEST_F(RewriteSource, NotesAndTheHistoryStayWhereTheCompilersSeeComments) {
  const std::string h = "qa 2003.06.02";
  const std::vector<BytesCase> cases = {
      {"a UTF-8 separator is one character", "{CVSLOG}\n{CVS*\xC3\xA9 text}\n// CVS*\xC2\xA7note\n",
       "{CVSLOG\n   " + h + " text\n" + Blanks(17) + "note\n}\n{" + h + "\xC3\xA9 text}\n// " + h +
           "\xC2\xA7note\n"},
      {"a second note-shaped comment holds no history", "unit u;\n{CVS* a} {CVS* b\n  CVSLOG\n}\n",
       "unit u;\n{" + h + " a} {CVS* b\n  CVSLOG\n}\n"},
      {"a line note after a byte order mark", "\xEF\xBB\xBF// CVS* a\n",
       "\xEF\xBB\xBF// " + h + " a\n"},
      {"a line note ends with its block", "{CVSLOG}\n{ block\n  // CVS* a } const z = 3;\n",
       "{CVSLOG\n   " + h + " a\n}\n{ block\n  // " + h + " a } const z = 3;\n"},
      {"a word after a comment is no marker", "{ b\n// CVS* a } {}CVSLOG\n",
       "{ b\n// " + h + " a } {}CVSLOG\n"},
      {"a lone CR ends a line note", "// CVS* x\r// d\r{CVSLOG}\n",
       "// " + h + " x\r// d\r{CVSLOG\n" + Blanks(27) + h + " x\n}\n"},
      {"notes and a marker in a multi-line literal",
       "const S = '''\n  {CVS* in}\n  // CVS* in\n  {CVSLOG}\n  ''';\n{CVSLOG}\n{CVS* a}\n",
       "const S = '''\n  {CVS* in}\n  // CVS* in\n  {CVSLOG}\n  ''';\n{CVSLOG\n   " + h +
           " a\n}\n{" + h + " a}\n"},
      {"a line note above the marker in its comment",
       "(* History\n// CVS* x\n   CVSLOG\n*)\n{CVS* a}\n",
       "(* History\n// CVS* x\n   CVSLOG\n     " + h + " a\n*)\n{" + h + " a}\n"},
      {"notes in a backtick literal", "const S = `\n{CVS* in}\n// CVS* in\n`;\n{CVS* a}\n",
       "const S = `\n{CVS* in}\n// CVS* in\n`;\n{" + h + " a}\n"},
  };
  ExpectRewrites(cases);
  // Where the new text would read otherwise under Free Pascal's nesting, or
  // a user name would end a note early, nothing is written.
  const std::pair<std::string, std::string> refused[] = {
      {"a(*b", "{$mode objfpc}\n{CVSLOG}\n(* block\n// CVS* x\n*)\nbegin end.\n"},
      {"qa", "(* a (* b *)\n{CVSLOG '*)' x}\n{CVS* n}\n"},
      {"a}{b", "{CVS* n}\n"},
  };
  for (const auto& [user, content] : refused) {
    RemoveFile(Log());
    WriteFile(Source(), content);
    EXPECT_EQ(Process(user), FormatText(SRewriteChangesCode, Shown())) << content;
    EXPECT_EQ(ReadFile(Source()), content);
    EXPECT_FALSE(FileExists(Log()));
  }
}

// A marker text outside ASCII is matched in the source's encoding, by its
// characters in any case.
TEST_F(RewriteSource, AMarkerTextOutsideAsciiIsFoundInTheSourcesEncoding) {
  FInsertText = "\xC3\x80 PROPOS";  // "À PROPOS", given in UTF-8
  const std::string h = "qa 2003.06.02";
  const std::vector<BytesCase> cases = {
      {"UTF-8, lower case", "{ \xC3\xA0 propos }\n{CVS* \xC3\xA9t\xC3\xA9}\n",
       "{ \xC3\xA0 propos\n    " + h + " \xC3\xA9t\xC3\xA9\n}\n{" + h + " \xC3\xA9t\xC3\xA9}\n"},
      {"Windows-1252", "{ \xE0 propos }\n{CVS* \xE9t\xE9}\n",
       "{ \xE0 propos\n    " + h + " \xE9t\xE9\n}\n{" + h + " \xE9t\xE9}\n"},
      {"no byte of a CJK character", "{ \xE3\xA0\x80 PROPOS }\n{CVS* \xC3\xA9}\n",
       "{ \xE3\xA0\x80 PROPOS }\n{" + h + " \xC3\xA9}\n"},
  };
  ExpectRewrites(cases);
}

TEST_F(RewriteSource, ALoneCrDoesNotJoinAMarker) {
  WriteFile(Source(), "{CV\rS* no note}\r\n// CVS\r* none\r\n");
  ASSERT_EQ(Process(), "");
  EXPECT_EQ(ReadFile(Source()), "{CV\rS* no note}\r\n// CVS\r* none\r\n");
  EXPECT_FALSE(FileExists(Log()));
}

TEST_F(RewriteSource, LongLinesAndBytesOtherThanNulPassUnchanged) {
  const std::string binary("\x01\xFF\xA7\x80 bytes");
  const std::string longLine(3'000'000, 'z');
  WriteFile(Source(), binary + "\n{CVS* a}\n" + longLine + "\n");
  ASSERT_EQ(Process(), "");
  EXPECT_EQ(ReadFile(Source()), binary + "\n{qa 2003.06.02 a}\n" + longLine + "\n");
}

// Mend: a file with a NUL byte (an editor's swap file, say) is no source.
TEST_F(RewriteSource, AFileWithANulByteIsLeftAlone) {
  for (const std::string& content :
       {std::string("{CVS* a}\n") + '\0' + "\n", std::string("{CVS* a}\n\x1A") + '\0',
        std::string(5'000'000, 'x') + "\n{CVS* a}\n" + '\0',
        std::string("// CVSLOG\n{CVS* a}\n") + '\0'}) {
    WriteFile(Source(), content);
    EXPECT_EQ(Process(), "");
    EXPECT_EQ(ReadFile(Source()), content);
    EXPECT_FALSE(FileExists(Log()));
    EXPECT_FALSE(FileExists(Temporary()));
  }
}

TEST_F(RewriteSource, AMissingFileCannotBeEdited) {
  EXPECT_EQ(Process(), "The file " + Shown() + " cannot be edited!");
  EXPECT_FALSE(FileExists(Log()));
}

TEST_F(RewriteSource, WithoutAUserTheFirstMarkedCommentFails) {
  WriteFile(Source(), "{CVS* a}\n");
  EXPECT_EQ(Process(""), "The user must be indicated!");
  EXPECT_EQ(ReadFile(Source()), "{CVS* a}\n");
}

// Mend: a source that cannot be replaced is reported, and nothing is written.
TEST_F(RewriteSourceOnDisk, AReadOnlySourceIsReportedAndNothingIsWritten) {
  WriteFile(Source(), "{CVS* a}\n");
  ASSERT_EQ(chmod(Source().c_str(), 0444), 0);
  EXPECT_EQ(Process(), "The file " + Shown() + " cannot be edited!");
  EXPECT_EQ(ReadFile(Source()), "{CVS* a}\n");
  EXPECT_FALSE(FileExists(Log()));
  EXPECT_FALSE(FileExists(Temporary()));
}

// Mend: a rename that fails is reported, and the temporary file goes.
TEST_F(RewriteSourceOnDisk, ASourceThatCannotBeRenamedOverIsReportedAndLeftAsItWas) {
  // In a sticky directory only the owner may replace a file, however
  // writable it is. Only root can give the file another owner than the
  // writer; CI runs as root.
  if (geteuid() != 0) GTEST_SKIP() << "needs a file of another owner";
  ASSERT_EQ(chmod(FDir.Path().c_str(), 01777), 0);
  WriteFile(Source(), "{CVS* a}\n");
  ASSERT_EQ(chmod(Source().c_str(), 0666), 0);
  EXPECT_EQ(testsupport::WithoutPrivileges([&] { return Lines{Process()}; }),
            Lines{"The file " + Shown() + " cannot be edited!"});
  EXPECT_EQ(ReadFile(Source()), "{CVS* a}\n");
  EXPECT_FALSE(FileExists(Temporary()));
}

// Mend: the last line of an entry whose comment never closes is not lost.
TEST_F(RewriteSource, ASourceEndingInsideAnOpenCommentKeepsItsLastLine) {
  EXPECT_EQ(Rewritten("{CVSLOG}\n{CVS* done}\n{CVS* never\nclosed"),
            WithCrLf("{CVSLOG\n   qa 2003.06.02 done\n" + Blanks(17) +
                     "never closed\n}\n{qa 2003.06.02 done}\n{qa 2003.06.02 never\n") +
                "closed");
  EXPECT_EQ(ReadFile(Log()), WithCrLf("qa 2003.06.02 done\nnever closed\n"));
  RemoveFile(Log());
  EXPECT_EQ(Rewritten("{CVS* \nonly"), WithCrLf("{qa 2003.06.02 \n") + "only");
  EXPECT_EQ(ReadFile(Log()), WithCrLf("qa 2003.06.02 only\n\n"));
}

// Mend: whatever already has the temporary file's name is left alone.
TEST_F(RewriteSourceOnDisk, AnExistingTemporaryFileIsLeftAloneAndReported) {
  WriteFile(Source(), "{CVS* a}\n");
  WriteFile(Temporary(), "someone's file\n");
  EXPECT_EQ(Process(),
            "The temporary file " + SystemPath(FDir.Path()) + "\\Unit1.tmp already exists!");
  EXPECT_EQ(ReadFile(Temporary()), "someone's file\n");
  EXPECT_EQ(ReadFile(Source()), "{CVS* a}\n");
  EXPECT_FALSE(FileExists(Log()));

  // A link of that name is not followed.
  std::remove(Temporary().c_str());
  WriteFile(FDir / "elsewhere", "kept\n");
  ASSERT_EQ(symlink((FDir / "elsewhere").c_str(), Temporary().c_str()), 0);
  EXPECT_NE(Process(), "");
  EXPECT_EQ(ReadFile(FDir / "elsewhere"), "kept\n");
  EXPECT_EQ(ReadFile(Source()), "{CVS* a}\n");
}

TEST_F(RewriteSource, ASourceNamedLikeItsTemporaryFileIsNotOverwritten) {
  WriteFile(FDir / "notes.tmp", "{CVS* a}\n");
  THistrel histrel(FixedDate(2003, 6, 2));
  histrel.SetUser("qa");
  histrel.SetPath(SystemPath(FDir.Path()) + "\\");
  histrel.SetFileName("notes.tmp");
  EXPECT_THROW(histrel.ProcessFile(), Exception);
  EXPECT_EQ(ReadFile(FDir / "notes.tmp"), "{CVS* a}\n");
}

// Mend: a rewritten source keeps its permission bits and stays a link.
TEST_F(RewriteSourceOnDisk, ARewrittenSourceKeepsItsPermissionBits) {
  for (const mode_t mode : {0600, 0640, 0755, 0604}) {
    WriteFile(Source(), "{CVS* a}\n");
    ASSERT_EQ(chmod(Source().c_str(), mode), 0);
    ASSERT_EQ(Process(), "");
    struct stat info {};
    ASSERT_EQ(stat(Source().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, mode);
    EXPECT_EQ(ReadFile(Source()), "{qa 2003.06.02 a}\n");
  }
}

// A rewritten source keeps its extended attributes and its ACL; with an
// ACL the group bits are its mask, which must not become the group's rights.
TEST_F(RewriteSourceOnDisk, ARewrittenSourceKeepsItsExtendedAttributesAndItsAcl) {
  WriteFile(Source(), "{CVS* a}\n");
  if (setxattr(Source().c_str(), "user.origin", "made by hand", 12, 0) != 0) {
    GTEST_SKIP() << "no extended attributes here";
  }
  // user::rw-, user:65534:r--, group::---, mask::r--, other::---
  struct Entry {
    std::uint16_t Tag;
    std::uint16_t Perm;
    std::uint32_t Id;
  };
  const std::uint32_t version = 2;
  const Entry entries[] = {{0x01, 6, 0xFFFFFFFF},
                           {0x02, 4, 65534},
                           {0x04, 0, 0xFFFFFFFF},
                           {0x10, 4, 0xFFFFFFFF},
                           {0x20, 0, 0xFFFFFFFF}};
  std::string acl(reinterpret_cast<const char*>(&version), sizeof version);
  acl.append(reinterpret_cast<const char*>(entries), sizeof entries);
  ASSERT_EQ(setxattr(Source().c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0);
  ASSERT_EQ(Process(), "");
  EXPECT_EQ(ReadFile(Source()), "{qa 2003.06.02 a}\n");
  char value[256];
  const ssize_t origin = getxattr(Source().c_str(), "user.origin", value, sizeof value);
  EXPECT_EQ(std::string(value, static_cast<std::size_t>(origin > 0 ? origin : 0)), "made by hand");
  const ssize_t copied = getxattr(Source().c_str(), "system.posix_acl_access", value, sizeof value);
  EXPECT_EQ(std::string(value, static_cast<std::size_t>(copied > 0 ? copied : 0)), acl);
  struct stat info {};
  ASSERT_EQ(stat(Source().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  // The tool's own mark on its temporary file does not stay on the source.
  EXPECT_LT(getxattr(Source().c_str(), "user.histrel", value, sizeof value), 0);
}

TEST_F(RewriteSourceOnDisk, ASourceThatIsALinkStaysALinkAndItsTargetIsRewritten) {
  WriteFile(FDir / "real/Real.pas", "{CVS* a}\n");
  ASSERT_EQ(symlink("real/Real.pas", Source().c_str()), 0);
  ASSERT_EQ(Process(), "");
  struct stat info {};
  ASSERT_EQ(lstat(Source().c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(ReadFile(FDir / "real/Real.pas"), "{qa 2003.06.02 a}\n");
  EXPECT_EQ(ReadFile(Log()), "qa 2003.06.02 a\n\n");
  EXPECT_FALSE(FileExists(FDir / "real/Real.tmp"));
  EXPECT_FALSE(FileExists(Temporary()));
}

// Mend: a line comment behind a collected brace comment keeps its marker, so
// that its text is collected on the next run instead of being lost.
TEST_F(RewriteSource, OnlyTheCollectedCommentOfALineIsConverted) {
  // A brace in a line comment opens nothing.
  EXPECT_EQ(Rewritten("// CVS* first {CVS* second}\n"),
            WithCrLf("// qa 2003.06.02 first {CVS* second}\n"));
  EXPECT_EQ(Rewritten("{CVS* one} // CVS* two\n"), WithCrLf("{qa 2003.06.02 one} // CVS* two\n"));
  EXPECT_EQ(ReadFile(Log()), WithCrLf("qa 2003.06.02 first {CVS* second}\n\n"
                                      "qa 2003.06.02 one\n\n"));
}

TEST_F(RewriteSourceOnDisk, ASpecialFileIsReportedInsteadOfWaitedFor) {
  ASSERT_EQ(mkfifo(Source().c_str(), 0644), 0);
  EXPECT_EQ(Process(), "The file " + Shown() + " cannot be edited!");
}

// ---------------------------------------------------------------------------
// The ways of reading a source give the same bytes

// What one run on one source left behind.
struct Outcome {
  std::string source;
  std::string log;
  bool logExists;
  std::string message;
  bool replaced;
  bool operator==(const Outcome& AOther) const {
    return source == AOther.source && log == AOther.log && logExists == AOther.logExists &&
           message == AOther.message && replaced == AOther.replaced;
  }
};

void PrintTo(const Outcome& AOutcome, std::ostream* AStream) {
  *AStream << "message " << testing::PrintToString(AOutcome.message) << ", replaced "
           << AOutcome.replaced << ", log " << testing::PrintToString(AOutcome.log) << ", source "
           << testing::PrintToString(AOutcome.source.substr(0, 300));
}

// Line by line as the algorithm states it; held in memory; streamed through
// buffers so small that lines cross them; streamed with the kernel copying.
const std::vector<TSourceReading> kReadings = {
    {true, 0, std::size_t{256} * 1024},
    {false, std::size_t{4} * 1024 * 1024, std::size_t{256} * 1024},
    {false, 0, 5},
    {false, 0, 64},
    {false, 0, 4096},
};

class SourceReadings : public ::testing::Test {
 protected:
  void SetUp() override { InitializeHistrelEnglishConstantUnit(); }

  Outcome Run(const std::string& AContent, const TSourceReading& AReading) {
    const std::string source = FDir / "Unit1.pas";
    const std::string log = source + ".cvs";
    std::remove(source.c_str());
    std::remove(log.c_str());
    WriteFile(source, AContent);
    struct stat before {};
    EXPECT_EQ(stat(source.c_str(), &before), 0);
    THistrel histrel(FixedDate(2003, 6, 2));
    histrel.SetUser("qa");
    histrel.SetPath(SystemPath(FDir.Path()) + "\\");
    histrel.SetFileName("Unit1.pas");
    histrel.SetInsertText(FInsertText);
    histrel.SetKeepCVS(FKeepCVS);
    histrel.SetSourceReading(AReading);
    Outcome outcome{"", "", false, "", false};
    try {
      histrel.ProcessFile();
    } catch (const Exception& failure) {
      outcome.message = failure.Message();
    }
    struct stat after {};
    EXPECT_EQ(stat(source.c_str(), &after), 0);
    outcome.replaced = before.st_ino != after.st_ino;
    outcome.source = ReadFile(source);
    outcome.logExists = FileExists(log);
    outcome.log = ReadFile(log);
    EXPECT_FALSE(FileExists(FDir / "Unit1.tmp"));
    return outcome;
  }

  // Every way of reading gives what line by line gives, which is returned.
  Outcome ExpectTheSame(const std::string& AContent) {
    Outcome expected = Run(AContent, kReadings[0]);
    for (std::size_t i = 1; i < kReadings.size(); ++i) {
      EXPECT_EQ(Run(AContent, kReadings[i]), expected)
          << "reading " << i << " of " << testing::PrintToString(AContent.substr(0, 200));
    }
    // A source whose text holds no "CVS*", or that holds a NUL byte, is not
    // even replaced.
    const std::string text = AContent.substr(0, AContent.find('\x1A'));
    if (text.find("CVS*") == std::string::npos || AContent.find('\0') != std::string::npos) {
      EXPECT_FALSE(expected.replaced);
    }
    return expected;
  }

  TempDir FDir;
  std::string FInsertText = "CVSLOG";
  bool FKeepCVS = false;
};

std::string Repeated(const std::string& ALine, int ACount) {
  std::string result;
  for (int i = 0; i < ACount; ++i) result += ALine;
  return result;
}

TEST_F(SourceReadings, GiveTheSameBytesOnTheWorkedExamplesAndTheEdgeCases) {
  const std::string plain = Repeated("  x := x * 2; (* twice *)\r\n", 300);
  const std::string lfPlain = Repeated("  x := x * 2; (* twice *)\n", 300);
  const std::vector<std::string> contents = {
      kSampleBefore,
      WithCrLf(kSampleBefore),
      WithCrLf(WithDate(kSampleAfterFirstRun, "2003.05.14")),
      plain + "{CVSLOG}\r\n" + plain + "  {CVS* a note}\r\n" + plain + "// CVS* last\r\n" + plain,
      "unit A;\r\n" + plain + "{CVS* no marker}\r\n" + plain,
      plain + "{CVS* marker comes late}\r\n" + plain + "  {CvsLog} here\r\n" + plain,
      plain + "{CVS* open\r\n" + plain + "still open } {CVS* x}\r\n" + plain,
      plain + "{CVS* never closed\r\n" + plain,
      plain + "{CVSLOG}\n{CVS* bare LF}\n" + plain + "lone\rCR {CVS* y}\r\n" + plain,
      plain + "{CVS* a}\r\n" + plain + "\x1A" + "{CVS* after Ctrl-Z}\r\n" + plain,
      plain + "{CVS* a}\r\n" + plain + "end.",
      plain + "{CVS* a}\r\n" + plain + "end.\r",
      plain + "{CV\rS* joined}\r\n" + plain,
      plain + "x := 1; // CVS* not a comment of its own\r\n" + plain,
      plain + "{CVS* a}\r\n" + std::string(5000, 'z') + "{CVSLOG}\r\n" + plain,
      plain + "{CVS* \xA7}\r\nb }\r\n" + plain,
      plain,
      Repeated("x\n", 2000) + "{CVSLOG}\n{CVS* b}\n",
      // More stretches than are noted: the rest is rewritten line by line.
      "{CVSLOG}\r\n{CVS* a}\r\n" + Repeated("x\r\n// CVS*\r\n", 5000) + "{CVS* b}\r\n" + plain,
      "",
      // Lone CRs, Ctrl-Z tails, NUL bytes, LF line ends.
      plain + "x := 'a\rb'; {CVS* a}\r\n" + plain + "end.\r",
      "unit U;\r{CVSLOG}\r" + plain + "{CVS* a}\r" + plain,
      plain + "{CVS* a}\r\n" + plain + "tail\x1A" + plain + "{CVS* b}\r\n",
      plain + "{CVS* a}\r\n" + plain + std::string("\0", 1) + plain,
      lfPlain + "{CVSLOG}\n" + lfPlain + "{CVS* a}\n" + lfPlain + "crlf\r\n" + lfPlain,
      lfPlain + "{CVS* a}\n" + lfPlain + "x\r\r\n" + lfPlain + "end.",
      // History comments: what stands inside is never collected.
      "unit U; {CVSLOG} interface\r\n" + plain + "{CVS* a} {$mode objfpc}\r\n" + plain,
      "{CVSLOG\r\n" + plain + "// CVS* old\r\n" + plain + "} {CVS* new}\r\n" + plain,
      lfPlain + "  {CVSLOG\n" + lfPlain + "{CVS* old\n}\n" + lfPlain + "// CVS* a \"}\" {\n" +
          lfPlain,
  };
  for (const std::string& content : contents) ExpectTheSame(content);
}

TEST_F(SourceReadings, GiveTheSameBytesWhereConversionMakesOrHidesTheInsertText) {
  FInsertText = "qa 2003";  // only converted comments hold it
  ExpectTheSame(Repeated("a\r\n", 100) + "{CVS* a}\r\n" + Repeated("qa 2003\r\n", 3));
  FInsertText = "CVS*";  // conversion removes it from marked lines
  ExpectTheSame(Repeated("a\r\n", 100) + "{CVS* a}\r\n" + Repeated("b\r\n", 100) + "CVS*\r\n");
  FInsertText = "";
  ExpectTheSame(Repeated("a\r\n", 100) + "{CVS* a}\r\n{CVSLOG}\r\n");
  FInsertText = "LOG\r";
  ExpectTheSame(Repeated("a\r\n", 100) + "{CVS* a}\r\n{CVSLOG\r\r\n");
  FKeepCVS = true;
  FInsertText = "CVS:";
  ExpectTheSame(Repeated("a\r\n", 100) + "{CVS* a}\r\n" + Repeated("b\r\n", 100) + "cvs:\r\n");
}

TEST_F(SourceReadings, GiveTheSameBytesOnRandomSources) {
  const std::vector<std::string> pieces = {
      "{CVS*", "{CVS* ", "}",  "// CVS* ", "CVSLOG", "{CVSLOG}", "cvslog", "\r\n",
      "\r\n",  "\r\n",   "\n", "\r",       "\x1A",   "\xA7",     "word ",  "  ",
      "CVS",   "*",      "{",  "{CVSLOG",  "\n",     "\n"};
  std::mt19937 random(4711);
  int replaced = 0;
  for (int round = 0; round < 150; ++round) {
    std::string content;
    const std::size_t count = random() % 40;
    for (std::size_t i = 0; i < count; ++i) content += pieces[random() % pieces.size()];
    if (ExpectTheSame(content).replaced) ++replaced;
  }
  EXPECT_GT(replaced, 50);
}

// A line longer than the part size is read in parts that end after a blank;
// the bytes written are those of reading it whole.
TEST_F(SourceReadings, ALongLineReadInPartsGivesTheSameBytesAsReadWhole) {
  const std::string words = Repeated("totals rounding footer cents ", 40);
  const std::vector<std::string> contents = {
      "unit U;\r\n{CVSLOG}\r\n{CVS* " + words + "}\r\nend.\r\n",
      "unit U;\n{CVSLOG}\nx := 1; " + words + " {CVS* late note} y;\n// CVS* " + words + "\n",
      "unit U;\r\n{CVSLOG}\r\n{CVS* " + std::string(500, 'w') + " " + words + "\r\n}\r\n",
      "{CVS* a}\n" + words + "// CVS* no note\n{ CVSLOG } " + words + "\n",
      // The marker's comment closes, or the line ends, in a later part.
      "{CVSLOG " + words + "}\n{CVS* real}\n",
      "x := 1; " + words + "{ CVSLOG " + words + "\n}\n{CVS* real}\n",
      "x := 1; " + words + "(* CVSLOG *) y; " + words + "\n// CVS* real\n",
  };
  for (const std::string& content : contents) {
    const Outcome whole = Run(content, TSourceReading{});
    ASSERT_TRUE(whole.replaced) << content.substr(0, 40);
    for (TSourceReading reading : kReadings) {
      reading.LinePart = 16;
      EXPECT_EQ(Run(content, reading), whole) << content.substr(0, 40);
    }
  }
}

TEST_F(SourceReadings, GiveTheSameBytesOnASourceLargerThanWhatIsHeld) {
  std::string content = "unit Huge;\r\n\r\n{CVSLOG}\r\n\r\n  {CVS* near the start}\r\n";
  content += Repeated("  begin inc(total, count); end;\r\n", 150000);  // about 5 MB
  content += "  // CVS* near the end\r\nend.\r\n";
  const Outcome streamed = Run(content, TSourceReading{});
  EXPECT_EQ(streamed, Run(content, kReadings[0]));
  EXPECT_EQ(streamed.log, "qa 2003.06.02 near the start\r\nnear the end\r\n");
}

}  // namespace
