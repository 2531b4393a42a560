#include "text/IniText.h"

#include "base/Exception.h"
#include "text/Ansi.h"
#include "text/TextLines.h"

namespace text {
namespace {

enum class LineKind { kBlank, kComment, kSection, kEntry };

// What a line is; for a section its trimmed name, for an entry its trimmed
// name and value and whether it has a "=" at all.
struct Parsed {
  LineKind kind;
  std::string_view name;
  std::string_view value;
  bool hasValue = false;
};

Parsed ParseLine(std::string_view content) {
  Parsed parsed{LineKind::kBlank, {}, {}, false};
  const std::string_view trimmed = TrimBlanks(content);
  if (trimmed.empty()) return parsed;
  if (trimmed[0] == ';') {
    parsed.kind = LineKind::kComment;
    return parsed;
  }
  if (trimmed[0] == '[') {
    const std::size_t close = trimmed.find(']');
    if (close != std::string_view::npos) {
      parsed.kind = LineKind::kSection;
      parsed.name = TrimBlanks(trimmed.substr(1, close - 1));
      return parsed;
    }
    // "[" without "]" is no header; Windows reads such a line as a key.
  }
  parsed.kind = LineKind::kEntry;
  const std::size_t equals = trimmed.find('=');
  if (equals == std::string_view::npos) {
    parsed.name = trimmed;
  } else {
    parsed.name = TrimBlanks(trimmed.substr(0, equals));
    parsed.value = TrimBlanks(trimmed.substr(equals + 1));
    parsed.hasValue = true;
  }
  return parsed;
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

void CheckWritable(std::string_view section, std::string_view name, std::string_view value) {
  if (HasLineBreak(section) || HasLineBreak(name) || HasLineBreak(value)) {
    throw Exception("an INI section, name or value cannot hold a line break");
  }
  if (section.find(']') != std::string_view::npos) {
    throw Exception("the INI section name " + std::string(section) + " holds \"]\"");
  }
  if (name.empty()) throw Exception("an INI entry needs a name");
  if (name.find('=') != std::string_view::npos) {
    throw Exception("the INI entry name " + std::string(name) + " holds \"=\"");
  }
  if (name[0] == ';' || name[0] == '[') {
    throw Exception("the INI entry name " + std::string(name) + " would not read back as a name");
  }
}

}  // namespace

std::vector<std::string> IniSectionEntries(std::string_view text, std::string_view section) {
  std::vector<std::string> entries;
  const std::string_view wanted = TrimBlanks(section);
  TextLineCursor cursor(text);
  TextLine line{};
  bool inside = false;
  bool seen = false;
  while (cursor.Next(line)) {
    const Parsed parsed = ParseLine(cursor.Content(line));
    if (parsed.kind == LineKind::kSection) {
      // Windows reads only the first section of a name; a repeated one ends
      // the reading like any other header.
      if (inside) break;
      if (!seen && SameName(parsed.name, wanted)) inside = seen = true;
      continue;
    }
    if (!inside || parsed.kind != LineKind::kEntry) continue;
    std::string entry(parsed.name);
    if (parsed.hasValue) {
      entry += '=';
      entry.append(parsed.value);
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<std::string> IniSectionNames(std::string_view text) {
  std::vector<std::string> names;
  TextLineCursor cursor(text);
  TextLine line{};
  while (cursor.Next(line)) {
    const Parsed parsed = ParseLine(cursor.Content(line));
    if (parsed.kind == LineKind::kSection) names.emplace_back(parsed.name);
  }
  return names;
}

std::string IniSetEntry(std::string_view text, const std::string& section, const std::string& name,
                        const std::string& value) {
  const std::string_view wantedSection = TrimBlanks(section);
  const std::string_view wantedName = TrimBlanks(name);
  CheckWritable(wantedSection, wantedName, value);
  const std::string_view eol = LineEndOf(text);

  TextLineCursor cursor(text);
  TextLine line{};
  bool inside = false;
  bool found = false;
  std::size_t insertAt = 0;  // after the header or the last entry of the section
  while (cursor.Next(line)) {
    const std::string_view content = cursor.Content(line);
    const Parsed parsed = ParseLine(content);
    if (parsed.kind == LineKind::kSection) {
      if (inside) break;
      if (!found && SameName(parsed.name, wantedSection)) {
        inside = found = true;
        insertAt = line.next;
      }
      continue;
    }
    if (!inside || parsed.kind != LineKind::kEntry) continue;
    if (SameName(parsed.name, wantedName)) {
      // Keep the line as the user wrote it up to its "=" (indentation, the
      // name's spelling, blanks), so that only the value changes.
      std::size_t keep = content.find('=');
      std::string_view joint;
      if (keep == std::string_view::npos) {
        keep = static_cast<std::size_t>(parsed.name.data() + parsed.name.size() - content.data());
        joint = "=";
      } else {
        ++keep;
      }
      std::string result;
      result.reserve(text.size() + value.size() + 1);
      result.append(text.substr(0, line.begin + keep));
      result.append(joint);
      result.append(value);
      result.append(text.substr(line.contentEnd));
      return result;
    }
    insertAt = line.next;
  }

  std::string entry(wantedName);
  entry += '=';
  entry += value;
  entry.append(eol);
  std::string result;
  result.reserve(text.size() + entry.size() + wantedSection.size() + 8);
  if (found) {
    result.append(text.substr(0, insertAt));
    // The section's last line may be the file's last line, without a line end.
    if (insertAt == text.size()) result.append(MissingLineEnd(text, eol));
    result.append(entry);
    result.append(text.substr(insertAt));
    return result;
  }
  result.append(text);
  if (!text.empty()) {
    result.append(MissingLineEnd(text, eol));
    // A blank line before the new section, unless the file ends with one.
    std::size_t lastStart = text.size() - 1;
    while (lastStart > 0 && text[lastStart - 1] != '\n') --lastStart;
    if (!TrimBlanks(text.substr(lastStart)).empty()) result.append(eol);
  }
  result += '[';
  result.append(wantedSection);
  result += ']';
  result.append(eol);
  result.append(entry);
  return result;
}

}  // namespace text
