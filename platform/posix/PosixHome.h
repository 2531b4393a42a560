// The current user's home folder, where the registry hive lives. Internal
// to platform/posix/.
#pragma once

#include <string>

namespace platform {

// $HOME when it is an absolute path; otherwise (unset, empty, relative) the
// home folder of the process's user in /etc/passwd; "" when neither gives one.
std::string HomeDirectory();

// The home folder (sixth field) of the first entry of a passwd file's text
// whose user id (third field) is uid; "" when no entry has it.
std::string HomeInPasswd(const std::string& passwd, unsigned uid);

}  // namespace platform
