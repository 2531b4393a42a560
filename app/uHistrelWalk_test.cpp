// The history worker's walk: the settings it checks, which files each
// selection takes, in which order, and what it announces.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/uHistrel.h"
#include "app/uHistrelEnglishConstant.h"
#include "platform/FileSystem.h"
#include "tests/HistrelTestSupport.h"
#include "tests/TestSupport.h"

namespace {

using testsupport::CurrentDirectory;
using testsupport::ExecuteCapturing;
using testsupport::FixedDate;
using testsupport::ReadFile;
using testsupport::SystemPath;
using testsupport::TempDir;
using testsupport::WithoutPrivileges;
using testsupport::WriteFile;
using Lines = std::vector<std::string>;

const char kMarked[] = "{CVSLOG}\n{CVS* note}\n";
// A source with LF line ends keeps them.
const char kConverted[] = "{CVSLOG\n   ann 2003.05.14 note\n}\n{ann 2003.05.14 note}\n";

// A tree in a file system in memory; WalkOnDisk keeps it on the disk, for
// what the system itself must do (modes, the current directory, depth
// beyond any path).
class Walk : public ::testing::Test {
 protected:
  explicit Walk(bool AInMemory = true)
      : FMemory(AInMemory ? std::make_unique<testsupport::InMemoryFiles>() : nullptr) {}
  void SetUp() override { InitializeHistrelEnglishConstantUnit(); }

  // The system path of the test directory, ending in a backslash.
  std::string Top() const { return SystemPath(FDir.Path()) + "\\"; }

  Lines Run(const std::string& APath, const std::string& AFileName, bool ARecursive,
            const std::string& AUser = "ann") {
    THistrel histrel(FixedDate(2003, 5, 14));
    histrel.SetUser(AUser);
    histrel.SetPath(APath);
    histrel.SetFileName(AFileName);
    histrel.SetRecursive(ARecursive);
    return ExecuteCapturing(histrel);
  }

  // The names of a directory in the order the file system lists them.
  static Lines Listed(const std::string& ADirectory) {
    Lines names;
    platform::Directory directory;
    std::vector<platform::DirectoryEntry> entries;
    if (!directory.Open(ADirectory) || !directory.List(entries)) return names;
    for (const platform::DirectoryEntry& entry : entries) {
      if (entry.name != "." && entry.name != "..") names.push_back(entry.name);
    }
    return names;
  }

  // AShownDirectory + name for each listed name that APredicate selects,
  // in listing order.
  template <class TPredicate>
  static Lines ListedLines(const std::string& ANative, const std::string& AShownDirectory,
                           TPredicate APredicate) {
    Lines lines;
    for (const std::string& name : Listed(ANative)) {
      if (APredicate(name)) lines.push_back(AShownDirectory + name);
    }
    return lines;
  }

  // Before FDir, which it holds.
  std::unique_ptr<testsupport::InMemoryFiles> FMemory;
  TempDir FDir;
};

class WalkOnDisk : public Walk {
 protected:
  WalkOnDisk() : Walk(false) {}
};

TEST_F(Walk, ChecksUserThenPathThenDirectory) {
  EXPECT_EQ(Run("", "", true, ""), Lines{"The user must be indicated!"});
  EXPECT_EQ(Run("", "x.pas", true), Lines{"The path must be indicated!"});
  const std::string missing = Top() + "missing\\";
  EXPECT_EQ(Run(missing, "*.pas", true), Lines{"Cannot access the directory: " + missing});
  WriteFile(FDir / "file", "");
  EXPECT_EQ(Run(Top() + "file", "", true), Lines{"Cannot access the directory: " + Top() + "file"});
}

TEST_F(Walk, AMaskIsASubstringTestInAnyLetterCase) {
  for (const char* name : {"Unit1.pas", "MAIN.PAS", "old.pas.bak", "x.pascal", "abc.pas",
                           "data.pas", "readme.txt", "pas", "x.p?s"}) {
    WriteFile(FDir / name, "");
  }
  ASSERT_TRUE(testsupport::MakeDirectory(FDir / "old.pas"));
  struct MaskCase {
    std::string mask;
    Lines names;
  };
  const std::vector<MaskCase> cases = {
      {"*.pas", {"Unit1.pas", "MAIN.PAS", "old.pas.bak", "x.pascal", "abc.pas", "data.pas"}},
      {"a*.pas", {"data.pas"}},  // the pattern is "a.pas"
      {"*.p?s", {"x.p?s"}},      // a question mark is an ordinary character
      {"*.*",
       {"Unit1.pas", "MAIN.PAS", "old.pas.bak", "x.pascal", "abc.pas", "data.pas", "readme.txt",
        "x.p?s"}},
  };
  for (const MaskCase& c : cases) {
    const Lines expected = ListedLines(FDir.Path(), Top(), [&](const std::string& name) {
      return std::find(c.names.begin(), c.names.end(), name) != c.names.end();
    });
    EXPECT_EQ(Run(Top(), c.mask, false), expected) << c.mask;
  }
}

TEST_F(Walk, AMaskWalksSubdirectoriesWhereTheyAreListed) {
  WriteFile(FDir / "a.pas", "");
  WriteFile(FDir / "b.txt", "");
  WriteFile(FDir / "old.pas/inner.pas", "");
  WriteFile(FDir / "sub/deep/c.PAS", "");
  WriteFile(FDir / "sub/.hidden.pas", "");
  Lines expected;
  for (const std::string& name : Listed(FDir.Path())) {
    if (name == "a.pas") expected.push_back(Top() + name);
    if (name == "old.pas") expected.push_back(Top() + "old.pas\\inner.pas");
    if (name == "sub") {
      for (const std::string& inner : Listed(FDir / "sub")) {
        if (inner == ".hidden.pas") expected.push_back(Top() + "sub\\.hidden.pas");
        if (inner == "deep") expected.push_back(Top() + "sub\\deep\\c.PAS");
      }
    }
  }
  EXPECT_EQ(Run(Top(), "*.pas", true), expected);
  EXPECT_EQ(Run(Top(), "*.pas", false), Lines{Top() + "a.pas"});
}

TEST_F(Walk, AWholeDirectoryTakesEveryFileHiddenOnesIncluded) {
  WriteFile(FDir / "a.pas", "");
  WriteFile(FDir / ".hidden", "");
  WriteFile(FDir / "noext", "");
  WriteFile(FDir / "sub/b.inc", "");
  ASSERT_TRUE(testsupport::MakeDirectory(FDir / "empty"));
  Lines expected;
  for (const std::string& name : Listed(FDir.Path())) {
    if (name == "sub") {
      expected.push_back(Top() + "sub\\b.inc");
    } else if (name != "empty") {
      expected.push_back(Top() + name);
    }
  }
  EXPECT_EQ(Run(Top(), "", true), expected);
  // A directory given without its final backslash is walked the same way.
  EXPECT_EQ(Run(SystemPath(FDir.Path()), "", true), expected);
  expected.erase(std::find(expected.begin(), expected.end(), Top() + "sub\\b.inc"));
  EXPECT_EQ(Run(Top(), "", false), expected);
}

TEST_F(WalkOnDisk, ANamedFileWithoutRecursiveIsOpenedAsItIsAndNotAnnounced) {
  WriteFile(FDir / "x.pas", kMarked);
  WriteFile(FDir / "sub/x.pas", kMarked);
  const CurrentDirectory here(FDir.Path());
  EXPECT_EQ(Run(".\\", "x.pas", false), Lines{});
  EXPECT_EQ(ReadFile(FDir / "x.pas"), kConverted);
  EXPECT_EQ(ReadFile(FDir / "sub/x.pas"), kMarked);
  EXPECT_EQ(Run(".\\", "y.pas", false), Lines{"The file .\\y.pas cannot be edited!"});
  // "*x.pas" holds no "*." and no ".*": a named file, not a mask.
  EXPECT_EQ(Run(".\\", "*x.pas", false), Lines{"The file .\\*x.pas cannot be edited!"});
}

TEST_F(WalkOnDisk, ANamedFileWithRecursiveIsLookedForInEveryDirectory) {
  WriteFile(FDir / "x.pas", kMarked);
  WriteFile(FDir / "sub/x.pas", kMarked);
  WriteFile(FDir / "sub/other.pas", kMarked);
  WriteFile(FDir / "none/y.pas", "");
  // A directory of that name is no file: it is walked, and its x.pas taken.
  WriteFile(FDir / "dir/x.pas/x.pas", kMarked);
  const CurrentDirectory here(FDir.Path());
  const Lines lines = Run(".\\", "x.pas", true);
  // The top directory's file comes first, before any subdirectory is walked.
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], ".\\x.pas");
  const Lines rest(lines.begin() + 1, lines.end());
  Lines expected;
  for (const std::string& name : Listed(FDir.Path())) {
    if (name == "sub") expected.push_back(".\\sub\\x.pas");
    if (name == "dir") expected.push_back(".\\dir\\x.pas\\x.pas");
  }
  EXPECT_EQ(rest, expected);
  EXPECT_EQ(ReadFile(FDir / "sub/x.pas"), kConverted);
  EXPECT_EQ(ReadFile(FDir / "sub/other.pas"), kMarked);
  // Found nowhere: nothing to say.
  EXPECT_EQ(Run(".\\", "z.pas", true), Lines{});
}

TEST_F(Walk, FilesCreatedByTheWalkAreNotWalked) {
  WriteFile(FDir / "a.pas", kMarked);
  WriteFile(FDir / "b.pas", kMarked);
  const Lines expected = ListedLines(FDir.Path(), Top(), [](const std::string&) { return true; });
  EXPECT_EQ(Run(Top(), "", true), expected);
  EXPECT_EQ(ReadFile(FDir / "a.pas"), kConverted);
  EXPECT_EQ(ReadFile(FDir / "b.pas"), kConverted);
}

TEST_F(Walk, ASecondRunChangesNothing) {
  WriteFile(FDir / "a.pas", kMarked);
  WriteFile(FDir / "sub/b.pas", std::string(kMarked) + "// CVS* more\n");
  WriteFile(FDir / "sub/c.pas", "plain\n");
  Run(Top(), "*.pas", true);
  const std::string a = ReadFile(FDir / "a.pas");
  const std::string b = ReadFile(FDir / "sub/b.pas");
  const std::string log = ReadFile(FDir / "sub/b.pas.cvs");
  ASSERT_EQ(a, kConverted);
  Run(Top(), "*.pas", true);
  EXPECT_EQ(ReadFile(FDir / "a.pas"), a);
  EXPECT_EQ(ReadFile(FDir / "sub/b.pas"), b);
  EXPECT_EQ(ReadFile(FDir / "sub/b.pas.cvs"), log);
  EXPECT_EQ(ReadFile(FDir / "sub/c.pas"), "plain\n");
}

TEST_F(WalkOnDisk, AFailureEndsTheWalkAndFilesBeforeItStayRewritten) {
  const Lines names = {"1.pas", "2.pas", "3.pas", "4.pas"};
  for (const std::string& name : names) WriteFile(FDir / name, kMarked);
  ASSERT_EQ(chmod((FDir / "3.pas").c_str(), 0444), 0);
  Lines expected;
  bool failed = false;
  for (const std::string& name : Listed(FDir.Path())) {
    if (failed) {
      EXPECT_EQ(ReadFile(FDir / name), kMarked) << name;
      continue;
    }
    expected.push_back(Top() + name);
    if (name == "3.pas") {
      expected.push_back("The file " + Top() + "3.pas cannot be edited!");
      failed = true;
    }
  }
  EXPECT_EQ(Run(Top(), "*.pas", false), expected);
  EXPECT_EQ(ReadFile(FDir / "3.pas"), kMarked);
}

TEST_F(Walk, LinkCyclesEndAndEveryDirectoryIsWalkedOnce) {
  WriteFile(FDir / "a.pas", "");
  WriteFile(FDir / "sub/b.pas", "");
  ASSERT_TRUE(testsupport::MakeLink("..", FDir / "sub/up"));
  ASSERT_TRUE(testsupport::MakeLink(".", FDir / "sub/self"));
  WriteFile(FDir / "other/c.pas", "");
  ASSERT_TRUE(testsupport::MakeLink("../other", FDir / "sub/sibling"));
  const Lines lines = Run(Top(), "*.pas", true);
  Lines sorted = lines;
  std::sort(sorted.begin(), sorted.end());
  // "other" is walked once, by its name or through the link, whichever the
  // listing gives first.
  ASSERT_EQ(sorted.size(), 3u);
  EXPECT_EQ(std::count(sorted.begin(), sorted.end(), Top() + "a.pas"), 1);
  EXPECT_EQ(std::count(sorted.begin(), sorted.end(), Top() + "sub\\b.pas"), 1);
  EXPECT_EQ(std::count(sorted.begin(), sorted.end(), Top() + "other\\c.pas") +
                std::count(sorted.begin(), sorted.end(), Top() + "sub\\sibling\\c.pas"),
            1);
  EXPECT_EQ(Run(Top(), "", true).size(), 3u);
  EXPECT_EQ(Run(Top(), "c.pas", true).size(), 1u);
}

// Two links to the level below on each of 20 levels would be 2^20 walks.
TEST_F(Walk, LinksToOneDirectoryDoNotMultiplyTheWalk) {
  std::string level = FDir.Path();
  for (int depth = 0; depth < 20; ++depth) {
    WriteFile(level + "/n/x.pas", "");
    ASSERT_TRUE(testsupport::MakeLink("n", level + "/l1"));
    ASSERT_TRUE(testsupport::MakeLink("n", level + "/l2"));
    level += "/n";
  }
  EXPECT_EQ(Run(Top(), "*.pas", true).size(), 20u);
}

TEST_F(WalkOnDisk, AnUnreadableSubdirectoryIsSkippedSilently) {
  WriteFile(FDir / "a.pas", "");
  WriteFile(FDir / "closed/hidden.pas", "");
  WriteFile(FDir / "open/b.pas", "");
  for (const char* directory : {"", "/open"}) {
    ASSERT_EQ(chmod((FDir.Path() + directory).c_str(), 0755), 0);
  }
  ASSERT_EQ(chmod((FDir / "a.pas").c_str(), 0644), 0);
  ASSERT_EQ(chmod((FDir / "open/b.pas").c_str(), 0644), 0);
  ASSERT_EQ(chmod((FDir / "closed").c_str(), 0), 0);
  const Lines lines = WithoutPrivileges([&] { return Run(Top(), "*.pas", true); });
  Lines sorted = lines;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (Lines{Top() + "a.pas", Top() + "open\\b.pas"}));
}

// Removes everything below the directory at, however deep, relative to
// open directories (no path of it could be named).
void RemoveBelow(int at) {
  DIR* listing = fdopendir(dup(at));
  if (listing == nullptr) return;
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const int child = openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (child >= 0) {
      RemoveBelow(child);
      close(child);
      unlinkat(at, name.c_str(), AT_REMOVEDIR);
    } else {
      unlinkat(at, name.c_str(), 0);
    }
  }
  closedir(listing);
}

// 30 directories of 200 characters: no path can name the file at the bottom.
TEST_F(WalkOnDisk, AFileDeeperThanAnyPathCanNameIsStillWalkedAndRewritten) {
  const std::string level(200, 'd');
  int at = open(FDir.Path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(at, 0);
  const int top = dup(at);
  std::string shown = Top();
  for (int depth = 0; depth < 30; ++depth) {
    ASSERT_EQ(mkdirat(at, level.c_str(), 0755), 0);
    const int next = openat(at, level.c_str(), O_RDONLY | O_DIRECTORY);
    close(at);
    at = next;
    ASSERT_GE(at, 0);
    shown += level + "\\";
  }
  const int file = openat(at, "deep.pas", O_WRONLY | O_CREAT, 0644);
  ASSERT_EQ(write(file, kMarked, sizeof kMarked - 1), static_cast<ssize_t>(sizeof kMarked - 1));
  close(file);
  ASSERT_GT(shown.size(), static_cast<std::size_t>(PATH_MAX));

  EXPECT_EQ(Run(Top(), "*.pas", true), Lines{shown + "deep.pas"});
  char content[256] = {};
  const int rewritten = openat(at, "deep.pas", O_RDONLY);
  ASSERT_GE(read(rewritten, content, sizeof content - 1), 0);
  close(rewritten);
  EXPECT_EQ(std::string(content), kConverted);
  EXPECT_EQ(faccessat(at, "deep.pas.cvs", F_OK, 0), 0);
  close(at);
  RemoveBelow(top);
  close(top);
}

}  // namespace

namespace {

// A tree that gives the workers reading ahead every kind of entry the walk
// treats apart, with the first failure late in a long listing.
void MakeMixedTree(const std::string& ARoot, bool AWithFailure) {
  const std::string marked = "{CVSLOG}\r\n{CVS* note " + std::string(3000, 'x') + "}\r\n";
  const std::string plain = "unit u;\r\n{ CVS but no star }\r\n" + std::string(5000, 'y') + "\r\n";
  for (const char* sub : {"a", "b", "b/c"}) {
    ASSERT_EQ(mkdir((ARoot + "/" + sub).c_str(), 0755), 0);
    for (int i = 0; i < 60; ++i) {
      const std::string name = ARoot + "/" + sub + "/" + std::to_string(i) + ".pas";
      WriteFile(name, i % 7 == 3 ? marked : plain);
    }
  }
  WriteFile(ARoot + "/a/marked.pas.cvs", "an old log with CVS* in it\r\n");
  WriteFile(ARoot + "/a/marked.pas", marked);
  WriteFile(ARoot + "/a/binary.pas", std::string("{CVSLOG}\n{CVS* x}\n\0", 20));
  WriteFile(ARoot + "/a/back\\slash.pas", marked);
  ASSERT_EQ(symlink("3.pas", (ARoot + "/b/link.pas").c_str()), 0);
  ASSERT_EQ(symlink("missing.pas", (ARoot + "/b/dangling.pas").c_str()), 0);
  ASSERT_EQ(mkdir((ARoot + "/b/dir.pas").c_str(), 0755), 0);
  if (AWithFailure) {
    ASSERT_EQ(chmod((ARoot + "/b/c/52.pas").c_str(), 0444), 0);
  }
}

// Every file below ARoot with its bytes, by relative name.
void CollectTree(const std::string& ARoot, const std::string& ARelative, Lines& AFiles) {
  DIR* directory = opendir((ARoot + ARelative).c_str());
  ASSERT_NE(directory, nullptr);
  while (const dirent* entry = readdir(directory)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string relative = ARelative + "/" + name;
    struct stat info {};
    ASSERT_EQ(lstat((ARoot + relative).c_str(), &info), 0);
    if (S_ISDIR(info.st_mode)) {
      CollectTree(ARoot, relative, AFiles);
    } else if (S_ISREG(info.st_mode)) {
      AFiles.push_back(relative + ": " + ReadFile(ARoot + relative));
    }
  }
  closedir(directory);
  std::sort(AFiles.begin(), AFiles.end());
}

}  // namespace

// The workers only read ahead: what the walk writes, announces, rewrites and
// where it stops must be the same with any number of them.
TEST_F(WalkOnDisk, ReadingAheadChangesNothingThatTheWalkDoes) {
  struct TCase {
    const char* what;
    const char* mask;
    bool failure;
  };
  for (const TCase& test : {TCase{"a mask", "*.pas", false}, TCase{"every file", "", false},
                            TCase{"a failure late in a listing", "*.pas", true}}) {
    std::vector<Lines> outputs;
    std::vector<Lines> trees;
    for (const unsigned threads : {1U, 2U, 5U}) {
      TempDir dir;
      MakeMixedTree(dir.Path(), test.failure);
      const std::string top = SystemPath(dir.Path()) + "\\";
      THistrel histrel(FixedDate(2003, 5, 14));
      histrel.SetUser("ann");
      histrel.SetPath(top);
      histrel.SetFileName(test.mask);
      histrel.SetReadThreads(threads);
      Lines output = ExecuteCapturing(histrel);
      for (std::string& line : output) {
        const std::string::size_type at = line.find(top);
        if (at != std::string::npos) line.replace(at, top.size(), "<top>\\");
      }
      outputs.push_back(output);
      trees.emplace_back();
      CollectTree(dir.Path(), "", trees.back());
    }
    EXPECT_GT(outputs[0].size(), 60u) << test.what;
    EXPECT_EQ(outputs[0].back().find("cannot be edited") != std::string::npos, test.failure)
        << test.what;
    for (std::size_t i = 1; i < outputs.size(); ++i) {
      EXPECT_EQ(outputs[i], outputs[0]) << test.what;
      EXPECT_EQ(trees[i], trees[0]) << test.what;
    }
  }
}
