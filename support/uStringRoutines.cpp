#include "support/uStringRoutines.h"

#include "text/Ansi.h"
#include "text/TextLines.h"

std::string Trim(const std::string& S) { return std::string(text::TrimBlanks(S)); }

// The routines below follow their step-by-step definitions closely, quirks
// included: the switch parser relies on them (WordCount does not trim,
// ExtractWord trims the whole text once). Positions are 1-based as there;
// removing a prefix is done by moving a start offset instead of copying.

std::string ExtractWord(const std::string& S, const TCharSet& Delimiters, std::int32_t N) {
  const std::string text = Trim(S);
  std::string::size_type start = 0;  // text[start..] is what is left of S
  std::string::size_type i = 1;
  std::int32_t j = 1;
  while (start + i <= text.size() && N >= 1) {
    const std::string::size_type length = text.size() - start;
    if (!Delimiters.Contains(text[start + i - 1])) {
      if (i == length && j == N) return text.substr(start);
      ++i;
    } else if (i == 1) {
      ++start;
    } else {
      if (j == N) return text.substr(start, i - 1);
      start += i;
      i = 1;
      ++j;
    }
  }
  return std::string();
}

std::int32_t WordCount(const std::string& S, const TCharSet& Delimiters) {
  std::int32_t count = 0;
  std::string::size_type start = 0;
  std::string::size_type i = 1;
  while (start + i <= S.size()) {
    if (Delimiters.Contains(S[start + i - 1])) {
      start += i;
      if (i != 1) {
        ++count;
        i = 1;
      }
    } else {
      if (start + i == S.size()) ++count;
      ++i;
    }
  }
  return count;
}

std::string ExtractToken(const std::string& S, const std::string& Separator, std::int32_t N) {
  const std::string trimmed = Trim(S);
  const std::string upperText = text::AnsiUpperCase(trimmed);
  const std::string upperSeparator = text::AnsiUpperCase(Separator);
  std::string::size_type start = 0;
  auto find = [&]() -> std::string::size_type {
    if (upperSeparator.empty()) return 0;
    const std::string::size_type at = upperText.find(upperSeparator, start);
    return at == std::string::npos ? 0 : at - start + 1;
  };
  std::string result;
  std::int32_t j = 1;
  std::string::size_type p = find();
  while (p != 0 && N >= 1) {
    if (p == 1) {
      start += Separator.size();
    } else if (j == N) {
      result = trimmed.substr(start, p - 1);
      break;
    } else {
      start += p + Separator.size() - 1;
      ++j;
    }
    p = find();
  }
  if (result.empty() && start < trimmed.size() && j == N) result = trimmed.substr(start);
  return result;
}

std::string DeleteStr(const std::string& S, std::int32_t Index, std::int32_t Count) {
  if (Index < 1 || static_cast<std::string::size_type>(Index) > S.size() || Count <= 0) return S;
  std::string result = S;
  result.erase(static_cast<std::string::size_type>(Index) - 1,
               static_cast<std::string::size_type>(Count));
  return result;
}
