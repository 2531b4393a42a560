#include "text/ShownName.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ShownCase {
  std::string label;
  std::string name;
  std::string shown;
};

TEST(ShownName, QuotesANameWithAControlCharacterAndLeavesEveryOtherAsItIs) {
  const std::vector<ShownCase> cases = {
      {"empty", "", ""},
      {"plain path", "c:\\pek\\unit.pas", "c:\\pek\\unit.pas"},
      {"quote and blanks of a plain name", "a \"b\".pas", "a \"b\".pas"},
      {"Windows-1252 and UTF-8", "caf\xE9\\Gr\xC3\xB6\xC3\x9F.pas",
       "caf\xE9\\Gr\xC3\xB6\xC3\x9F.pas"},
      {"ESC retitling the terminal", "x\\\x1B]0;owned\x07.pas", "\"x\\\\\\033]0;owned\\a.pas\""},
      {"ESC clearing the screen", "\x1B[2J\x1B[H.pas", "\"\\033[2J\\033[H.pas\""},
      {"CR and LF faking a line", "a.pas\r\nALL NOTES COLLECTED",
       "\"a.pas\\r\\nALL NOTES COLLECTED\""},
      {"every named escape", "\a\b\t\n\v\f\r", "\"\\a\\b\\t\\n\\v\\f\\r\""},
      {"other control bytes in octal", std::string("\x01\x1F\x7F", 3) + std::string(1, '\0'),
       "\"\\001\\037\\177\\000\""},
      {"quote and backslash of a quoted name", "\"\\\x1B", "\"\\\"\\\\\\033\""},
      {"high bytes of a quoted name kept", "caf\xE9\x1B", "\"caf\xE9\\033\""},
      {"0x80 and 0xFF are no control characters", "\x80\xFF", "\x80\xFF"},
  };
  for (const ShownCase& c : cases) {
    EXPECT_EQ(text::ShownName(c.name), c.shown) << c.label;
    EXPECT_EQ(text::HoldsControlCharacter(c.name), c.shown != c.name) << c.label;
  }
}

// git's form of a name escapes the bytes from 0x80 up as well, with the
// same escapes for the rest.
TEST(ShownName, CQuotedEscapesHighBytesOnlyWhenAsked) {
  const std::vector<ShownCase> cases = {
      {"plain", "a/b.pas", "\"a/b.pas\""},
      {"Windows-1252", "caf\xE9.pas", "\"caf\\351.pas\""},
      {"UTF-8", "\xC3\xB6", "\"\\303\\266\""},
      {"controls as ShownName writes them", "\x1B\a\r\n\x7F", "\"\\033\\a\\r\\n\\177\""},
  };
  for (const ShownCase& c : cases) {
    EXPECT_EQ(text::CQuoted(c.name, text::HighBytes::kEscaped), c.shown) << c.label;
  }
  EXPECT_EQ(text::CQuoted("caf\xE9"), "\"caf\xE9\"");
}

}  // namespace
