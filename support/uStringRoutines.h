// Splitting texts into words and parts, and removing runs of characters.
// Positions and numbers count from 1; none of the routines fails.
#pragma once

#include <bitset>
#include <cstdint>
#include <initializer_list>
#include <string>

// A set of byte values.
class TCharSet {
 public:
  TCharSet(std::initializer_list<char> AChars) {
    for (char c : AChars) FBits.set(static_cast<unsigned char>(c));
  }
  bool Contains(char c) const { return FBits.test(static_cast<unsigned char>(c)); }

 private:
  std::bitset<256> FBits;
};

// S without the characters of code 0 to 32 at both ends (the platform's
// TrimBlanks, which the INI and hive texts use too).
std::string Trim(const std::string& S);

// The N-th word of S (S trimmed once first; words themselves are not
// trimmed); empty when there is no such word.
std::string ExtractWord(const std::string& S, const TCharSet& Delimiters, std::int32_t N);

// The number of words of S. S is not trimmed: three blanks are one word
// when the blank is no delimiter.
std::int32_t WordCount(const std::string& S, const TCharSet& Delimiters);

// The N-th part of S between occurrences of Separator, which is found
// without regard to letter case; empty when there is no such part.
std::string ExtractToken(const std::string& S, const std::string& Separator, std::int32_t N);

// S with Count characters removed from position Index on; S unchanged when
// Index is outside S or Count is not positive.
std::string DeleteStr(const std::string& S, std::int32_t Index, std::int32_t Count);
