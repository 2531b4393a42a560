#include "text/Utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct CheckCase {
  std::string name;
  std::vector<std::string> chunks;
  bool utf8;
};

TEST(Utf8Check, DecidesOnTheWholeTextWhereverTheChunksAreCut) {
  const std::vector<CheckCase> cases = {
      {"empty", {}, false},
      {"pure ASCII reads the same in Windows-1252", {"plain text", " more"}, false},
      {"German", {"Gr\xC3\xB6\xC3\x9F"}, true},
      {"Windows-1252 German", {"Gr\xF6\xDF"}, false},
      {"two bytes split", {"Gr\xC3", "\xB6\xC3\x9F"}, true},
      {"three bytes split", {"\xE6\x97", "\xA5"}, true},
      {"four bytes in three chunks", {"\xF0\x9F", "\x98", "\x80"}, true},
      {"ASCII after UTF-8", {"\xC3\xB6", "abc"}, true},
      {"unfinished at the end", {"Gr\xC3"}, false},
      {"lead followed by ASCII", {"\xC3", "A"}, false},
      {"stray continuation", {"a\x80"}, false},
      {"overlong two bytes", {"\xC0\xAF"}, false},
      {"overlong two bytes, highest", {"\xC1\xBF"}, false},
      {"overlong three bytes", {"\xE0\x80", "\xAF"}, false},
      {"overlong four bytes", {"\xF0\x80\x80\xAF"}, false},
      {"last before the surrogates", {"\xED\x9F\xBF"}, true},
      {"surrogate", {"\xED\xA0\x80"}, false},
      {"surrogate split", {"\xED", "\xBF\xBF"}, false},
      {"U+10FFFF", {"\xF4\x8F\xBF\xBF"}, true},
      {"above U+10FFFF", {"\xF4\x90\x80\x80"}, false},
      {"lead beyond F4", {"\xF5\x80\x80\x80"}, false},
      {"byte order mark alone", {"\xEF\xBB\xBF"}, true},
      {"byte order mark before ASCII", {"\xEF\xBB\xBF", "unit A;"}, true},
      {"byte order mark split", {"\xEF", "\xBB", "\xBF"}, true},
      {"byte order mark before invalid bytes", {"\xEF\xBB\xBF\xF6"}, true},
      {"byte order mark cut off", {"\xEF\xBB"}, false},
      {"byte order mark not at the start", {"x\xEF\xBB\xBF\xF6"}, false},
  };
  for (const CheckCase& c : cases) {
    text::Utf8Check check;
    std::string whole;
    for (const std::string& chunk : c.chunks) {
      check.Feed(chunk.data(), chunk.size());
      whole += chunk;
    }
    EXPECT_EQ(check.Utf8(), c.utf8) << c.name;
    EXPECT_EQ(text::IsUtf8Text(whole), c.utf8) << c.name;
  }
}

struct ColumnsCase {
  std::string text;
  std::size_t columns;
};

TEST(Utf8Columns, CountsWideCharactersTwiceAndMarksNotAtAll) {
  const std::vector<ColumnsCase> cases = {
      {"", 0},
      {"abc", 3},
      {"Gru\xC3\x9F \xC3\xA4ndern", 11},            // Gruß ändern
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", 6},  // 日本語
      {"Fix \xE8\xA8\xAD\xE5\xAE\x9A 1", 10},       // Fix 設定 1
      {"\xED\x95\x9C", 2},                          // Hangul syllable
      {"\xEF\xBC\xA1", 2},                          // fullwidth A, U+FF21
      {"\xEF\xBD\xB6", 1},                          // halfwidth katakana, U+FF76
      {"\xE1\x85\x9F\xE1\x85\xA0", 2},              // U+115F wide, jamo vowel U+1160 none
      {"\xE3\x80\xBE\xE3\x80\xBF", 3},              // U+303E wide, U+303F not
      {"\xF0\xA0\x80\x80", 2},                      // U+20000
      {"\xE2\x82\xAC", 1},                          // euro sign
      {"The quick brown fox, 42 times.", 30},
      {"\xE7\xA2\xBA\xE8\xAA\x8D\xE3\x80\x82", 6},  // 確認。
      {"ok \xF0\x9F\x91\x8D", 5},                   // ok 👍, U+1F44D
      {"\xE2\x8C\x9A", 2},                          // U+231A watch
      {"\xE2\x8C\xA9\xE2\x8C\xAA", 4},              // U+2329, U+232A angle brackets
      {"\xE2\xAD\x90", 2},                          // U+2B50 star
      {"\xE2\x9C\x85", 2},                          // U+2705 check mark
      {"\xF0\x9F\xAA\x90", 2},                      // U+1FA90 ringed planet
      {"\xEF\xB8\x90", 2},                          // U+FE10 vertical comma
      {"\xEF\xB9\x9A", 2},                          // U+FE5A small parenthesis
      {"\xEA\xA5\xA0", 2},                          // U+A960 Hangul jamo
      {"e\xCC\x81", 1},                             // e and combining acute, U+0301
      {"\xE2\x83\x9D", 0},                          // enclosing circle, U+20DD
      {"x\xE2\x80\x8By\xE2\x80\x8Dz", 3},           // U+200B, U+200D between letters
      {"\xEF\xBB\xBF", 0},                          // U+FEFF
      {"\xC2\xAD", 1},                              // soft hyphen, drawn
      {"\xD8\x80", 1},                              // Arabic number sign, drawn
      {"\xE3\x82\x99", 0},                          // combining voiced mark, East Asian wide
      {"\xE3\x80\xA9\xE3\x80\xAA", 2},              // U+3029 wide, U+302A a mark
      {"\xE1\x86\xA8\xED\x9F\x8B", 0},              // final consonants U+11A8, U+D7CB
      {"\xE2\xAC\x95", 1},                          // U+2B15 arrow, not wide
      {"\xF0\xAA\x9B\xA0", 2},                      // U+2A6E0, unassigned in plane 2
      {"\xE4\xB6\xBF\xE4\xB7\x80", 3},              // U+4DBF wide, U+4DC0 hexagram not
      {"\xF0\x9F\x98\x80", 2},                      // U+1F600
      {"Gr\xF6\xDF", 4},                            // Windows-1252: each byte starts something
      {"a\x80\x80z", 2},                            // stray continuation bytes
      {"\xE6\x97", 1},                              // cut off
      {"\xED\xA0\x80", 1},                          // surrogate
  };
  for (const ColumnsCase& c : cases) EXPECT_EQ(text::Utf8Columns(c.text), c.columns) << c.text;
}

TEST(Utf8, FindsATextInAnyCaseByCharacters) {
  struct Case {
    const char* Text;
    const char* Needle;  // as given; upper-cased here
    std::size_t At;
  };
  const std::size_t npos = std::string_view::npos;
  const Case cases[] = {
      {"x {cvslog}", "CVSLOG", 3},
      {"{ \xC3\xA0 propos }", "\xC3\x80", 2},  // à found as À
      {"{ \xC3\xA0 propos }", "\xC3\xA0", 2},  // and as itself
      {"\xE3\xA0\x80", "\xC3\xA0", npos},      // no byte of a CJK character
      {"{\xC5\x82\xC3\xB3"
       "d\xC5\xBA}",
       "\xC5\x81\xC3\x93"
       "D\xC5\xB9",
       1},  // łódź
      {"\xD0\xB8\xD1\x81\xD1\x82\xD0\xBE\xD1\x80\xD0\xB8\xD1\x8F", "\xD0\x98\xD0\xA1\xD0\xA2", 0},
      {"ab\xFF"
       "c",
       "B\xFF"
       "C",
       1},  // a stray byte matches itself
      {"ab", "ABC", npos},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(text::FindUtf8IgnoringCase(c.Text, text::Utf8UpperCase(c.Needle)), c.At) << c.Text;
  }
}

TEST(Cp1252, EveryByteGoesToUtf8AndBackUnchanged) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  const std::string utf8 = text::Cp1252ToUtf8(all);
  EXPECT_TRUE(text::IsUtf8Text(utf8));
  EXPECT_EQ(text::Utf8Columns(utf8), 256u);
  EXPECT_EQ(text::Utf8ToCp1252(utf8), all);
}

struct ConversionCase {
  std::string cp1252;
  std::string utf8;
};

TEST(Cp1252, ConvertsTheCharactersOfBothEncodings) {
  const std::vector<ConversionCase> cases = {
      {"J\xF6rg", "J\xC3\xB6rg"},
      {"\x80 5", "\xE2\x82\xAC 5"},  // euro sign
      {"\x9F", "\xC5\xB8"},          // Y with diaeresis, U+0178
      {"\x81\x8D\x8F\x90\x9D", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
      {"\xFF", "\xC3\xBF"},
  };
  for (const ConversionCase& c : cases) {
    EXPECT_EQ(text::Cp1252ToUtf8(c.cp1252), c.utf8) << c.cp1252;
    EXPECT_EQ(text::Utf8ToCp1252(c.utf8), c.cp1252) << c.cp1252;
  }
}

TEST(Cp1252, WhatItLacksBecomesAQuestionMark) {
  const std::vector<ConversionCase> cases = {
      {"x??.", "x\xE6\x97\xA5\xE6\x9C\xAC."},  // 日本
      {"?", "\xF0\x9F\x98\x80"},               // one character of four bytes, one mark
      {"?", "\xC2\x80"},                       // U+0080: 0x80 is the euro sign
      {"a?z", "a\xF6z"},                       // not UTF-8
      {"??", "\xE6\x97"},                      // cut off: each byte
  };
  for (const ConversionCase& c : cases) EXPECT_EQ(text::Utf8ToCp1252(c.utf8), c.cp1252) << c.utf8;
}

}  // namespace
