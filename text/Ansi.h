// Upper-casing and case-insensitive comparison of Windows-1252 texts.
// Independent of the process locale: the same bytes give the same answer
// on every machine.
#pragma once

#include <array>
#include <string>

namespace text {

namespace ansi_detail {

constexpr std::array<unsigned char, 256> MakeUpperTable() {
  std::array<unsigned char, 256> table{};
  for (int i = 0; i < 256; ++i) table[i] = static_cast<unsigned char>(i);
  for (int c = 'a'; c <= 'z'; ++c) table[c] = static_cast<unsigned char>(c - 'a' + 'A');
  // The letters of Windows-1252 outside ASCII: scaron, oe, zcaron, ydieresis,
  // and the accented block, except the division sign.
  table[0x9A] = 0x8A;
  table[0x9C] = 0x8C;
  table[0x9E] = 0x8E;
  table[0xFF] = 0x9F;
  for (int c = 0xE0; c <= 0xFE; ++c) {
    if (c != 0xF7) table[c] = static_cast<unsigned char>(c - 0x20);
  }
  return table;
}

// The one upper-casing table; inline, so that scanning loops need no copy.
inline constexpr std::array<unsigned char, 256> kUpper = MakeUpperTable();

}  // namespace ansi_detail

// The upper-case form of one Windows-1252 byte.
inline char AnsiUpperChar(char c) {
  return static_cast<char>(ansi_detail::kUpper[static_cast<unsigned char>(c)]);
}

// The lower-case form of one Windows-1252 byte: the one small letter that
// upper-cases to it, or the byte itself.
char AnsiLowerChar(char c);

// The text with every byte upper-cased; never changes the length.
std::string AnsiUpperCase(const std::string& text);

// The text with every byte lower-cased (the inverse of the upper-casing).
std::string AnsiLowerCase(const std::string& text);

// Compares the upper-cased texts byte by byte: <0, 0 or >0.
int AnsiCompareText(const std::string& a, const std::string& b);

// True when the texts are equal without regard to letter case.
bool AnsiSameText(const std::string& a, const std::string& b);

}  // namespace text
