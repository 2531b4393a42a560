// UTF-8 beside Windows-1252: whether a text is UTF-8, how many columns it
// takes on a terminal, and the conversions between the two encodings. Pure
// computation, no system calls.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace text {

// Decides, from bytes fed in any number of chunks, whether a text is UTF-8
// (RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF). A
// sequence may be split between two chunks.
class Utf8Check {
 public:
  void Feed(const char* data, std::size_t size);

  // True when the text fed so far starts with a UTF-8 byte order mark, or is
  // all valid UTF-8 and holds a byte outside ASCII. Pure ASCII is not UTF-8
  // (it reads the same in Windows-1252); a sequence still unfinished at the
  // end makes the text invalid.
  bool Utf8() const;

 private:
  // The bytes of the text fed so far, counted up to the length of a byte
  // order mark, and whether they are one so far.
  std::size_t head_ = 0;
  bool bom_ = true;
  bool valid_ = true;
  bool nonAscii_ = false;
  // The continuation bytes the sequence being read still needs, and the
  // range its next one must lie in.
  int need_ = 0;
  unsigned char low_ = 0x80;
  unsigned char high_ = 0xBF;
};

// Utf8Check on the whole of text.
bool IsUtf8Text(std::string_view text);

// The columns text takes on a terminal, by Unicode's data: none for a
// combining mark (General_Category Mn, Me), a format character (Cf, such as
// U+200B or U+200D; not the soft hyphen) or a Hangul jamo vowel or final
// consonant that joins the syllable before it; two for an East Asian wide or
// fullwidth character (East_Asian_Width W, F), emoji and CJK among them;
// one for every other code point. A byte that starts no valid sequence
// counts one, a stray continuation byte none.
std::size_t Utf8Columns(std::string_view text);

// The upper case of a character of the alphabets that Windows-1252 and its
// neighbours write (Latin with its first extension, Greek, Cyrillic); any
// other character as it is. A character and its upper case take as many
// bytes in UTF-8.
char32_t UpperCodePoint(char32_t c);

// text with every character in its upper case (UpperCodePoint); bytes that
// start no valid sequence stay as they are.
std::string Utf8UpperCase(std::string_view text);

// The offset of the first character of text at which the characters of
// upperNeedle (in upper case, see Utf8UpperCase) stand, whatever the case
// of text's; npos when there is none. Bytes that start no valid sequence
// match only themselves.
std::size_t FindUtf8IgnoringCase(std::string_view text, std::string_view upperNeedle);

// Windows-1252 text in UTF-8. Every byte has a character: the five that
// Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the
// control characters of the same number.
std::string Cp1252ToUtf8(std::string_view text);

// UTF-8 text in Windows-1252 (the inverse of Cp1252ToUtf8): a character that
// Windows-1252 lacks, and each byte that starts no valid sequence, becomes '?'.
std::string Utf8ToCp1252(std::string_view text);

}  // namespace text
