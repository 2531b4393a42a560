#include "base/Exception.h"

std::string FormatText(const std::string& AFormat, const std::string& AText) {
  const std::string::size_type at = AFormat.find("%s");
  if (at == std::string::npos) return AFormat;
  std::string result = AFormat;
  result.replace(at, 2, AText);
  return result;
}

namespace {

std::string AssertionMessage(const std::string& ASourceFile, int ALine) {
  const std::string::size_type slash = ASourceFile.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? ASourceFile : ASourceFile.substr(slash + 1);
  return "Assertion failed (" + name + ", line " + std::to_string(ALine) + ")";
}

}  // namespace

EAssertionFailed::EAssertionFailed(const std::string& ASourceFile, int ALine)
    : Exception(AssertionMessage(ASourceFile, ALine)) {}
