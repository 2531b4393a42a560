// The current user's registry hive as the text of a REGEDIT4 export, read
// and changed in memory. No files here: the POSIX service reads and replaces
// the hive file around this class, and fuzzers use it directly.
//
// The format: an optional first line "REGEDIT4"; a key line "[HIVE\A\B]"
// starts the values of key A\B of that hive; a value line is "NAME"=data or
// @=data for the default value, names with the escapes \\ and \"; data is a
// text "..." with the same escapes, or dword:, hex:, hex(N): bytes, which may
// go on over lines that end in "\". Lines end with LF or CR LF.
//
// Parsing never fails: what cannot be read is kept as an unknown line. The
// text is held as it is, and a change replaces or inserts only the lines of
// the value it sets, so everything else stays byte for byte.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace text {

class RegistryHive {
 public:
  // One value line as it stands in the text.
  struct Value {
    std::string name;  // unescaped; "" for the default value "@"
    std::string data;  // everything after the "=", continuation lines included
  };
  // One key line and the values that follow it.
  struct Key {
    std::string path;  // as written between "[" and "]", hive name included
    std::vector<Value> values;
  };

  // What a look-up found.
  enum class Lookup {
    kNoKey,    // no such key (nor a key below it)
    kNoValue,  // the key exists but the value does not
    kText,     // a text value: "..." or hex(2): (or hex(1):, text stored as bytes)
    kNotText,  // a value of another type
  };

  RegistryHive() { Index(); }
  explicit RegistryHive(std::string text);

  // The hive's text: what was parsed, with the changes made since.
  const std::string& Text() const { return text_; }

  // Every key line in file order with its values; keys of every hive. The
  // counterpart of enumerating keys and values on Windows; the tests and the
  // stores fuzzer check with it that a change moved nothing else.
  std::vector<Key> Keys() const;

  // Looks up the value valueName ("" the default value) of the key keyPath
  // below HKEY_CURRENT_USER, such as "\Software\TAVIK\Histrel\PARAMETERS\".
  // Backslashes at either end and doubled ones do not count; key and value
  // names are compared without regard to case. A key exists when a key line
  // names it or a key below it; HKEY_CURRENT_USER itself always exists.
  // When a key has several key lines or a value several lines, the last
  // value line counts, as when the file is imported; "NAME"=- removes it.
  // For kText, text receives the value (texts in bytes end at their NUL).
  Lookup Find(std::string_view keyPath, std::string_view valueName, std::string& text) const;

  // Sets the text value valueName of the key keyPath (below HKEY_CURRENT_USER),
  // creating the key when it has no key line of its own: the value line that
  // Find reads is replaced, or a line is added after the last value of the
  // key's last key line, or a key line with the value is added at the end (an
  // empty text gets the "REGEDIT4" header first). A text ends at its first
  // NUL, as in the registry; one holding a line break is written as hex(1):
  // bytes. New lines take the text's line end (CR LF when it has none).
  // Throws Exception (a reason) when keyPath or valueName holds a line break.
  void SetString(std::string_view keyPath, std::string_view valueName, std::string_view value);

  // The text that data holds when it is of a text type; false otherwise.
  static bool DecodeText(std::string_view data, std::string& text);

 private:
  struct ValueLine {
    std::string name;
    std::size_t begin;       // start of the value's first line
    std::size_t dataBegin;   // after the "="
    std::size_t contentEnd;  // end of the last line, before its line end
  };
  struct KeyBlock {
    std::size_t pathBegin;  // the path as written
    std::size_t pathEnd;
    std::size_t lastValueEnd;  // after the last value line, or after the key line
    bool currentUser;          // a key of HKEY_CURRENT_USER
    std::string normalPath;    // below HKEY_CURRENT_USER, upper-cased, "\"-joined
    std::vector<ValueLine> values;
  };

  void Index();
  // The last value line named valueName in the key lines of normalPath.
  const ValueLine* FindLine(const std::string& normalPath, std::string_view valueName) const;

  std::string text_;
  std::vector<KeyBlock> blocks_;
};

}  // namespace text
