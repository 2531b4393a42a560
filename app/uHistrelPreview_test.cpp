// The preview's diff: hunks that git applies exactly, in the usual format,
// and paths relative to the current directory.
#include "app/uHistrelPreview.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/uHistrelEnglishConstant.h"
#include "base/Exception.h"
#include "tests/HistrelTestSupport.h"
#include "tests/TestSupport.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
using Lines = std::vector<std::string>;

std::string Joined(const Lines& ALines) {
  std::string text;
  for (const std::string& line : ALines) text += line + "\n";
  return text;
}

std::string Numbered(int AFrom, int ATo) {
  std::string text;
  for (int i = AFrom; i <= ATo; ++i) text += std::to_string(i) + "\n";
  return text;
}

TEST(UnifiedHunks, HaveThreeLinesOfContextAndJoinWhenTheirContextsMeet) {
  const std::string before = Numbered(1, 20);
  std::string apart = before;
  apart.replace(apart.find("5\n"), 2, "five\n");
  apart.replace(apart.find("15\n"), 3, "fifteen\n");
  EXPECT_EQ(UnifiedHunks(before, apart), (Lines{"@@ -2,7 +2,7 @@", " 2", " 3", " 4", "-5", "+five",
                                                " 6", " 7", " 8", "@@ -12,7 +12,7 @@", " 12", " 13",
                                                " 14", "-15", "+fifteen", " 16", " 17", " 18"}));
  std::string near = before;
  near.replace(near.find("5\n"), 2, "five\n");
  near.replace(near.find("12\n"), 3, "");  // six kept lines between: one hunk
  EXPECT_EQ(UnifiedHunks(before, near).front(), "@@ -2,14 +2,13 @@");
  EXPECT_EQ(UnifiedHunks("a\nb", "a\nb\n"),
            (Lines{"@@ -1,2 +1,2 @@", " a", "-b", "\\ No newline at end of file", "+b"}));
  EXPECT_EQ(UnifiedHunks("", "x\r\n"), (Lines{"@@ -0,0 +1 @@", "+x\r"}));
  EXPECT_EQ(UnifiedHunks("same\r\n", "same\r\n"), Lines{});
}

// The lines both texts begin and end with are found in bytes: a common end
// that does not begin a line in both is no common line, and the line
// numbers count the lines passed over.
TEST(UnifiedHunks, PassOverTheCommonLinesAtBothEndsAsWholeLines) {
  struct Case {
    std::string before;
    std::string after;
    Lines hunks;
  };
  const std::vector<Case> cases = {
      {"a\nb\n", "a\nxb\n", {"@@ -1,2 +1,2 @@", " a", "-b", "+xb"}},
      {"b\n", "xb\n", {"@@ -1 +1 @@", "-b", "+xb"}},
      {"x\ny\n", "y\n", {"@@ -1,2 +1 @@", "-x", " y"}},
      {"a\nb",
       "a\nb\nc",
       {"@@ -1,2 +1,3 @@", " a", "-b", "\\ No newline at end of file", "+b", "+c",
        "\\ No newline at end of file"}},
      {"ab\n", "ab\nab\n", {"@@ -1 +1,2 @@", " ab", "+ab"}},
      {Numbered(1, 100000),
       Numbered(1, 49999) + "half\n" + Numbered(50001, 100000),
       {"@@ -49997,7 +49997,7 @@", " 49997", " 49998", " 49999", "-50000", "+half", " 50001",
        " 50002", " 50003"}},
      {"{CVSLOG}\n" + std::string(100000, 'x') + "\n",
       "{CVSLOG\n  entry\n}\n" + std::string(100000, 'x') + "\n",
       {"@@ -1,2 +1,4 @@", "-{CVSLOG}", "+{CVSLOG", "+  entry", "+}",
        " " + std::string(100000, 'x')}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UnifiedHunks(c.before, c.after), c.hunks) << c.before.substr(0, 40);
  }
}

// Random pairs of texts, CR, lone CR and missing last line ends included,
// and one pair beyond the search's limit: git applies every diff and gives
// exactly the second text.
TEST(UnifiedHunks, GitAppliesThemExactly) {
  const TempDir dir;
  std::mt19937 random(20240514);
  const std::vector<std::string> pieces = {"a\n",  "b\n", "c\r\n", "{CVS* x}\r\n", "\n",
                                           "\r\n", "d",   "e\r",   "  end;\n",     "\t\n"};
  const auto piece = [&] { return pieces[random() % pieces.size()]; };
  std::map<std::string, std::string> expected;
  std::string patch;
  const auto add = [&](const std::string& AName, const std::string& ABefore,
                       const std::string& AAfter) {
    WriteFile(dir / AName, ABefore);
    const Lines hunks = UnifiedHunks(ABefore, AAfter);
    EXPECT_EQ(hunks.empty(), ABefore == AAfter) << AName;
    if (hunks.empty()) return;
    patch += "diff --git a/" + AName + " b/" + AName + "\n--- a/" + AName + "\n+++ b/" + AName +
             "\n" + Joined(hunks);
    expected[AName] = AAfter;
  };
  for (int i = 0; i < 400; ++i) {
    std::vector<std::string> before(random() % 40);
    for (std::string& line : before) line = piece();
    std::vector<std::string> after;
    for (const std::string& line : before) {
      switch (random() % 8) {
        case 0:
          break;  // dropped
        case 1:
          after.push_back(piece());  // replaced
          break;
        case 2:
          after.push_back(piece());  // one inserted before it
          after.push_back(line);
          break;
        default:
          after.push_back(line);
      }
    }
    if (random() % 4 == 0) after.push_back(piece());
    std::string oldText;
    std::string newText;
    for (const std::string& line : before) oldText += line;
    for (const std::string& line : after) newText += line;
    add("f" + std::to_string(i), oldText, newText);
  }
  // Every line changed, far more than the search follows: one block.
  add("large", Numbered(1, 6000), testsupport::WithCrLf(Numbered(1, 6000)));
  // Few changes far apart in a long text.
  std::string sparse = Numbered(1, 6000);
  sparse.replace(sparse.find("\n100\n"), 5, "\nhundred\n");
  sparse.replace(sparse.find("\n5000\n"), 6, "\n");
  add("sparse", Numbered(1, 6000), sparse);

  WriteFile(dir / "all.patch", patch);
  const testsupport::RunResult applied =
      testsupport::Run("/usr/bin/git", {"apply", "--whitespace=nowarn", "all.patch"}, dir.Path());
  ASSERT_EQ(applied.ExitCode, 0) << applied.Err;
  for (const auto& [name, text] : expected) EXPECT_EQ(ReadFile(dir / name), text) << name;
  EXPECT_LT(UnifiedHunks(Numbered(1, 6000), sparse).size(), 20u) << "the changes alone";
}

TEST(PreviewPaths, AreRelativeToTheCurrentDirectoryWithSlashes) {
  const TempDir dir;
  WriteFile(dir / "tree/sub/a.pas", "");
  const testsupport::CurrentDirectory inTree(dir / "tree");
  const std::string tree = testsupport::SystemPath(dir / "tree");
  struct Case {
    std::string path;
    std::string relative;
  };
  const std::vector<Case> cases = {
      {".\\a.pas", "a.pas"},
      {"sub\\a.pas", "sub/a.pas"},
      {"sub\\\\a.pas", "sub/a.pas"},
      {".\\sub\\..\\b.pas", "b.pas"},
      {tree + "\\sub\\a.pas", "sub/a.pas"},
      {tree + "\\..\\other\\c.pas", "../other/c.pas"},
  };
  for (const Case& c : cases) EXPECT_EQ(PathFromCurrentDirectory(c.path), c.relative) << c.path;
}

// Keeps what the worker hands over.
class TRecordingOutput : public THistrelOutput {
 public:
  void SourceRewritten(const std::string& ASource, const std::string& ATarget,
                       std::string&& ANewText) override {
    Calls.insert(Calls.end(), {"source", ASource, ATarget});
    Text = ANewText;
  }
  void LogAppended(const std::string& ALog, std::string&& ALines) override {
    Calls.insert(Calls.end(), {"log", ALog});
    LogLines = ALines;
  }
  Lines Calls;
  std::string Text;
  std::string LogLines;
};

// The output a preview is given receives exactly the bytes the real
// rewrite writes, however the source is read (held, streamed through small
// buffers, line by line), and nothing is written meanwhile.
TEST(PreviewOutput, ReceivesTheBytesTheRewriteWritesInEveryWayOfReading) {
  InitializeHistrelEnglishConstantUnit();
  std::string content = "unit U;\r\n\r\n{ CVSLOG }\r\n";
  for (int i = 0; i < 300; ++i) {
    content += "  Call(" + std::to_string(i) + "); { plain }\r\n";
    if (i % 97 == 5) content += "  {CVS* note " + std::to_string(i) + " on\r\n  two lines}\r\n";
    if (i == 150) content += "  // CVS* a line note\nlone\rCR\n";
  }
  content += "end.\r\n\x1A after the end";
  const std::vector<TSourceReading> readings = {
      {true, 0, std::size_t{256} * 1024},
      {false, std::size_t{4} * 1024 * 1024, std::size_t{256} * 1024},
      {false, 0, 7},
      {false, 0, 4096},
  };
  const TempDir dir;
  const std::string path = testsupport::SystemPath(dir.Path()) + "\\";
  for (std::size_t i = 0; i < readings.size(); ++i) {
    WriteFile(dir / "U.pas", content);
    std::remove((dir / "U.pas.cvs").c_str());
    const auto worker = [&](THistrel& AHistrel) {
      AHistrel.SetUser("qa");
      AHistrel.SetPath(path);
      AHistrel.SetFileName("U.pas");
      AHistrel.SetSourceReading(readings[i]);
    };
    TRecordingOutput output;
    THistrel preview(testsupport::FixedDate(2003, 6, 2));
    worker(preview);
    preview.SetOutput(&output);
    preview.ProcessFile();
    const std::string source = path + "U.pas";
    EXPECT_EQ(output.Calls, (Lines{"source", source, source, "log", source + ".cvs"}));
    EXPECT_EQ(testsupport::Snapshot(dir.Path()),
              (std::map<std::string, std::string>{{"U.pas", content}}))
        << "reading " << i;

    THistrel run(testsupport::FixedDate(2003, 6, 2));
    worker(run);
    run.ProcessFile();
    EXPECT_EQ(output.Text, ReadFile(dir / "U.pas")) << "reading " << i;
    EXPECT_EQ(output.LogLines, ReadFile(dir / "U.pas.cvs")) << "reading " << i;
    EXPECT_NE(output.Text, content);
  }
}

}  // namespace
