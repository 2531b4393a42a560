// What the fuzzers of the worker share: a file system in memory that every
// file call of the process goes to, the files in it, and runs of the worker
// whose lines and rewrites are kept for comparison. Nothing reaches the
// kernel, so an input costs what the worker costs.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "app/uHistrel.h"
#include "fuzz/FuzzCheck.h"
#include "platform/posix/FileCalls.h"
#include "tests/HistrelTestSupport.h"
#include "tests/MemoryFileSystem.h"

namespace fuzztree {

// The file system of the process, made on first use.
inline testsupport::MemoryFileSystem& Memory() {
  static testsupport::MemoryFileSystem* memory = [] {
    auto* made = new testsupport::MemoryFileSystem();  // lives as long as the process
    platform::UseFileCalls(made);
    return made;
  }();
  return *memory;
}

// Empties the file system and makes the directory APath in it again.
inline void Reset(const std::string& APath) {
  Memory() = testsupport::MemoryFileSystem();
  Memory().MakeDirectory(APath);
}

// The path as the worker takes it: backslashes, with a trailing one.
inline std::string SystemDirectory(const std::string& ANativePath) {
  std::string path = ANativePath + "/";
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// Creates or replaces the file APath; false when that is not possible (a
// directory of that name, say).
inline bool WriteFile(const std::string& APath, const std::string& AContent) {
  const struct stat info = Memory().StatusOf(APath);
  if (S_ISDIR(info.st_mode)) return false;
  Memory().WriteFile(APath, AContent);
  return true;
}

inline bool ReadFile(const std::string& APath, std::string& AContent) {
  AContent.clear();
  return Memory().ReadFile(APath, AContent);
}

// The names in the directory APath, "." and ".." left out.
inline std::vector<std::string> Names(const std::string& APath) { return Memory().Names(APath); }

// Every entry below APath with its kind and bytes ("name=bytes", "name
// (link)"), sorted, behind what AFiles holds.
inline void Snapshot(const std::string& APath, const std::string& ARelative,
                     std::vector<std::string>& AFiles) {
  std::vector<std::string> found;
  for (const std::string& name : Memory().Names(APath)) {
    const std::string path = APath + "/" + name;
    const struct stat info = Memory().StatusOf(path);
    if (S_ISDIR(info.st_mode)) {
      Snapshot(path, ARelative + name + "/", found);
    } else if (S_ISREG(info.st_mode)) {
      std::string content;
      CHECK(ReadFile(path, content));
      found.push_back(ARelative + name + "=" + content);
    } else {
      found.push_back(ARelative + name + " (link)");
    }
  }
  std::sort(found.begin(), found.end());
  AFiles.insert(AFiles.end(), found.begin(), found.end());
}

// Keeps what the worker would write instead of writing it, in order.
class Recorder : public THistrelOutput {
 public:
  void SourceRewritten(const std::string& ASource, const std::string& ATarget,
                       std::string&& ANewText) override {
    events.push_back("source " + ASource + " -> " + ATarget + "\n" + ANewText);
  }
  void LogAppended(const std::string& ALog, std::string&& ALines) override {
    events.push_back("log " + ALog + "\n" + ALines);
  }
  std::vector<std::string> events;
};

// Keeps what the worker would write of one source and its log, in memory,
// as a preview does; any other file is a fault.
class OneSourceOutput : public THistrelOutput {
 public:
  OneSourceOutput(std::string ASource, std::string ALog, std::string AContent)
      : source(std::move(AContent)), sourceName_(std::move(ASource)), logName_(std::move(ALog)) {}
  void SourceRewritten(const std::string& ASource, const std::string& ATarget,
                       std::string&& ANewText) override {
    CHECK(ASource == sourceName_ && ATarget == sourceName_ && !replaced);
    replaced = true;
    source = std::move(ANewText);
  }
  void LogAppended(const std::string& ALog, std::string&& ALines) override {
    CHECK(ALog == logName_);
    logWritten = true;
    log += ALines;
  }
  // The source's text, new once replaced; what its log was given.
  std::string source;
  bool replaced = false;
  bool logWritten = false;
  std::string log;

 private:
  std::string sourceName_;
  std::string logName_;
};

// Runs the worker and gives every line it wrote, warnings among them where
// they were written, its failure last.
inline std::vector<std::string> Execute(THistrel& AHistrel) {
  testsupport::ConsoleCapture capture;
  testsupport::ExecuteReportingFailure(AHistrel);
  return capture.InOrder;
}

}  // namespace fuzztree
