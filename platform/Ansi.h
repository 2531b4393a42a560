// Upper-casing and case-insensitive comparison of Windows-1252 texts.
// Independent of the process locale: the same bytes give the same answer
// on every machine.
#pragma once

#include <string>

namespace platform {

// The upper-case form of one Windows-1252 byte.
char AnsiUpperChar(char c);

// The text with every byte upper-cased; never changes the length.
std::string AnsiUpperCase(const std::string& text);

// The text with every byte lower-cased (the inverse of the upper-casing).
std::string AnsiLowerCase(const std::string& text);

// Compares the upper-cased texts byte by byte: <0, 0 or >0.
int AnsiCompareText(const std::string& a, const std::string& b);

// True when the texts are equal without regard to letter case.
bool AnsiSameText(const std::string& a, const std::string& b);

}  // namespace platform
