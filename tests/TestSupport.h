// Helpers shared by the tests: temporary directories, whole-file reads and
// writes, and running the built program.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class FileCalls;
}

namespace testsupport {

class MemoryFileSystem;

// While it lives, every file call of the process goes to a file system in
// memory (see MemoryFileSystem.h), and so do TempDir, WriteFile, ReadFile,
// FileExists and Snapshot: a test of the worker's logic runs without the
// kernel. One at a time.
class InMemoryFiles {
 public:
  InMemoryFiles();
  ~InMemoryFiles();
  InMemoryFiles(const InMemoryFiles&) = delete;
  InMemoryFiles& operator=(const InMemoryFiles&) = delete;
  MemoryFileSystem& Memory() { return *FMemory; }

 private:
  std::unique_ptr<MemoryFileSystem> FMemory;
  platform::FileCalls* FBefore;
};

// A fresh directory below the system's temporary directory (in memory while
// an InMemoryFiles lives), removed with everything in it when the object
// goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return FPath; }
  // Path joined with a relative name by "/".
  std::string operator/(const std::string& AName) const { return FPath + "/" + AName; }

 private:
  std::string FPath;
  bool FInMemory = false;
};

// Sets an environment variable (AValue null: removes it) for the life of the
// object, then gives back what was there, so tests in one process stay apart.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* AName, const char* AValue);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string FName;
  std::optional<std::string> FOld;
};

// Sets the process's umask for the life of the object, then gives back the
// one before; the programs that tests start inherit it.
class ScopedUmask {
 public:
  explicit ScopedUmask(unsigned AMask);
  ~ScopedUmask();
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  unsigned FOld;
};

// The lines of a program's standard output, each ended by LF; expects the
// output to end with one.
std::vector<std::string> SplitLines(const std::string& AText);

// Writes bytes to a file, creating missing parent directories.
void WriteFile(const std::string& APath, const std::string& AContent);

// The bytes of a file; empty when it cannot be read.
std::string ReadFile(const std::string& APath);

bool FileExists(const std::string& APath);

// Removes the file APath, if there is one.
void RemoveFile(const std::string& APath);

// Makes the directory APath (its parent must exist); false when it cannot.
bool MakeDirectory(const std::string& APath);

// Makes APath a symbolic link with the text ATarget; false when it cannot.
bool MakeLink(const std::string& ATarget, const std::string& APath);

// A native path written as the tool's users write it, with backslashes.
std::string SystemPath(std::string ANative);

// Every regular file below ATree by its path relative to ATree, with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& ATree);

// What an attack could change of an entry: its bytes (a regular file) or
// link text (a symbolic link), mode, owner and group.
struct EntryState {
  std::string Content;
  unsigned Mode;
  unsigned Owner;
  unsigned Group;
  bool operator==(const EntryState& AOther) const {
    return Content == AOther.Content && Mode == AOther.Mode && Owner == AOther.Owner &&
           Group == AOther.Group;
  }
};

// Every entry below ADir by its path (links not followed), with its state.
std::map<std::string, EntryState> EntryStates(const std::string& ADir);

// The program that the end-to-end tests start: the build's histrel, or the
// one that HISTREL_TEST_PROGRAM names. A Windows build's histrel.exe is run
// through the command that HISTREL_TEST_LAUNCHER names (a script that starts
// Wine in its own prefix); its output is read with LF line ends.
std::string ProgramUnderTest();

// Whether the program under test is the Windows build, run under Wine.
bool UnderWine();

// The words that start AProgram from a shell: the launcher first for a
// Windows program.
std::vector<std::string> LaunchWords(const std::string& AProgram);

// A private copy of the program under test in ADir/bin, so that no INI file
// beside the build's program takes part; returns its path.
std::string PrivateProgram(const TempDir& ADir);

// Runs AWork(0) .. AWork(ACount - 1) in ACount forked child processes at
// once and waits for all of them; returns how many failed (threw or died).
int RunInChildren(int ACount, const std::function<void(int)>& AWork);

// Runs AWork (which returns lines) in a child process as an ordinary user
// (nobody) when the tests run as root, who may read and write anything, so
// that tests of refused access run for root too. Returns the lines, or one
// line saying what went wrong.
std::vector<std::string> WithoutPrivileges(const std::function<std::vector<std::string>()>& AWork);

// Runs AWork (which returns lines) in a child process that is killed after
// ASeconds, so that a test of something that must not hang ends either way.
// Returns the lines, or one line saying what went wrong ("timed out").
std::vector<std::string> WithinSeconds(unsigned ASeconds,
                                       const std::function<std::vector<std::string>()>& AWork);

// Starts AProgram with AArguments and the environment changed by
// AEnvironment ("NAME=value" entries) without waiting; its standard output
// goes to AOutput (a file path), standard error to /dev/null.
int Start(const std::string& AProgram, const std::vector<std::string>& AArguments,
          const std::string& AOutput = "/dev/null",
          const std::vector<std::string>& AEnvironment = {});

// The result of running a program.
struct RunResult {
  int ExitCode;
  std::string Out;
  // Standard error, less histrel's summary line when that is its last line.
  std::string Err;
  // That summary line, without its line end; empty when there is none.
  std::string Summary;
};

// Whether ALine (with its LF) is the summary line histrel ends a run with.
bool IsSummaryLine(const std::string& ALine);

// Runs AProgram with AArguments in ADirectory (empty: the current one) and
// the environment changed by AEnvironment ("NAME=value" entries), waits for it
// and collects its output. Standard input gives the bytes of AInput, or
// nothing (/dev/null) without them.
RunResult Run(const std::string& AProgram, const std::vector<std::string>& AArguments,
              const std::string& ADirectory = "", const std::vector<std::string>& AEnvironment = {},
              const std::optional<std::string>& AInput = std::nullopt);

}  // namespace testsupport

// Skips the rest of a test of the program when it is the Windows build under
// Wine, with the reason in the test's summary line.
#define SKIP_UNDER_WINE(AReason)                                             \
  do {                                                                       \
    if (testsupport::UnderWine()) GTEST_SKIP() << "under Wine: " << AReason; \
  } while (false)
