// The text of an INI file, read and changed in memory with the rules of the
// Windows private-profile functions. No files here: the POSIX service reads
// and replaces the file around these functions, and fuzzers call them directly.
//
// The rules: a line "[NAME]" starts a section (text after the first "]" is
// ignored); section and entry names are compared without regard to case
// (ANSI upper-casing); blanks (bytes 0 to 32) around names and values do not
// count; lines whose first non-blank byte is ";" are comments; lines before
// the first section belong to no section. Inside a section every other
// non-blank line is an entry: "NAME=value", or, without "=", an entry whose
// name is the whole line and which has no value (Windows keeps such lines as
// keys as well). Only the first of several sections of one name counts.
// Lines end with LF or CR LF.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace text {

// The entries of section in file order, as "NAME=value" with name and value
// trimmed; an entry without "=" as its trimmed text. Duplicated names are all
// listed. Empty when there is no such section.
std::vector<std::string> IniSectionEntries(std::string_view text, std::string_view section);

// The names of all section headers in file order, duplicates included. The
// counterpart of GetPrivateProfileSectionNames; the tests and the stores
// fuzzer check with it that a change moved no other section.
std::vector<std::string> IniSectionNames(std::string_view text);

// text with entry name of section set to value: the first entry of that name
// in the first such section gets the new value, or the entry is added after
// the last entry of the section, or a new section is added at the end. Every
// other byte stays as it was; added lines take the file's line end (CR LF in
// a text without one). Throws Exception (a reason, no file name) when section
// or name cannot be written so that they read back as themselves: a line
// break anywhere, "]" in the section, an empty name, "=" in the name, or a
// name beginning with ";" or "[".
std::string IniSetEntry(std::string_view text, const std::string& section, const std::string& name,
                        const std::string& value);

}  // namespace text
