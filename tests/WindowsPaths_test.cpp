// End-to-end tests of the built histrel on what Windows makes hard: sources
// reached through symbolic links and paths longer than the ANSI limit of
// about 260 characters. They name every file relative to the tree, with
// backslashes, and accept CR LF line ends, so that they hold for the Linux
// program and for histrel.exe run under Wine alike (Wine shows the links
// made here as the files and folders they name).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/TestSupport.h"

namespace {

using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::RunResult;
using testsupport::TempDir;
using testsupport::WriteFile;
using Lines = std::vector<std::string>;

const char kSource[] = "{CVSLOG}\r\n{CVS* Fixed the totals.}\r\n";

class WindowsPaths : public ::testing::Test {
 protected:
  void SetUp() override { FProgram = testsupport::PrivateProgram(FHome); }

  // The lines the program writes in the tree, each without its line end
  // (LF on Linux, CR LF on Windows), after checking its exit status and
  // the lines of standard error.
  Lines Run(const std::vector<std::string>& AArguments, int AStatus = 0,
            const Lines& AErrors = {}) {
    const RunResult result =
        testsupport::Run(FProgram, AArguments, FTree.Path(),
                         {"HOME=" + FHome.Path(), "XDG_CONFIG_HOME=" + FHome / "config"});
    EXPECT_EQ(result.ExitCode, AStatus) << result.Out;
    EXPECT_EQ(LinesOf(result.Err), AErrors);
    return LinesOf(result.Out);
  }

  static Lines LinesOf(const std::string& AText) {
    Lines lines = testsupport::SplitLines(AText);
    for (std::string& line : lines) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
    }
    return lines;
  }

  void Link(const std::string& ATarget, const std::string& AName) {
    std::filesystem::create_directories(std::filesystem::path(FTree / AName).parent_path());
    std::filesystem::create_symlink(ATarget, FTree / AName);
  }

  bool IsLink(const std::string& AName) const {
    return std::filesystem::is_symlink(std::filesystem::symlink_status(FTree / AName));
  }

  // Whether a source was rewritten: its note converted and the entry
  // written under the marker.
  static bool Rewritten(const std::string& AText) {
    return AText.find("{CVS*") == std::string::npos &&
           AText.find(" Fixed the totals.}") != std::string::npos &&
           AText.rfind("{CVSLOG", 0) == 0 && AText.find("   dev ") != std::string::npos;
  }

  TempDir FHome;
  TempDir FTree;
  std::string FProgram;
};

TEST_F(WindowsPaths, ALinkedSourceIsRewrittenWhereItIsAndStaysALink) {
  WriteFile(FTree / "real/t.pas", kSource);
  Link("../real/t.pas", "src/t.pas");
  EXPECT_EQ(Run({"/USER=dev", "/FILE=src\\t.pas", "/RECURSIVE-"}), Lines{});
  EXPECT_TRUE(IsLink("src/t.pas"));
  EXPECT_TRUE(Rewritten(ReadFile(FTree / "real/t.pas"))) << ReadFile(FTree / "real/t.pas");
  // The log is beside the name that was selected; no temporary file stays.
  EXPECT_NE(ReadFile(FTree / "src/t.pas.cvs").find("Fixed the totals."), std::string::npos);
  EXPECT_FALSE(FileExists(FTree / "real/t.pas.cvs"));
  EXPECT_FALSE(FileExists(FTree / "real/t.tmp"));

  // A mask walk over the link does the same, and its next note goes there too.
  WriteFile(FTree / "real/t.pas", ReadFile(FTree / "real/t.pas") + "{CVS* Again.}\r\n");
  Lines walked = Run({"/USER=dev", "/FILE=src\\*.pas"});
  std::sort(walked.begin(), walked.end());
  EXPECT_EQ(walked, (Lines{"src\\t.pas", "src\\t.pas.cvs"}));
  EXPECT_TRUE(IsLink("src/t.pas"));
  EXPECT_NE(ReadFile(FTree / "real/t.pas").find("{dev "), std::string::npos);
  EXPECT_EQ(ReadFile(FTree / "real/t.pas").find("{CVS*"), std::string::npos);
}

TEST_F(WindowsPaths, ALogThatIsALinkIsRefusedAndNothingChanges) {
  WriteFile(FTree / "src/t.pas", kSource);
  WriteFile(FTree / "other/kept.txt", "someone else's\r\n");
  Link("../other/kept.txt", "src/t.pas.cvs");
  EXPECT_EQ(Run({"/USER=dev", "/FILE=src\\t.pas", "/RECURSIVE-"}, 1,
                {"Reason: src\\t.pas.cvs is a symbolic link, which is not followed there."}),
            Lines{"The file src\\t.pas cannot be edited!"});
  EXPECT_EQ(ReadFile(FTree / "src/t.pas"), kSource);
  EXPECT_EQ(ReadFile(FTree / "other/kept.txt"), "someone else's\r\n");
  EXPECT_TRUE(IsLink("src/t.pas.cvs"));
  EXPECT_FALSE(FileExists(FTree / "src/t.tmp"));
}

TEST_F(WindowsPaths, ASourceDeeperThanThreeHundredCharactersIsProcessed) {
  // Five folders of 60 characters: the source's path in the tree is 315
  // characters long, its log's 319, and the full paths longer still.
  std::string deep = "deep";
  for (char level = '1'; level <= '5'; ++level) deep += "\\" + std::string(59, 'd') + level;
  const std::string source = deep + "\\t.pas";
  ASSERT_EQ(source.size(), 315u);
  std::string native = source;
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  WriteFile(FTree / native, kSource);
  ASSERT_GT((FTree / native).size(), 300u);

  EXPECT_EQ(Run({"/USER=dev", "/FILE=deep\\*.pas"}), Lines{source});
  EXPECT_TRUE(Rewritten(ReadFile(FTree / native))) << ReadFile(FTree / native);
  EXPECT_NE(ReadFile(FTree / (native + ".cvs")).find("Fixed the totals."), std::string::npos);

  // Named as one file, at the same depth.
  WriteFile(FTree / native, ReadFile(FTree / native) + "{CVS* Again.}\r\n");
  EXPECT_EQ(Run({"/USER=dev", "/FILE=" + source, "/RECURSIVE-"}), Lines{});
  EXPECT_EQ(ReadFile(FTree / native).find("{CVS*"), std::string::npos);
  EXPECT_NE(ReadFile(FTree / (native + ".cvs")).find("Again."), std::string::npos);
}

}  // namespace
