// Starts the switch library for a test as the program's start-up would:
// the given command line, a program file in a private directory (so its INI
// file is private) and a private registry hive.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "tests/ForwardedFileCalls.h"
#include "tests/TestSupport.h"

namespace testsupport {

class SwitchFixture {
 public:
  // ACommandLine as the process would report it ("histrel /USER=a ...").
  // With ARegisterStandard the nine standard switches are registered too.
  // APrepare runs before the registry is made, to write its INI file or hive.
  explicit SwitchFixture(const std::string& ACommandLine, bool ARegisterStandard = true,
                         const std::function<void(const SwitchFixture&)>& APrepare = {});
  ~SwitchFixture();
  SwitchFixture(const SwitchFixture&) = delete;
  SwitchFixture& operator=(const SwitchFixture&) = delete;

  // The private directory of the program file; its INI file is ProgramDir()/histrel.ini.
  std::string ProgramDir() const { return FDir / "bin"; }
  std::string IniFile() const { return FDir / "bin/histrel.ini"; }
  // The private configuration home (XDG_CONFIG_HOME) holding the hive.
  std::string ConfigHome() const { return FDir / "config"; }
  // The registry hive file below ConfigHome().
  std::string HiveFile() const { return FDir / "config/programswitch/HKEY_CURRENT_USER.reg"; }
  const TempDir& Dir() const { return FDir; }

 private:
  TempDir FDir;
  std::unique_ptr<ProgramLink> FProgram;
  std::string FOldXdg;
  bool FHadXdg;
};

}  // namespace testsupport
