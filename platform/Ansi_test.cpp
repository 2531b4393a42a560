#include "platform/Ansi.h"

#include <gtest/gtest.h>

namespace {

// The line scanner stops at a capital and at its small letter only: every
// byte must upper-case to a capital whose one small letter it is.
TEST(AnsiCase, EveryByteIsItsCapitalOrTheCapitalsOneSmallLetter) {
  for (int i = 0; i < 256; ++i) {
    const char c = static_cast<char>(i);
    const char upper = platform::AnsiUpperChar(c);
    EXPECT_EQ(platform::AnsiUpperChar(upper), upper) << i;
    EXPECT_TRUE(c == upper || c == platform::AnsiLowerChar(upper)) << i;
  }
  EXPECT_EQ(platform::AnsiUpperCase("a\xE9\xFF\xF7z"), "A\xC9\x9F\xF7Z");
  EXPECT_EQ(platform::AnsiLowerCase("A\xC9\x9F\xF7Z"), "a\xE9\xFF\xF7z");
  EXPECT_EQ(platform::AnsiCompareText("abc", "ABD"), -1);
  EXPECT_TRUE(platform::AnsiSameText("\x9Ax", "\x8AX"));
}

}  // namespace
