// Helpers that the walk, the rewrite and the history entries of the worker
// share; only the units of THistrel include this.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "text/Ansi.h"
#include "text/TextLines.h"
#include "text/Utf8.h"

namespace histrel_internal {

// The text that every note holds, and the beginning of a brace note.
inline constexpr char kNoteMarker[] = "CVS*";
inline constexpr char kBraceNote[] = "{CVS*";
// What a source's name gets for its log, and its temporary file's name
// instead of its extension.
inline constexpr char kLogExtension[] = ".cvs";
inline constexpr char kTemporaryExtension[] = ".tmp";

template <std::size_t N>
constexpr std::size_t LengthOf(const char (&)[N]) {
  return N - 1;
}

inline bool EndsWithBackslash(const std::string& S) { return !S.empty() && S.back() == '\\'; }

// The position of upperNeedle in line upper-cased by the ANSI rules, or npos;
// an empty needle is never found. Works without copying the line, because
// every line of a source goes through here until the marker line is met.
inline std::string::size_type FindAnsiText(std::string_view line, const std::string& upperNeedle) {
  const std::size_t n = upperNeedle.size();
  if (n == 0 || line.size() < n) return std::string::npos;
  for (std::size_t i = 0; i + n <= line.size(); ++i) {
    std::size_t k = 0;
    while (k < n && text::AnsiUpperChar(line[i + k]) == upperNeedle[k]) ++k;
    if (k == n) return i;
  }
  return std::string::npos;
}

// A text of the settings (USER, INSERT) as written into a source of the
// given encoding. A text that reads as UTF-8 is taken as UTF-8, any other as
// Windows-1252, so that it may come from a terminal or an INI file of either
// kind.
inline std::string TextForSource(const std::string& AText, bool ASourceUtf8) {
  const bool textUtf8 = text::IsUtf8Text(AText);
  if (ASourceUtf8 && !textUtf8) return text::Cp1252ToUtf8(AText);
  if (!ASourceUtf8 && textUtf8) return text::Utf8ToCp1252(AText);
  return AText;
}

// The temporary file of a source: its name with the extension (from the last
// dot of the name) replaced by ".tmp", or ".tmp" appended. Works on system
// and native paths alike.
inline std::string TemporaryPathOf(const std::string& source) {
  const std::string::size_type nameStart = source.find_last_of("\\/");
  const std::string::size_type dot = source.rfind('.');
  if (dot == std::string::npos || (nameStart != std::string::npos && dot < nameStart)) {
    return source + kTemporaryExtension;
  }
  return source.substr(0, dot) + kTemporaryExtension;
}

// Narrows the bytes [ABegin, AEnd) of AText to those without the characters
// of code 0 to 32 at both ends.
inline void TrimRange(const std::string& AText, std::size_t& ABegin, std::size_t& AEnd) {
  const std::string_view trimmed =
      text::TrimBlanks(std::string_view(AText).substr(ABegin, AEnd - ABegin));
  ABegin = static_cast<std::size_t>(trimmed.data() - AText.data());
  AEnd = ABegin + trimmed.size();
}

}  // namespace histrel_internal
