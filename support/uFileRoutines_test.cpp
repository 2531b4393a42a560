#include "support/uFileRoutines.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/Exception.h"
#include "tests/TestSupport.h"

namespace {

using testsupport::TempDir;

class CreatePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeFileRoutinesUnit();
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.Path());
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    FinalizeFileRoutinesUnit();
  }
  TempDir dir_;
  std::filesystem::path previous_;
};

TEST_F(CreatePathTest, CreatesEveryMissingLevelRelativeToTheCurrentDirectory) {
  CreatePath("a\\b\\");
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "a/b"));
  CreatePath("a\\b\\c");  // existing levels are left alone
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "a/b/c"));
}

TEST_F(CreatePathTest, HonoursALeadingBackslashAndSlashesAsTheRoot) {
  const std::string absolute = dir_.Path() + "/x/y";
  std::string system = absolute;
  for (char& c : system) c = c == '/' ? '\\' : c;
  CreatePath(system);
  EXPECT_TRUE(std::filesystem::is_directory(absolute));
  CreatePath(dir_.Path() + "/p/q/");
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "p/q"));
}

TEST_F(CreatePathTest, FailsWithTheGermanMessageAndKeepsWhatItMade) {
  // A file where a directory is needed: no one can create below it, root neither.
  testsupport::WriteFile(dir_ / "blocked", "");
  try {
    CreatePath("made\\..\\blocked\\inner\\deeper");
    FAIL() << "expected a failure";
  } catch (const Exception& failure) {
    EXPECT_EQ(failure.Message(), "Der Pfad made\\..\\blocked\\ kann nicht angelegt werden!");
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "made"));
}

}  // namespace
