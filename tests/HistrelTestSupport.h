// Helpers for the tests of the history worker: captured console lines, a
// fixed date, system paths and running the worker as the program run does.
#pragma once

#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "app/uHistrel.h"
#include "base/Exception.h"
#include "platform/Console.h"
#include "tests/TestSupport.h"

namespace testsupport {

// Collects every console line while it lives.
class ConsoleCapture : public platform::ConsoleSink {
 public:
  ConsoleCapture() : FPrevious(platform::SetConsoleSink(this)) {}
  ~ConsoleCapture() override { platform::SetConsoleSink(FPrevious); }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;
  void WriteLine(const std::string& ALine) override {
    Lines.push_back(ALine);
    InOrder.push_back(ALine);
  }
  void WriteErrorLine(const std::string& ALine) override {
    ErrorLines.push_back(ALine);
    InOrder.push_back("error: " + ALine);
  }

  std::vector<std::string> Lines;
  std::vector<std::string> ErrorLines;
  // Both kinds in the order written, error lines behind "error: ".
  std::vector<std::string> InOrder;

 private:
  platform::ConsoleSink* FPrevious;
};

// Makes ADirectory the current directory while it lives.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::string& ADirectory) {
    char buffer[4096];
    if (getcwd(buffer, sizeof buffer) == nullptr) throw std::runtime_error("getcwd failed");
    FPrevious = buffer;
    if (chdir(ADirectory.c_str()) != 0) throw std::runtime_error("chdir failed");
  }
  ~CurrentDirectory() {
    if (chdir(FPrevious.c_str()) != 0) {
      // Nothing sensible is left to do in a destructor.
    }
  }
  CurrentDirectory(const CurrentDirectory&) = delete;
  CurrentDirectory& operator=(const CurrentDirectory&) = delete;

 private:
  std::string FPrevious;
};

// Every "\n" of AText made CR LF: the line ends of what the tool writes.
inline std::string WithCrLf(const std::string& AText) {
  std::string result;
  for (char c : AText) {
    if (c == '\n') result += '\r';
    result += c;
  }
  return result;
}

inline TDateSource FixedDate(int AYear, int AMonth, int ADay) {
  return [=] { return platform::LocalDate{AYear, AMonth, ADay}; };
}

// Runs Execute as the program run does: a failure's message is written on
// standard output as the last line.
inline void ExecuteReportingFailure(THistrel& AHistrel) {
  try {
    AHistrel.Execute();
  } catch (const Exception& failure) {
    platform::WriteLine(failure.Message());
  }
}

// The lines written on standard output by ExecuteReportingFailure.
inline std::vector<std::string> ExecuteCapturing(THistrel& AHistrel) {
  ConsoleCapture capture;
  ExecuteReportingFailure(AHistrel);
  return capture.Lines;
}

}  // namespace testsupport
