#include "support/uFileRoutines.h"

#include "base/Exception.h"
#include "platform/FileSystem.h"
#include "support/uStringRoutines.h"

std::string SPathNotCreated;

void InitializeFileRoutinesUnit() { SPathNotCreated = "Der Pfad %s kann nicht angelegt werden!"; }

void FinalizeFileRoutinesUnit() { SPathNotCreated.clear(); }

void CreatePath(const std::string& Path) {
  // A "/" is a separator too: the program's own directory arrives in the
  // native form, and no file name can hold a "/".
  std::string path = Path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  std::string prefix;
  if (WordCount(path, {':'}) != 1) {
    prefix = ExtractWord(path, {':'}, 1) + ":\\";
    const std::string::size_type slash = path.find('\\');
    if (slash != std::string::npos) path.erase(0, slash + 1);
  } else if (!path.empty() && path[0] == '\\') {
    // A leading backslash is the root of the file system.
    prefix = "\\";
  }
  const std::int32_t levels = WordCount(path, {'\\'});
  for (std::int32_t i = 1; i <= levels; ++i) {
    prefix += ExtractToken(path, "\\", i) + "\\";
    if (!platform::IsDirectory(prefix) && !platform::CreateDirectory(prefix)) {
      throw Exception(FormatText(SPathNotCreated, prefix));
    }
  }
}
