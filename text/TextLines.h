// Small helpers for the in-memory parsers of the INI text and the registry
// hive: walking a text line by line with the byte positions of each line,
// the text's own line end, blanks, and name comparison without regard to case.
#pragma once

#include <cstddef>
#include <string_view>

#include "text/Ansi.h"

namespace text {

// One line of a text: content excludes the line end (LF or CR LF, or a CR
// that ends the text, which adding a line later completes to CR LF); next is
// where the following line starts (the text's size after the last line).
struct TextLine {
  std::size_t begin;
  std::size_t contentEnd;
  std::size_t next;
};

// Walks a text line by line. Copy it to look ahead. A UTF-8 byte order mark
// at the start of the text (as editors such as Notepad write it) belongs to
// no line: the first line starts after it, and it stays where it is.
class TextLineCursor {
 public:
  explicit TextLineCursor(std::string_view text)
      : text_(text), pos_(text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0) {}

  // The next line; false after the last one.
  bool Next(TextLine& line) {
    if (pos_ >= text_.size()) return false;
    line.begin = pos_;
    const std::size_t lf = text_.find('\n', pos_);
    if (lf == std::string_view::npos) {
      line.next = text_.size();
      line.contentEnd = text_.back() == '\r' ? line.next - 1 : line.next;
    } else {
      line.contentEnd = lf > pos_ && text_[lf - 1] == '\r' ? lf - 1 : lf;
      line.next = lf + 1;
    }
    pos_ = line.next;
    return true;
  }

  std::string_view Content(const TextLine& line) const {
    return text_.substr(line.begin, line.contentEnd - line.begin);
  }

 private:
  std::string_view text_;
  std::size_t pos_;
};

// The line end of a text: that of its first line; CR LF when it has none,
// as in a file written on Windows.
inline std::string_view LineEndOf(std::string_view text) {
  const std::size_t lf = text.find('\n');
  if (lf == std::string_view::npos) return "\r\n";
  return lf > 0 && text[lf - 1] == '\r' ? "\r\n" : "\n";
}

// Blanks are the bytes 0 to 32, as in the system's trimming.
inline bool IsBlankByte(char c) { return static_cast<unsigned char>(c) <= 32; }

inline std::string_view TrimBlanks(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlankByte(text[begin])) ++begin;
  while (end > begin && IsBlankByte(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// True when the texts are equal without regard to case (ANSI upper-casing).
inline bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AnsiUpperChar(a[i]) != AnsiUpperChar(b[i])) return false;
  }
  return true;
}

// What must follow the text before a line can be added after it: nothing
// when it is empty or ends with a line end; LF after a last CR (which is then
// part of a CR LF, as the cursor already reads it); else the line end eol.
inline std::string_view MissingLineEnd(std::string_view text, std::string_view eol) {
  if (text.empty() || text.back() == '\n') return {};
  return text.back() == '\r' ? "\n" : eol;
}

}  // namespace text
