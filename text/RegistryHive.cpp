#include "text/RegistryHive.h"

#include "base/Exception.h"
#include "text/Ansi.h"
#include "text/TextLines.h"

namespace text {
namespace {

constexpr std::string_view kCurrentUser = "HKEY_CURRENT_USER";

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeftSpaces(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size() && IsSpace(text[begin])) ++begin;
  return text.substr(begin);
}

bool StartsWithName(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

// The components of a key path, upper-cased and joined by single
// backslashes; empty components (leading, trailing, doubled "\") drop out.
// With skipHive the first component must be HKEY_CURRENT_USER and is left
// out; isCurrentUser tells whether it was.
std::string NormalKeyPath(std::string_view path, bool skipHive, bool* isCurrentUser) {
  std::string normal;
  normal.reserve(path.size());
  bool first = true;
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t end = path.find('\\', pos);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty()) continue;
    if (skipHive && first) {
      first = false;
      *isCurrentUser = SameName(part, kCurrentUser);
      if (!*isCurrentUser) return {};
      continue;
    }
    first = false;
    if (!normal.empty()) normal += '\\';
    for (const char c : part) normal += AnsiUpperChar(c);
  }
  if (skipHive && first) *isCurrentUser = false;
  return normal;
}

// Reads a quoted text from text[pos] (just after the opening quote) with the
// escapes \\ and \". A backslash before any other byte is kept with it, as
// regedit keeps a path such as "c:\src" written by hand. Returns the position
// after the closing quote, or npos when the text ends first.
std::size_t ReadQuoted(std::string_view text, std::size_t pos, std::string& out) {
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '"') return pos + 1;
    if (c == '\\' && pos + 1 < text.size() && (text[pos + 1] == '\\' || text[pos + 1] == '"')) {
      out += text[pos + 1];
      pos += 2;
      continue;
    }
    out += c;
    ++pos;
  }
  return std::string_view::npos;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Bytes written as "hex" pairs separated by commas, possibly over several
// lines joined by "\"; reading stops at the first token that is no byte.
std::string DecodeBytes(std::string_view text) {
  std::string bytes;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == ',' || c == '\\' || IsBlankByte(c)) {
      ++pos;
      continue;
    }
    std::size_t end = pos;
    int byte = 0;
    // At most two digits make a byte; a longer run is no byte and ends the data.
    while (end < text.size() && end - pos < 3 && HexDigit(text[end]) >= 0) {
      byte = byte * 16 + HexDigit(text[end++]);
    }
    if (end == pos || end - pos > 2) break;
    bytes += static_cast<char>(byte);
    pos = end;
  }
  return bytes;
}

// The type number of data "hex(N):..." (N in hex digits) and where the bytes
// start; false when data is not of that form.
bool ReadHexType(std::string_view data, unsigned& type, std::size_t& bytesBegin) {
  if (!StartsWithName(data, "hex(")) return false;
  constexpr std::size_t kFirstDigit = 4;
  std::size_t pos = kFirstDigit;
  type = 0;
  while (pos < data.size() && HexDigit(data[pos]) >= 0 && pos - kFirstDigit < 8) {
    type = type * 16 + static_cast<unsigned>(HexDigit(data[pos++]));
  }
  if (pos == kFirstDigit || pos + 1 >= data.size() || data[pos] != ')' || data[pos + 1] != ':') {
    return false;
  }
  bytesBegin = pos + 2;
  return true;
}

bool IsRemoval(std::string_view data) { return TrimBlanks(data) == "-"; }

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

std::string Quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

// The line (or, for bytes, lines) of one text value.
std::string ValueLineText(std::string_view name, std::string_view value, std::string_view eol) {
  std::string line = name.empty() ? std::string("@") : Quoted(name);
  if (!HasLineBreak(value)) {
    line += '=';
    line += Quoted(value);
    return line;
  }
  // "..." cannot hold a line break; hex(1): is the same text type stored as
  // bytes with its NUL, wrapped as regedit wraps it.
  static const char kDigits[] = "0123456789abcdef";
  line += "=hex(1):";
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i <= value.size(); ++i) {
    const unsigned char byte = i < value.size() ? static_cast<unsigned char>(value[i]) : 0;
    if (i > 0) {
      line += ',';
      if (line.size() - lineStart > 76) {
        line += '\\';
        line.append(eol);
        lineStart = line.size();
        line += "  ";
      }
    }
    line += kDigits[byte >> 4];
    line += kDigits[byte & 15];
  }
  return line;
}

}  // namespace

RegistryHive::RegistryHive(std::string text) : text_(std::move(text)) { Index(); }

void RegistryHive::Index() {
  blocks_.clear();
  const std::string_view text = text_;
  TextLineCursor cursor(text);
  TextLine line{};
  while (cursor.Next(line)) {
    const std::string_view content = cursor.Content(line);
    const std::string_view trimmed = TrimLeftSpaces(content);
    if (trimmed.empty()) continue;
    const std::size_t start = line.begin + (content.size() - trimmed.size());

    if (trimmed[0] == '[') {
      // The path ends at the last "]": key names may hold "]" themselves.
      const std::size_t close = trimmed.rfind(']');
      const std::size_t pathLength =
          close == std::string_view::npos ? trimmed.size() - 1 : close - 1;
      KeyBlock block;
      block.pathBegin = start + 1;
      block.pathEnd = block.pathBegin + pathLength;
      block.lastValueEnd = line.next;
      const std::string_view path = trimmed.substr(1, pathLength);
      // "[-...]" removes a key on import; it names no key to read from.
      block.currentUser = false;
      if (path.empty() || path[0] != '-') {
        block.normalPath = NormalKeyPath(path, true, &block.currentUser);
      }
      blocks_.push_back(std::move(block));
      continue;
    }
    if (blocks_.empty()) continue;  // the header, or lines before any key

    ValueLine value;
    std::size_t pos = 0;
    if (trimmed[0] == '@') {
      pos = 1;
    } else if (trimmed[0] == '"') {
      pos = ReadQuoted(trimmed, 1, value.name);
      if (pos == std::string_view::npos) continue;
    } else {
      continue;  // a comment or a line of unknown form: kept, not read
    }
    while (pos < trimmed.size() && IsSpace(trimmed[pos])) ++pos;
    if (pos >= trimmed.size() || trimmed[pos] != '=') continue;
    value.begin = line.begin;
    value.dataBegin = start + pos + 1;
    // Bytes go on over the following lines while a line ends in "\"; a key
    // line always ends them, so that a broken value never swallows a key.
    bool dangling = false;
    if (StartsWithName(TrimLeftSpaces(trimmed.substr(pos + 1)), "hex")) {
      for (;;) {
        const std::string_view now = TrimBlanks(cursor.Content(line));
        if (now.empty() || now.back() != '\\') break;
        dangling = true;
        TextLineCursor ahead = cursor;
        TextLine following{};
        if (!ahead.Next(following)) break;
        const std::string_view next = TrimLeftSpaces(ahead.Content(following));
        if (!next.empty() && next[0] == '[') break;
        dangling = false;
        cursor = ahead;
        line = following;
      }
    }
    value.contentEnd = line.contentEnd;
    KeyBlock& block = blocks_.back();
    // A line added after bytes whose last line still ends in "\" would be
    // read as more of their bytes; new values go before such a value.
    if (!dangling) block.lastValueEnd = line.next;
    block.values.push_back(std::move(value));
  }
}

std::vector<RegistryHive::Key> RegistryHive::Keys() const {
  std::vector<Key> keys;
  keys.reserve(blocks_.size());
  for (const KeyBlock& block : blocks_) {
    Key key;
    key.path = text_.substr(block.pathBegin, block.pathEnd - block.pathBegin);
    for (const ValueLine& line : block.values) {
      key.values.push_back(
          Value{line.name, text_.substr(line.dataBegin, line.contentEnd - line.dataBegin)});
    }
    keys.push_back(std::move(key));
  }
  return keys;
}

const RegistryHive::ValueLine* RegistryHive::FindLine(const std::string& normalPath,
                                                      std::string_view valueName) const {
  const ValueLine* found = nullptr;
  for (const KeyBlock& block : blocks_) {
    if (!block.currentUser || block.normalPath != normalPath) continue;
    for (const ValueLine& line : block.values) {
      if (SameName(line.name, valueName)) found = &line;
    }
  }
  return found;
}

RegistryHive::Lookup RegistryHive::Find(std::string_view keyPath, std::string_view valueName,
                                        std::string& text) const {
  const std::string normal = NormalKeyPath(keyPath, false, nullptr);
  bool exists = normal.empty();
  for (std::size_t i = 0; i < blocks_.size() && !exists; ++i) {
    const KeyBlock& block = blocks_[i];
    if (!block.currentUser || block.normalPath.size() < normal.size()) continue;
    // A key line of a key below it makes the key exist: parents need no line.
    exists = block.normalPath.compare(0, normal.size(), normal) == 0 &&
             (block.normalPath.size() == normal.size() || block.normalPath[normal.size()] == '\\');
  }
  if (!exists) return Lookup::kNoKey;
  const ValueLine* line = FindLine(normal, valueName);
  if (line == nullptr) return Lookup::kNoValue;
  const std::string_view data(text_.data() + line->dataBegin, line->contentEnd - line->dataBegin);
  if (IsRemoval(data)) return Lookup::kNoValue;
  std::string decoded;
  if (!DecodeText(data, decoded)) return Lookup::kNotText;
  text = std::move(decoded);
  return Lookup::kText;
}

bool RegistryHive::DecodeText(std::string_view data, std::string& text) {
  text.clear();
  data = TrimLeftSpaces(data);
  if (!data.empty() && data[0] == '"') {
    // An unterminated text is read to the end of its line.
    ReadQuoted(data, 1, text);
    return true;
  }
  unsigned type = 0;
  std::size_t bytesBegin = 0;
  // Type 1 is a plain text, type 2 an expandable one; both end at a NUL.
  if (!ReadHexType(data, type, bytesBegin) || (type != 1 && type != 2)) return false;
  text = DecodeBytes(data.substr(bytesBegin));
  const std::size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return true;
}

void RegistryHive::SetString(std::string_view keyPath, std::string_view valueName,
                             std::string_view value) {
  if (HasLineBreak(keyPath) || HasLineBreak(valueName)) {
    throw Exception("a registry key path or value name cannot hold a line break");
  }
  // The registry stores a text up to its NUL, as the Windows function does.
  value = value.substr(0, value.find('\0'));
  const std::string_view eol = LineEndOf(text_);
  const std::string line = ValueLineText(valueName, value, eol);
  const std::string normal = NormalKeyPath(keyPath, false, nullptr);

  if (const ValueLine* found = FindLine(normal, valueName)) {
    text_.replace(found->begin, found->contentEnd - found->begin, line);
    Index();
    return;
  }
  const KeyBlock* last = nullptr;
  for (const KeyBlock& block : blocks_) {
    if (block.currentUser && block.normalPath == normal) last = &block;
  }
  std::string insert;
  if (last != nullptr) {
    const std::size_t at = last->lastValueEnd;
    if (at == text_.size()) insert.append(MissingLineEnd(text_, eol));
    insert += line;
    insert.append(eol);
    text_.insert(at, insert);
    Index();
    return;
  }
  if (text_.empty()) {
    insert = "REGEDIT4";
    insert.append(eol);
    insert.append(eol);
  } else {
    insert.append(MissingLineEnd(text_, eol));
    // One blank line between keys, as in an export.
    std::size_t lastStart = text_.size() - 1;
    while (lastStart > 0 && text_[lastStart - 1] != '\n') --lastStart;
    if (!TrimBlanks(std::string_view(text_).substr(lastStart)).empty()) insert.append(eol);
  }
  insert += '[';
  insert.append(kCurrentUser);
  std::size_t pos = 0;
  while (pos <= keyPath.size()) {
    std::size_t end = keyPath.find('\\', pos);
    if (end == std::string_view::npos) end = keyPath.size();
    if (end > pos) {
      insert += '\\';
      insert.append(keyPath.substr(pos, end - pos));
    }
    pos = end + 1;
  }
  insert += ']';
  insert.append(eol);
  insert += line;
  insert.append(eol);
  insert.append(eol);
  text_ += insert;
  Index();
}

}  // namespace text
