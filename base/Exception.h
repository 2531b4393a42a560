// The one failure class of the whole system and the formatting of its
// messages. It stands below every other unit: text/ and platform/ raise it
// as support/, Bibliothek/ and app/ do.
//
// Who reports failures how:
// - platform/ answers with status where its caller decides what a failure
//   means: queries and single steps (IsDirectory, CreateDirectory,
//   AtomicFile::Commit, the stores' errno codes) return a bool, an enum or
//   an errno value. Where the operation it stands for raises, so does it:
//   reading and writing an open text file, and the INI and registry
//   services, throw Exception. Its messages name the path or the value
//   concerned (never just "file") and give the system's reason.
// - The units above it (support/, Bibliothek/, app/) report every failure
//   by throwing Exception with the system's own message texts; none
//   returns an error code.
#pragma once

#include <stdexcept>
#include <string>

// A failure that carries a message text. Every failure the system raises is
// one of these.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& AMessage) : std::runtime_error(AMessage) {}
  std::string Message() const { return what(); }
};

// Returns AFormat with its first "%s" replaced by AText; AFormat unchanged
// when it holds no "%s".
std::string FormatText(const std::string& AFormat, const std::string& AText);

// The failure of an assertion in the code: a condition its author held to be
// always true was false. The message names the source file and the line.
class EAssertionFailed : public Exception {
 public:
  // ASourceFile as __FILE__ gives it; only its name goes into the message.
  EAssertionFailed(const std::string& ASourceFile, int ALine);
};
