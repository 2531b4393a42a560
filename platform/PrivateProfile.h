// The private-profile (INI file) service: read the entries of a section,
// write one entry. Paths are system paths (backslashes allowed). The rules of
// the file's text are those of text/IniText.h.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace platform {

// The entries of a section in file order, as "NAME=value" lines (a line
// without "=" as its trimmed text). Shared and never null: where the file is
// read once, the same entries come back for as long as it stays as it was,
// so a caller can tell an unchanged section by the pointer.
using IniSection = std::shared_ptr<const std::vector<std::string>>;

// The entries of section in file. Empty when the file or the section is
// missing; a file that cannot be read counts as missing, as with the Windows
// service. On POSIX, where the file may lie in a folder that others can
// write, a file that is no sound store (a link that another user planted,
// no regular file, another user's, writable by every user, too large; see
// posix/PosixStoreFile.h) throws Exception naming the file and the reason.
IniSection ReadIniSection(const std::string& file, const std::string& section);

// Sets entry name of section to value: replaces the first entry of that name
// or adds it, creating a missing section or file; every other line stays.
// The file is replaced atomically under an exclusive lock, so writers in
// parallel processes lose nothing. Throws Exception naming the file when it
// cannot be written: a missing directory, a read-only file, a name that the
// file cannot hold, a file that reading refuses, a lock that another
// process keeps too long.
void WriteIniEntry(const std::string& file, const std::string& section, const std::string& name,
                   const std::string& value);

}  // namespace platform
