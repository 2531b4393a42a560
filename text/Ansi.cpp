#include "text/Ansi.h"

#include <array>

namespace text {
namespace {

// The inverse of the upper-casing: Windows-1252 pairs each capital with one
// small letter at most.
constexpr std::array<unsigned char, 256> MakeLowerTable() {
  std::array<unsigned char, 256> table{};
  for (int i = 0; i < 256; ++i) table[i] = static_cast<unsigned char>(i);
  for (int i = 0; i < 256; ++i) {
    const unsigned char upper = ansi_detail::kUpper[i];
    if (upper != i) table[upper] = static_cast<unsigned char>(i);
  }
  return table;
}

constexpr std::array<unsigned char, 256> kLower = MakeLowerTable();

}  // namespace

char AnsiLowerChar(char c) { return static_cast<char>(kLower[static_cast<unsigned char>(c)]); }

std::string AnsiLowerCase(const std::string& text) {
  std::string result = text;
  for (char& c : result) c = AnsiLowerChar(c);
  return result;
}

std::string AnsiUpperCase(const std::string& text) {
  std::string result = text;
  for (char& c : result) c = AnsiUpperChar(c);
  return result;
}

int AnsiCompareText(const std::string& a, const std::string& b) {
  const std::string::size_type n = a.size() < b.size() ? a.size() : b.size();
  for (std::string::size_type i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(AnsiUpperChar(a[i]));
    const auto cb = static_cast<unsigned char>(AnsiUpperChar(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool AnsiSameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && AnsiCompareText(a, b) == 0;
}

}  // namespace text
