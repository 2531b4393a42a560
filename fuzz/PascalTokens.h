// A second, small reader of Pascal for the differential fuzzer, written apart
// from the worker's scanner so that a fault the two might share still shows:
// the code tokens of a text (everything outside comments: words, symbols,
// literals, directives) and where its comments lie, as either compiler reads
// the text.
//
// Delphi: no comment nests; a string that opens with an odd number (three or
// more) of quotes directly followed by a line end runs over lines up to a
// line holding, after blanks only, as many quotes (or more).
// Free Pascal (default and objfpc modes): "{" nests inside "{ }" and "(*"
// inside "(* *)", each kind counting only its own; after a directive that
// names multilinestrings a backtick string runs up to the next backtick.
// A backtick anywhere else in code is an error to both compilers, so both
// readings take it as opening such a string too: a text that neither
// compiler takes has no reading to keep.
// Both: reading ends at the first Ctrl-Z; "(*)" does not close the comment
// it opens (inside one, its "*)" closes); a "//"
// comment and a plain literal end at a CR or an LF.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace pascaltokens {

enum class Compiler { Delphi, FreePascal };

enum class CommentKind { Brace, Paren, Line };

struct Comment {
  CommentKind kind;
  std::size_t from;  // the opener's first byte
  std::size_t to;    // behind the closer (for a line comment: at its line end)
};

struct Reading {
  // Each token with a blank in front of it when blanks, line ends or
  // comments stood between it and the one before.
  std::vector<std::string> tokens;
  std::vector<Comment> comments;
  // The text ends inside a comment or a literal, which the compiler rejects.
  bool open = false;
  bool operator==(const Reading& AOther) const {
    return tokens == AOther.tokens && open == AOther.open;
  }
};

namespace detail {

inline bool IsWordByte(unsigned char AByte) {
  return (AByte >= 'a' && AByte <= 'z') || (AByte >= 'A' && AByte <= 'Z') ||
         (AByte >= '0' && AByte <= '9') || AByte == '_' || AByte == '#' || AByte == '$' ||
         AByte == '&' || AByte == '%' || AByte >= 0x80;
}

inline bool IsLineEnd(char AByte) { return AByte == '\r' || AByte == '\n'; }

inline std::string Lower(std::string AText) {
  for (char& c : AText) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return AText;
}

}  // namespace detail

// Where a Delphi multi-line string that opens at AAt with AQuotes quotes
// ends (behind its closing quotes), or AText's size when it does not end.
inline std::size_t MultiLineStringEnd(const std::string& AText, std::size_t AAt,
                                      std::size_t AQuotes) {
  std::size_t line = AAt + AQuotes;
  const std::size_t size = AText.size();
  for (;;) {
    // The next line starts behind a CR LF, an LF or a lone CR.
    while (line < size && !detail::IsLineEnd(AText[line])) ++line;
    if (line >= size) return size;
    line += AText[line] == '\r' && line + 1 < size && AText[line + 1] == '\n' ? 2 : 1;
    std::size_t k = line;
    while (k < size && (AText[k] == ' ' || AText[k] == '\t')) ++k;
    std::size_t quotes = 0;
    while (k + quotes < size && AText[k + quotes] == '\'') ++quotes;
    // More quotes than opened it close it too, and the rest begin code:
    // Delphi's own texts never write such a line, and the worker reads it so.
    if (quotes >= AQuotes) return k + AQuotes;
  }
}

inline Reading Read(const std::string& AWhole, Compiler ACompiler) {
  using detail::IsLineEnd;
  const std::string text = AWhole.substr(0, AWhole.find('\x1A'));
  const std::size_t size = text.size();
  const bool nests = ACompiler == Compiler::FreePascal;
  bool backticks = true;
  Reading reading;
  bool separated = false;
  const auto token = [&](std::size_t AFrom, std::size_t ATo) {
    std::string piece = separated && !reading.tokens.empty() ? " " : "";
    reading.tokens.push_back(piece.append(text, AFrom, ATo - AFrom));
    separated = false;
  };
  const auto at = [&](std::size_t AIndex) { return AIndex < size ? text[AIndex] : '\0'; };
  std::size_t i = 0;
  while (i < size) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t end = i + 1;
    if (c <= ' ') {
      separated = true;
    } else if (c == '{' && at(i + 1) == '$') {
      end = text.find('}', i + 2);
      reading.open = reading.open || end == std::string::npos;
      end = end == std::string::npos ? size : end + 1;
      if (ACompiler == Compiler::FreePascal &&
          detail::Lower(text.substr(i, end - i)).find("multilinestrings") != std::string::npos) {
        backticks = true;
      }
      token(i, end);
    } else if (c == '(' && at(i + 1) == '*' && at(i + 2) == '$') {
      end = text.find("*)", i + 3);
      reading.open = reading.open || end == std::string::npos;
      end = end == std::string::npos ? size : end + 2;
      token(i, end);
    } else if (c == '{' || (c == '(' && at(i + 1) == '*')) {
      const bool brace = c == '{';
      std::size_t depth = 1;
      std::size_t k = brace ? i + 1 : i + 2;
      while (k < size && depth > 0) {
        if (brace && text[k] == '}') {
          --depth;
          ++k;
        } else if (brace && text[k] == '{' && nests) {
          ++depth;
          ++k;
        } else if (!brace && text[k] == '*' && at(k + 1) == ')') {
          --depth;
          k += 2;
        } else if (!brace && text[k] == '(' && at(k + 1) == '*' && at(k + 2) != ')' && nests) {
          // Free Pascal's scanner takes the "*)" of a "(*)" inside a
          // comment as a closer, not the "(*" as an opener.
          ++depth;
          k += 2;
        } else {
          ++k;
        }
      }
      reading.open = reading.open || depth > 0;
      end = k;
      reading.comments.push_back({brace ? CommentKind::Brace : CommentKind::Paren, i, end});
      separated = true;
    } else if (c == '/' && at(i + 1) == '/') {
      end = i + 2;
      while (end < size && !IsLineEnd(text[end])) ++end;
      reading.comments.push_back({CommentKind::Line, i, end});
      separated = true;
    } else if (c == '\'') {
      std::size_t quotes = 1;
      while (at(i + quotes) == '\'') ++quotes;
      if (ACompiler == Compiler::Delphi && quotes >= 3 && quotes % 2 == 1 &&
          IsLineEnd(at(i + quotes))) {
        end = MultiLineStringEnd(text, i, quotes);
        reading.open = reading.open || end == size;
      } else {
        // Doubled quotes stand for one; the literal ends at a single quote
        // or, unclosed, at the line end.
        end = i + 1;
        for (;;) {
          while (end < size && text[end] != '\'' && !IsLineEnd(text[end])) ++end;
          if (end >= size || IsLineEnd(text[end])) {
            reading.open = true;
            break;
          }
          if (at(end + 1) == '\'') {
            end += 2;
          } else {
            ++end;
            break;
          }
        }
      }
      token(i, end);
    } else if (c == '`' && backticks) {
      end = text.find('`', i + 1);
      reading.open = reading.open || end == std::string::npos;
      end = end == std::string::npos ? size : end + 1;
      token(i, end);
    } else if (detail::IsWordByte(c)) {
      while (end < size && detail::IsWordByte(static_cast<unsigned char>(text[end]))) ++end;
      token(i, end);
    } else {
      token(i, end);
    }
    i = end;
  }
  return reading;
}

// Whether AText is UTF-8 as the standard allows it: no overlong forms, no
// surrogates, nothing above U+10FFFF.
inline bool IsUtf8(const std::string& AText) {
  const std::size_t size = AText.size();
  for (std::size_t i = 0; i < size;) {
    const unsigned char c = static_cast<unsigned char>(AText[i]);
    std::size_t length = 0;
    unsigned lowest = 0x80;
    unsigned highest = 0xBF;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) lowest = 0xA0;
      if (c == 0xED) highest = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) lowest = 0x90;
      if (c == 0xF4) highest = 0x8F;
    } else {
      return false;
    }
    if (i + length > size) return false;
    const unsigned char second = static_cast<unsigned char>(AText[i + 1]);
    if (second < lowest || second > highest) return false;
    for (std::size_t k = 2; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(AText[i + k]);
      if (next < 0x80 || next > 0xBF) return false;
    }
    i += length;
  }
  return true;
}

// Where the marked comments of AText stand that this compiler's reading
// takes for comments: "{CVS*" opening a brace comment, and "//" with blanks
// only before it on its line and "CVS*" after it (blanks between), either a
// line comment of the code or a line within a "{ }" or "(* *)" comment. A
// line here ends at an LF only, as the tool splits lines. Notes inside the
// comment that holds AInsert (ASCII letters in any case) outside notes are
// left out, as they belong to the history.
inline std::vector<std::size_t> Notes(const std::string& AWhole, Compiler ACompiler,
                                      const std::string& AInsert) {
  const Reading reading = Read(AWhole, ACompiler);
  const std::string& text = AWhole;
  const auto lineNoteAt = [&](std::size_t ASlash) {
    if (text.compare(ASlash, 2, "//") != 0) return false;
    std::size_t k = ASlash;
    while (k > 0 && (text[k - 1] == ' ' || text[k - 1] == '\t')) --k;
    // A byte order mark in front of the first line is no text of it.
    const bool firstLine = k == 0 || (k == 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0);
    if (!firstLine && text[k - 1] != '\n') return false;
    k = ASlash + 2;
    while (k < text.size() && (text[k] == ' ' || text[k] == '\t')) ++k;
    return text.compare(k, 4, "CVS*") == 0;
  };
  const std::string insert = detail::Lower(AInsert);
  std::vector<std::size_t> notes;
  bool historyFound = insert.empty();
  for (const Comment& comment : reading.comments) {
    std::vector<std::size_t> found;
    std::string outsideNotes;
    if (comment.kind == CommentKind::Brace && text.compare(comment.from, 5, "{CVS*") == 0) {
      found.push_back(comment.from);
    } else if (comment.kind == CommentKind::Line) {
      if (lineNoteAt(comment.from)) {
        found.push_back(comment.from);
      } else {
        outsideNotes = text.substr(comment.from, comment.to - comment.from);
      }
    } else {
      // A block: its lines, each either a line note or text.
      std::size_t line = comment.from;
      while (line < comment.to) {
        std::size_t lineEnd = text.find('\n', line);
        if (lineEnd == std::string::npos || lineEnd > comment.to) lineEnd = comment.to;
        std::size_t first = line;
        while (first < lineEnd && (text[first] == ' ' || text[first] == '\t')) ++first;
        if (line != comment.from && lineNoteAt(first)) {
          found.push_back(first);
        } else {
          outsideNotes.append(text, line, lineEnd - line).push_back('\n');
        }
        line = lineEnd + 1;
      }
    }
    if (!historyFound && detail::Lower(outsideNotes).find(insert) != std::string::npos) {
      historyFound = true;
      continue;
    }
    notes.insert(notes.end(), found.begin(), found.end());
  }
  return notes;
}

}  // namespace pascaltokens
