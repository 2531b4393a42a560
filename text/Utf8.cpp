#include "text/Utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "text/Utf8Widths.h"

namespace text {
namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr std::size_t kByteOrderMarkSize = sizeof kByteOrderMark - 1;

// What a byte starts: the number of continuation bytes its sequence needs
// (-1: it starts none), and the range the first of them must lie in. The
// ranges are what rule out overlong forms, surrogates and code points above
// U+10FFFF.
struct Lead {
  int need;
  unsigned char low;
  unsigned char high;
};

constexpr Lead LeadOf(unsigned char b) {
  if (b < 0x80) return {0, 0x80, 0xBF};
  if (b < 0xC2) return {-1, 0, 0};  // a continuation byte, or an overlong form of ASCII
  if (b < 0xE0) return {1, 0x80, 0xBF};
  if (b == 0xE0) return {2, 0xA0, 0xBF};
  if (b == 0xED) return {2, 0x80, 0x9F};
  if (b < 0xF0) return {2, 0x80, 0xBF};
  if (b == 0xF0) return {3, 0x90, 0xBF};
  if (b < 0xF4) return {3, 0x80, 0xBF};
  if (b == 0xF4) return {3, 0x80, 0x8F};
  return {-1, 0, 0};
}

constexpr char32_t kNoCharacter = 0xFFFFFFFF;

// The code point of the sequence at text[at], moving at past it;
// kNoCharacter, moving at past one byte, when no valid sequence starts there.
char32_t NextCodePoint(std::string_view text, std::size_t& at) {
  const auto b = static_cast<unsigned char>(text[at++]);
  if (b < 0x80) return b;
  const Lead lead = LeadOf(b);
  if (lead.need < 0) return kNoCharacter;
  const auto need = static_cast<std::size_t>(lead.need);
  if (text.size() - at < need) return kNoCharacter;
  char32_t c = b & (0x3Fu >> lead.need);
  unsigned char low = lead.low;
  unsigned char high = lead.high;
  for (std::size_t k = 0; k < need; ++k) {
    const auto next = static_cast<unsigned char>(text[at + k]);
    if (next < low || next > high) return kNoCharacter;
    c = (c << 6) | (next & 0x3Fu);
    low = 0x80;
    high = 0xBF;
  }
  at += need;
  return c;
}

// Whether c lies in one of the sorted, disjoint ranges of table.
template <std::size_t size>
bool InRanges(const widths::CodeRange (&table)[size], char32_t c) {
  const auto* const end = table + size;
  const auto* const range = std::upper_bound(
      table, end, c, [](char32_t point, const widths::CodeRange& r) { return point < r.first; });
  return range != table && c <= (range - 1)->last;
}

// The columns a terminal gives the code point c: none for a combining mark
// or a format character, two for an East Asian wide or fullwidth one, one
// for everything else, control characters included. The code points before
// the first range of either table take one, which spares ASCII and Latin
// text the searches.
std::size_t ColumnsOf(char32_t c) {
  if (c < widths::kZeroColumns[0].first && c < widths::kTwoColumns[0].first) return 1;
  if (InRanges(widths::kZeroColumns, c)) return 0;
  return InRanges(widths::kTwoColumns, c) ? 2 : 1;
}

// The characters of the Windows-1252 bytes 0x80 to 0x9F; the bytes from 0xA0
// on are the code points of the same number, as in Latin-1.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

char Cp1252ByteOf(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (std::size_t i = 0; i < 32; ++i) {
    if (kCp1252High[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

}  // namespace

void Utf8Check::Feed(const char* data, std::size_t size) {
  for (std::size_t i = 0; i < size && head_ < kByteOrderMarkSize; ++i, ++head_) {
    if (data[i] != kByteOrderMark[head_]) bom_ = false;
  }
  for (std::size_t i = 0; i < size && valid_; ++i) {
    // Most text is ASCII: eight bytes at a time pass while none has its
    // high bit set.
    if (need_ == 0) {
      std::uint64_t word = 0;
      while (i + sizeof word <= size) {
        std::memcpy(&word, data + i, sizeof word);
        if ((word & 0x8080808080808080ULL) != 0) break;
        i += sizeof word;
      }
      if (i == size) break;
    }
    const auto b = static_cast<unsigned char>(data[i]);
    if (need_ > 0) {
      valid_ = b >= low_ && b <= high_;
      --need_;
      low_ = 0x80;
      high_ = 0xBF;
    } else if (b >= 0x80) {
      const Lead lead = LeadOf(b);
      nonAscii_ = true;
      valid_ = lead.need > 0;
      need_ = lead.need;
      low_ = lead.low;
      high_ = lead.high;
    }
  }
}

bool Utf8Check::Utf8() const {
  return (bom_ && head_ == kByteOrderMarkSize) || (valid_ && need_ == 0 && nonAscii_);
}

bool IsUtf8Text(std::string_view text) {
  Utf8Check check;
  check.Feed(text.data(), text.size());
  return check.Utf8();
}

std::size_t Utf8Columns(std::string_view text) {
  std::size_t columns = 0;
  for (std::size_t at = 0; at < text.size();) {
    const auto b = static_cast<unsigned char>(text[at]);
    const char32_t c = NextCodePoint(text, at);
    if (c == kNoCharacter) {
      if ((b & 0xC0) != 0x80) ++columns;
    } else {
      columns += ColumnsOf(c);
    }
  }
  return columns;
}

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char byte : text) {
    const auto b = static_cast<unsigned char>(byte);
    AppendUtf8(out, b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b);
  }
  return out;
}

std::string Utf8ToCp1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) out += Cp1252ByteOf(NextCodePoint(text, at));
  return out;
}

}  // namespace text

namespace text {

char32_t UpperCodePoint(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 0x20;
  if (c < 0xE0) return c;
  if (c <= 0xFE) return c == 0xF7 ? c : c - 0x20;
  if (c == 0xFF) return 0x178;
  // Latin Extended-A pairs its letters, the capital first, except in the
  // runs that start with a lone capital.
  const bool pairedEvenFirst = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
  const bool pairedOddFirst = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
  if (pairedEvenFirst) return c & ~char32_t{1};
  if (pairedOddFirst) return c % 2 == 0 ? c - 1 : c;
  if (c >= 0x3B1 && c <= 0x3C9) return c == 0x3C2 ? 0x3A3 : c - 0x20;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

std::string Utf8UpperCase(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t from = at;
    const char32_t c = NextCodePoint(text, at);
    if (c == kNoCharacter) {
      out += text[from];
    } else {
      AppendUtf8(out, UpperCodePoint(c));
    }
  }
  return out;
}

std::size_t FindUtf8IgnoringCase(std::string_view text, std::string_view upperNeedle) {
  if (upperNeedle.empty()) return std::string_view::npos;
  for (std::size_t start = 0; start < text.size(); NextCodePoint(text, start)) {
    std::size_t at = start;
    std::size_t k = 0;
    bool matched = true;
    while (matched && k < upperNeedle.size()) {
      if (at >= text.size()) return std::string_view::npos;
      const std::size_t from = at;
      const std::size_t needleFrom = k;
      const char32_t c = NextCodePoint(text, at);
      const char32_t n = NextCodePoint(upperNeedle, k);
      matched = c == kNoCharacter || n == kNoCharacter
                    ? at - from == 1 && k - needleFrom == 1 && text[from] == upperNeedle[needleFrom]
                    : UpperCodePoint(c) == n;
    }
    if (matched) return start;
  }
  return std::string_view::npos;
}

}  // namespace text
