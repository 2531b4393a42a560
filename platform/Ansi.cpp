#include "platform/Ansi.h"

#include <array>

namespace platform {
namespace {

std::array<unsigned char, 256> MakeUpperTable() {
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

const std::array<unsigned char, 256>& UpperTable() {
  static const std::array<unsigned char, 256> table = MakeUpperTable();
  return table;
}

std::array<unsigned char, 256> MakeLowerTable() {
  const std::array<unsigned char, 256>& upper = UpperTable();
  std::array<unsigned char, 256> table{};
  for (int i = 0; i < 256; ++i) table[i] = static_cast<unsigned char>(i);
  for (int i = 0; i < 256; ++i) {
    if (upper[i] != i) table[upper[i]] = static_cast<unsigned char>(i);
  }
  return table;
}

}  // namespace

std::string AnsiLowerCase(const std::string& text) {
  static const std::array<unsigned char, 256> table = MakeLowerTable();
  std::string result = text;
  for (char& c : result) c = static_cast<char>(table[static_cast<unsigned char>(c)]);
  return result;
}

char AnsiUpperChar(char c) {
  return static_cast<char>(UpperTable()[static_cast<unsigned char>(c)]);
}

std::string AnsiUpperCase(const std::string& text) {
  std::string result = text;
  const auto& table = UpperTable();
  for (char& c : result) c = static_cast<char>(table[static_cast<unsigned char>(c)]);
  return result;
}

int AnsiCompareText(const std::string& a, const std::string& b) {
  const auto& table = UpperTable();
  const std::string::size_type n = a.size() < b.size() ? a.size() : b.size();
  for (std::string::size_type i = 0; i < n; ++i) {
    const int ca = table[static_cast<unsigned char>(a[i])];
    const int cb = table[static_cast<unsigned char>(b[i])];
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool AnsiSameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && AnsiCompareText(a, b) == 0;
}

}  // namespace platform
