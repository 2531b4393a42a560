// Parses arbitrary INI texts and hives, sets one entry or value, parses the
// result again and checks that the entry reads back and nothing else moved.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/Exception.h"
#include "fuzz/FuzzCheck.h"
#include "support/uStringRoutines.h"
#include "text/Ansi.h"
#include "text/IniText.h"
#include "text/RegistryHive.h"

namespace {

// The first three lines of the input name what to set; the rest is the file.
struct Input {
  std::string section, name, value, text;
};

Input Split(const std::string& AData) {
  Input input;
  std::string* fields[] = {&input.section, &input.name, &input.value};
  std::string::size_type at = 0;
  for (std::string* field : fields) {
    const std::string::size_type end = AData.find('\n', at);
    if (end == std::string::npos) {
      *field = AData.substr(at);
      at = AData.size();
      break;
    }
    *field = AData.substr(at, end - at);
    at = end + 1;
  }
  input.text = AData.substr(std::min(at, AData.size()));
  return input;
}

void FuzzIni(const Input& AInput) {
  std::string changed;
  try {
    changed = text::IniSetEntry(AInput.text, AInput.section, AInput.name, AInput.value);
  } catch (const Exception&) {
    return;  // a name or section that cannot be written is refused whole
  }
  for (const std::string& section : text::IniSectionNames(AInput.text)) {
    // Blanks and control bytes around a section name do not count.
    if (text::AnsiSameText(Trim(section), Trim(AInput.section))) continue;
    CHECK(text::IniSectionEntries(AInput.text, section) ==
          text::IniSectionEntries(changed, section));
  }
}

void FuzzHive(const Input& AInput) {
  text::RegistryHive hive(AInput.text);
  text::RegistryHive before(AInput.text);
  CHECK(hive.Text() == AInput.text);  // parsing keeps every byte
  try {
    hive.SetString(AInput.section, AInput.name, AInput.value);
  } catch (const Exception&) {
    return;
  }
  std::string found;
  CHECK(hive.Find(AInput.section, AInput.name, found) == text::RegistryHive::Lookup::kText);
  CHECK(found == AInput.value.substr(0, AInput.value.find('\0')));
  // Parse, write, parse again: the same keys and values.
  const text::RegistryHive again(hive.Text());
  const auto keys = hive.Keys();
  const auto keysAgain = again.Keys();
  CHECK(keys.size() == keysAgain.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    CHECK(keys[i].path == keysAgain[i].path && keys[i].values.size() == keysAgain[i].values.size());
  }
  // Every other value of the current user reads as before.
  for (const auto& key : before.Keys()) {
    for (const auto& value : key.values) {
      std::string path = key.path;
      const std::string prefix = "HKEY_CURRENT_USER";
      if (path.size() < prefix.size() ||
          !text::AnsiSameText(path.substr(0, prefix.size()), prefix) ||
          (path.size() > prefix.size() && path[prefix.size()] != '\\')) {
        continue;  // a key of another hive
      }
      path = path.substr(prefix.size());
      std::string old, now;
      const auto wasFound = before.Find(path, value.name, old);
      if (text::AnsiSameText(value.name, AInput.name)) continue;
      CHECK(hive.Find(path, value.name, now) == wasFound && old == now);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string all(reinterpret_cast<const char*>(data) + 1, size - 1);
  const Input input = Split(all);
  if (data[0] & 1) {
    FuzzHive(input);
  } else {
    FuzzIni(input);
  }
  return 0;
}
