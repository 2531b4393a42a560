#include "text/ShownName.h"

#include <algorithm>

namespace text {
namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

}  // namespace

bool HoldsControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return IsControl(static_cast<unsigned char>(c)); });
}

std::string CQuoted(std::string_view text, HighBytes high) {
  static const char kOctal[] = "01234567";
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '"';
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    const char* named = nullptr;
    switch (c) {
      case '"':
        named = "\\\"";
        break;
      case '\\':
        named = "\\\\";
        break;
      case '\a':
        named = "\\a";
        break;
      case '\b':
        named = "\\b";
        break;
      case '\t':
        named = "\\t";
        break;
      case '\n':
        named = "\\n";
        break;
      case '\v':
        named = "\\v";
        break;
      case '\f':
        named = "\\f";
        break;
      case '\r':
        named = "\\r";
        break;
      default:
        break;
    }
    if (named != nullptr) {
      quoted += named;
    } else if (IsControl(u) || (u >= 0x80 && high == HighBytes::kEscaped)) {
      quoted += '\\';
      quoted += kOctal[u >> 6];
      quoted += kOctal[(u >> 3) & 7];
      quoted += kOctal[u & 7];
    } else {
      quoted += c;
    }
  }
  quoted += '"';
  return quoted;
}

std::string ShownName(std::string_view text) {
  return HoldsControlCharacter(text) ? CQuoted(text) : std::string(text);
}

}  // namespace text
