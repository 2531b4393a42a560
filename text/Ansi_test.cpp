#include "text/Ansi.h"

#include <gtest/gtest.h>

namespace {

// The line scanner stops at a capital and at its small letter only: every
// byte must upper-case to a capital whose one small letter it is.
TEST(AnsiCase, EveryByteIsItsCapitalOrTheCapitalsOneSmallLetter) {
  for (int i = 0; i < 256; ++i) {
    const char c = static_cast<char>(i);
    const char upper = text::AnsiUpperChar(c);
    EXPECT_EQ(text::AnsiUpperChar(upper), upper) << i;
    EXPECT_TRUE(c == upper || c == text::AnsiLowerChar(upper)) << i;
  }
  EXPECT_EQ(text::AnsiUpperCase("a\xE9\xFF\xF7z"), "A\xC9\x9F\xF7Z");
  EXPECT_EQ(text::AnsiLowerCase("A\xC9\x9F\xF7Z"), "a\xE9\xFF\xF7z");
  EXPECT_EQ(text::AnsiCompareText("abc", "ABD"), -1);
  EXPECT_TRUE(text::AnsiSameText("\x9Ax", "\x8AX"));
}

}  // namespace
