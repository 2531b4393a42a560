// The system's one failure class and the formatting of its messages.
#pragma once

#include <stdexcept>
#include <string>

// A failure that carries a message text. Every failure the system raises is
// one of these; nothing returns error codes.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& AMessage) : std::runtime_error(AMessage) {}
  std::string Message() const { return what(); }
};

// Returns AFormat with its first "%s" replaced by AText; AFormat unchanged
// when it holds no "%s".
std::string FormatText(const std::string& AFormat, const std::string& AText);
