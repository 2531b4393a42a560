// The current user's registry hive: read and write named text values of keys
// below HKEY_CURRENT_USER. On POSIX the hive is one REGEDIT4 file (see
// text/RegistryHive.h for its format and reading rules).
#pragma once

#include <string>

namespace platform {

// The hive file: $XDG_CONFIG_HOME/programswitch/HKEY_CURRENT_USER.reg, where
// an unset, empty or relative XDG_CONFIG_HOME means $HOME/.config (on POSIX
// a HOME that is unset or not absolute means the user's entry in /etc/passwd).
std::string RegistryHivePath();

// Opens the key keyPath (such as "\Software\TAVIK\Histrel\PARAMETERS\")
// without creating it and reads its text value valueName ("" the default
// value), exactly as stored. False, value untouched, when the key does not
// exist (a missing or unreadable hive has no keys); true with "" when the
// value does not exist. Throws Exception naming the value when it exists but
// is not a text value, and, on POSIX, naming the hive when it is no sound
// store (as ReadIniSection says).
bool ReadRegistryString(const std::string& keyPath, const std::string& valueName,
                        std::string& value);

// Sets the text value valueName of the key keyPath, creating the key, the
// hive file and its folder when missing; everything else in the hive stays as
// it was. The file is replaced atomically under an exclusive lock, so writers
// in parallel processes lose nothing. Throws Exception when it cannot write
// (the hive refused for reading, a lock that another process keeps too long
// among the reasons).
void WriteRegistryString(const std::string& keyPath, const std::string& valueName,
                         const std::string& value);

}  // namespace platform
