#include "platform/Exception.h"

std::string FormatText(const std::string& AFormat, const std::string& AText) {
  const std::string::size_type at = AFormat.find("%s");
  if (at == std::string::npos) return AFormat;
  std::string result = AFormat;
  result.replace(at, 2, AText);
  return result;
}
