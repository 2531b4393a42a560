#include "support/uStringRoutines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Trim, RemovesBlanksAndControlCharactersAtBothEnds) {
  EXPECT_EQ(Trim(" \t\r\n a b \x01\x1F "), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");  // only codes 0 to 32 count
}

struct WordCase {
  std::string text;
  std::int32_t n;
  std::string word;
};

TEST(ExtractWord, TakesTheNthWordOfTheTrimmedText) {
  const TCharSet comma{','};
  const std::vector<WordCase> cases = {
      {"  alpha,beta,,gamma ", 1, "alpha"},
      {"  alpha,beta,,gamma ", 2, "beta"},
      {"  alpha,beta,,gamma ", 3, "gamma"},
      {"  alpha,beta,,gamma ", 4, ""},
      {"  alpha,beta,,gamma ", 0, ""},
      {"  alpha,beta,,gamma ", -1, ""},
      {"a, b", 2, " b"},  // only the whole text is trimmed, never a word
      {",,a,", 1, "a"},
      {"", 1, ""},
      {"x", 1, "x"},
      {",", 1, ""},
  };
  for (const WordCase& c : cases) {
    EXPECT_EQ(ExtractWord(c.text, comma, c.n), c.word) << c.text << " #" << c.n;
  }
}

TEST(WordCount, CountsRunsOfNonDelimitersWithoutTrimming) {
  const TCharSet comma{','};
  EXPECT_EQ(WordCount(",a,,b,", comma), 2);
  EXPECT_EQ(WordCount("", comma), 0);
  EXPECT_EQ(WordCount("   ", comma), 1);
  EXPECT_EQ(WordCount(",,,", comma), 0);
  EXPECT_EQ(WordCount("a", comma), 1);
  EXPECT_EQ(WordCount(" /a/ ", TCharSet{'/'}), 3);
}

TEST(ExtractToken, FindsTheSeparatorWithoutRegardToCase) {
  const std::vector<std::tuple<std::string, std::string, std::int32_t, std::string>> cases = {
      {"One.AND.two.and.Three", ".and.", 1, "One"},
      {"One.AND.two.and.Three", ".and.", 2, "two"},
      {"One.AND.two.and.Three", ".and.", 3, "Three"},
      {"One.AND.two.and.Three", ".and.", 4, ""},
      {"\\\\a\\\\b\\", "\\", 2, "b"},  // separators at the start make no parts
      {"a\\b", "\\", 0, ""},
      {"  whole text ", "", 1, "whole text"},
      {"  whole text ", "", 2, ""},
      {"", "", 1, ""},
      {"x\xE4y\xC4z", "\xE4", 3, "z"},  // Windows-1252 letters fold too
  };
  for (const auto& [text, separator, n, part] : cases) {
    EXPECT_EQ(ExtractToken(text, separator, n), part) << text << " #" << n;
  }
}

TEST(DeleteStr, RemovesARunOrNothing) {
  EXPECT_EQ(DeleteStr("C:\\Tools\\PROG.EXE", 10, 17), "C:\\Tools\\");
  EXPECT_EQ(DeleteStr("abc", 0, 2), "abc");
  EXPECT_EQ(DeleteStr("abc", 4, 1), "abc");
  EXPECT_EQ(DeleteStr("abc", 2, 0), "abc");
  EXPECT_EQ(DeleteStr("abc", 2, -1), "abc");
  EXPECT_EQ(DeleteStr("abc", 2, 1), "ac");
  EXPECT_EQ(DeleteStr("abc", 1, 100), "");
}

}  // namespace
