// The file contract where Windows has its own means, run under Wine: the
// read-only attribute, replacement that keeps attributes, and open
// directories that stay where they are.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/SourceReplacement.h"
#include "platform/TextFile.h"

namespace {

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FTop = "histrel-files-" + std::to_string(GetCurrentProcessId()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_TRUE(CreateDirectoryA(FTop.c_str(), nullptr));
    ASSERT_TRUE(FDirectory.Open(FTop));
  }
  void TearDown() override {
    FDirectory.Close();
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((FTop + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::string path = FTop + "\\" + found.cFileName;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
    RemoveDirectoryA(FTop.c_str());
  }

  std::string Path(const std::string& AName) const { return FTop + "\\" + AName; }

  void Write(const std::string& AName, const std::string& AText) {
    std::FILE* file = std::fopen(Path(AName).c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(AText.data(), 1, AText.size(), file);
    std::fclose(file);
  }

  std::string Read(const std::string& AName) const {
    std::string text;
    if (std::FILE* file = std::fopen(Path(AName).c_str(), "rb")) {
      char buffer[4096];
      std::size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
      std::fclose(file);
    }
    return text;
  }

  std::string FTop;
  platform::Directory FDirectory;
};

TEST_F(FilesTest, TheReadOnlyAttributeMeansCannotBeReplaced) {
  Write("Unit.pas", "x");
  EXPECT_TRUE(platform::CanReplaceFile(FDirectory, "Unit.pas"));
  ASSERT_TRUE(SetFileAttributesA(Path("Unit.pas").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(platform::CanReplaceFile(FDirectory, "Unit.pas"));
  EXPECT_FALSE(platform::CanReplaceFile(FDirectory, "missing.pas"));
}

TEST_F(FilesTest, ReplacementKeepsTheSourcesAttributes) {
  Write("Unit.pas", "old\r\n");
  ASSERT_TRUE(SetFileAttributesA(Path("Unit.pas").c_str(), FILE_ATTRIBUTE_HIDDEN));
  {
    platform::TextReader source;
    ASSERT_TRUE(source.Open(FDirectory, "Unit.pas"));
    platform::SourceReplacement file;
    ASSERT_EQ(file.Open(FDirectory, "Unit.pas", "Unit.tmp", source, "Unit.tmp"),
              platform::FileStatus::kOk);
    file.Writer().WriteLine("new");
    EXPECT_EQ(file.Commit(), platform::FileStatus::kOk);
  }
  EXPECT_EQ(Read("Unit.pas"), "new\r\n");
  EXPECT_NE(GetFileAttributesA(Path("Unit.pas").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(GetFileAttributesA(Path("Unit.tmp").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FilesTest, AnOpenDirectoryListsEverythingAndStaysWhereItIs) {
  Write("a.pas", "");
  Write("hidden.pas", "");
  SetFileAttributesA(Path("hidden.pas").c_str(), FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(CreateDirectoryA(Path("sub").c_str(), nullptr));
  std::vector<platform::DirectoryEntry> entries;
  ASSERT_TRUE(FDirectory.List(entries));
  std::vector<std::string> names;
  for (const platform::DirectoryEntry& entry : entries) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "a.pas", "hidden.pas", "sub"}));
  EXPECT_EQ(FDirectory.KindOf("sub"), platform::EntryKind::kDirectory);
  EXPECT_EQ(FDirectory.KindOf("a.pas"), platform::EntryKind::kFile);
  EXPECT_EQ(FDirectory.KindOf("none"), platform::EntryKind::kUnknown);

  platform::Directory sub;
  ASSERT_EQ(sub.OpenChild(FDirectory, "sub"), platform::Directory::ChildStatus::kOpened);
  EXPECT_EQ(sub.OpenChild(FDirectory, "a.pas"), platform::Directory::ChildStatus::kNoDirectory);
  ASSERT_EQ(sub.OpenChild(FDirectory, "sub"), platform::Directory::ChildStatus::kOpened);
  EXPECT_FALSE(MoveFileExA(Path("sub").c_str(), Path("elsewhere").c_str(), 0))
      << "a directory being walked was moved away";
  sub.Close();
  RemoveDirectoryA(Path("sub").c_str());
}

}  // namespace
