// How a name from the file system is shown on a terminal. Anyone who may
// create a file chooses its name, and a control character in it would act
// on the terminal that shows it: clear it, retitle it, or start a line that
// looks like one of the tool's own. Pure computation, no system calls.
#pragma once

#include <string>
#include <string_view>

namespace text {

// True when text holds a control character: a byte below 0x20, or 0x7F.
bool HoldsControlCharacter(std::string_view text);

// What CQuoted does with the bytes from 0x80 up: a name in the ANSI code
// page or in UTF-8 keeps them; git's form of a name escapes them.
enum class HighBytes { kKept, kEscaped };

// text in double quotes with C escapes: \" and \\, \a \b \t \n \v \f \r,
// and three octal digits for every other control character ("\033" for
// ESC, "\177" for DEL) and, with HighBytes::kEscaped, for the bytes from
// 0x80 up.
std::string CQuoted(std::string_view text, HighBytes high = HighBytes::kKept);

// text as it is when it holds no control character, else CQuoted(text):
// plain names, backslashes and all, are shown unchanged.
std::string ShownName(std::string_view text);

}  // namespace text
