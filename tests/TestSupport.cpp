#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "platform/posix/FileCalls.h"
#include "tests/MemoryFileSystem.h"

namespace testsupport {

std::vector<std::string> SplitLines(const std::string& AText) {
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  for (std::string::size_type end; (end = AText.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(AText.substr(start, end - start));
  }
  EXPECT_EQ(start, AText.size()) << "output does not end with LF: " << AText;
  return lines;
}

namespace {

// The file system of the InMemoryFiles that lives, if one does.
MemoryFileSystem* gMemory = nullptr;

}  // namespace

InMemoryFiles::InMemoryFiles()
    : FMemory(std::make_unique<MemoryFileSystem>()),
      FBefore(platform::UseFileCalls(FMemory.get())) {
  gMemory = FMemory.get();
}

InMemoryFiles::~InMemoryFiles() {
  platform::UseFileCalls(FBefore);
  gMemory = nullptr;
}

TempDir::TempDir() {
  if (gMemory != nullptr) {
    static unsigned made = 0;
    FPath = "/tmp/histrel-test-" + std::to_string(++made);
    FInMemory = true;
    gMemory->MakeDirectory(FPath);
    return;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "histrel-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  FPath = pattern;
}

TempDir::~TempDir() {
  // A directory in memory goes with its file system.
  if (FInMemory) return;
  std::error_code ignored;
  // Give back permissions that a test took away, so that everything goes.
  for (auto it = std::filesystem::recursive_directory_iterator(
           FPath, std::filesystem::directory_options::skip_permission_denied, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::permissions(FPath, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(FPath, ignored);
}

ScopedEnvironment::ScopedEnvironment(const char* AName, const char* AValue) : FName(AName) {
  if (const char* old = getenv(AName)) FOld = old;
  if (AValue != nullptr) {
    setenv(AName, AValue, 1);
  } else {
    unsetenv(AName);
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  if (FOld) {
    setenv(FName.c_str(), FOld->c_str(), 1);
  } else {
    unsetenv(FName.c_str());
  }
}

ScopedUmask::ScopedUmask(unsigned AMask) : FOld(umask(static_cast<mode_t>(AMask))) {}

ScopedUmask::~ScopedUmask() { umask(static_cast<mode_t>(FOld)); }

void WriteFile(const std::string& APath, const std::string& AContent) {
  if (gMemory != nullptr) {
    gMemory->WriteFile(APath, AContent);
    return;
  }
  const std::filesystem::path path(APath);
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(APath, std::ios::binary | std::ios::trunc);
  out.write(AContent.data(), static_cast<std::streamsize>(AContent.size()));
  if (!out) throw std::runtime_error("cannot write " + APath);
}

std::string ReadFile(const std::string& APath) {
  if (gMemory != nullptr) {
    std::string content;
    gMemory->ReadFile(APath, content);
    return content;
  }
  std::ifstream in(APath, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool FileExists(const std::string& APath) {
  if (gMemory != nullptr) return gMemory->Exists(APath);
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(APath, ignored));
}

void RemoveFile(const std::string& APath) {
  if (gMemory != nullptr) {
    gMemory->UnlinkAt(AT_FDCWD, APath.c_str(), 0);
    return;
  }
  std::remove(APath.c_str());
}

bool MakeDirectory(const std::string& APath) {
  if (gMemory != nullptr) return gMemory->MakeDirectoryAt(AT_FDCWD, APath.c_str(), 0755) == 0;
  return mkdir(APath.c_str(), 0755) == 0;
}

bool MakeLink(const std::string& ATarget, const std::string& APath) {
  if (gMemory != nullptr) {
    if (gMemory->Exists(APath)) return false;
    gMemory->MakeLink(APath, ATarget);
    return true;
  }
  return symlink(ATarget.c_str(), APath.c_str()) == 0;
}

std::string SystemPath(std::string ANative) {
  for (char& c : ANative) {
    if (c == '/') c = '\\';
  }
  return ANative;
}

std::map<std::string, std::string> Snapshot(const std::string& ATree) {
  if (gMemory != nullptr) return gMemory->Files(ATree);
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(ATree)) {
    if (entry.is_regular_file()) {
      files[std::filesystem::relative(entry.path(), ATree).string()] =
          ReadFile(entry.path().string());
    }
  }
  return files;
}

std::map<std::string, EntryState> EntryStates(const std::string& ADir) {
  std::map<std::string, EntryState> entries;
  for (auto it = std::filesystem::recursive_directory_iterator(ADir);
       it != std::filesystem::recursive_directory_iterator(); ++it) {
    const std::string path = it->path().string();
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) continue;
    EntryState state{"", info.st_mode, info.st_uid, info.st_gid};
    if (S_ISREG(info.st_mode)) state.Content = ReadFile(path);
    if (S_ISLNK(info.st_mode)) state.Content = std::filesystem::read_symlink(path).string();
    entries.emplace(path, state);
  }
  return entries;
}

std::string ProgramUnderTest() {
  const char* program = getenv("HISTREL_TEST_PROGRAM");
  return program != nullptr && *program != '\0' ? program : HISTREL_BINARY;
}

namespace {

bool IsWindowsProgram(const std::string& AProgram) {
  return AProgram.size() > 4 && AProgram.compare(AProgram.size() - 4, 4, ".exe") == 0;
}

}  // namespace

bool UnderWine() { return IsWindowsProgram(ProgramUnderTest()); }

std::string PrivateProgram(const TempDir& ADir) {
  const std::string program =
      ADir / ("bin/" + std::filesystem::path(ProgramUnderTest()).filename().string());
  std::filesystem::create_directories(ADir / "bin");
  std::filesystem::copy_file(ProgramUnderTest(), program,
                             std::filesystem::copy_options::overwrite_existing);
  return program;
}

int RunInChildren(int ACount, const std::function<void(int)>& AWork) {
  std::vector<pid_t> children;
  int failed = 0;
  for (int i = 0; i < ACount; ++i) {
    const pid_t pid = fork();
    if (pid < 0) {
      ++failed;
      continue;
    }
    if (pid == 0) {
      int status = 0;
      try {
        AWork(i);
      } catch (...) {
        status = 1;
      }
      _exit(status);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      ++failed;
    }
  }
  return failed;
}

namespace {

// Runs ASetUp, then AWork, in a child process and gives back its lines, or
// one line saying what went wrong.
std::vector<std::string> LinesOfChild(const std::function<bool()>& ASetUp,
                                      const std::function<std::vector<std::string>()>& AWork) {
  int channel[2];
  if (pipe(channel) != 0) return {"pipe failed"};
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    if (!ASetUp()) _exit(2);
    std::string text;
    for (const std::string& line : AWork()) text += line + "\n";
    const ssize_t written = write(channel[1], text.data(), text.size());
    _exit(written == static_cast<ssize_t>(text.size()) ? 0 : 3);
  }
  close(channel[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) return {"timed out"};
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {"child failed"};
  std::vector<std::string> lines;
  for (std::string::size_type start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

}  // namespace

std::vector<std::string> WithoutPrivileges(const std::function<std::vector<std::string>()>& AWork) {
  return LinesOfChild(
      [] {
        return geteuid() != 0 ||
               (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0);
      },
      AWork);
}

std::vector<std::string> WithinSeconds(unsigned ASeconds,
                                       const std::function<std::vector<std::string>()>& AWork) {
  return LinesOfChild(
      [ASeconds] {
        alarm(ASeconds);
        return true;
      },
      AWork);
}

namespace {

// The command line that starts AProgram with AArguments: a Windows program
// goes through the launcher. The strings must outlive the result.
std::vector<char*> CommandLine(const std::string& AProgram,
                               const std::vector<std::string>& AArguments) {
  std::vector<char*> argv;
  static const std::string launcher = [] {
    const char* value = getenv("HISTREL_TEST_LAUNCHER");
    return std::string(value != nullptr ? value : "");
  }();
  if (IsWindowsProgram(AProgram)) {
    if (launcher.empty()) throw std::runtime_error("HISTREL_TEST_LAUNCHER is not set");
    argv.push_back(const_cast<char*>(launcher.c_str()));
  }
  argv.push_back(const_cast<char*>(AProgram.c_str()));
  for (const std::string& argument : AArguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  return argv;
}

}  // namespace

std::vector<std::string> LaunchWords(const std::string& AProgram) {
  const std::vector<char*> argv = CommandLine(AProgram, {});
  return std::vector<std::string>(argv.begin(), argv.end() - 1);
}

namespace {

// A Windows program ends its lines with CR LF; the tests compare LF lines.
std::string WithLineFeeds(bool AWindows, std::string AText) {
  if (!AWindows) return AText;
  std::string result;
  result.reserve(AText.size());
  for (std::size_t i = 0; i < AText.size(); ++i) {
    if (AText[i] == '\r' && i + 1 < AText.size() && AText[i + 1] == '\n') continue;
    result += AText[i];
  }
  return result;
}

}  // namespace

int Start(const std::string& AProgram, const std::vector<std::string>& AArguments,
          const std::string& AOutput, const std::vector<std::string>& AEnvironment) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (freopen(AOutput.c_str(), "w", stdout) == nullptr ||
        freopen("/dev/null", "w", stderr) == nullptr) {
      _exit(124);
    }
    for (const std::string& setting : AEnvironment) putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> argv = CommandLine(AProgram, AArguments);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

namespace {

std::string Drain(int AFd) {
  std::string result;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(AFd, buffer, sizeof buffer);
    if (n <= 0) break;
    result.append(buffer, static_cast<std::size_t>(n));
  }
  close(AFd);
  return result;
}

}  // namespace

bool IsSummaryLine(const std::string& ALine) {
  static const std::regex summary(
      "histrel: [0-9]+ sources? selected, [0-9]+ (rewritten|to rewrite), [0-9]+ notes? "
      "(collected|to collect), [0-9]+ refused\n");
  return std::regex_match(ALine, summary);
}

RunResult Run(const std::string& AProgram, const std::vector<std::string>& AArguments,
              const std::string& ADirectory, const std::vector<std::string>& AEnvironment,
              const std::optional<std::string>& AInput) {
  // Output goes to temporary files, so that a large output cannot block the
  // child; so does the input, so that the child need not read it all.
  TempDir capture;
  const std::string outPath = capture / "out";
  const std::string errPath = capture / "err";
  const std::string inPath = AInput ? capture / "in" : "/dev/null";
  if (AInput) WriteFile(inPath, *AInput);
  std::vector<char*> argv = CommandLine(AProgram, AArguments);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in = open(inPath.c_str(), O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (!ADirectory.empty() && chdir(ADirectory.c_str()) != 0) _exit(126);
    for (const std::string& setting : AEnvironment) putenv(const_cast<char*>(setting.c_str()));
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  RunResult result;
  result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  // A Windows program may also be started by the one started here (a shell,
  // timeout).
  const bool windows = std::any_of(AArguments.begin(), AArguments.end(), IsWindowsProgram) ||
                       IsWindowsProgram(AProgram);
  result.Out = WithLineFeeds(windows, Drain(open(outPath.c_str(), O_RDONLY)));
  result.Err = WithLineFeeds(windows, Drain(open(errPath.c_str(), O_RDONLY)));
  // histrel's summary, its last line on standard error, is kept apart: most
  // tests look at the messages before it.
  const std::string::size_type last =
      result.Err.size() < 2 ? 0 : result.Err.rfind('\n', result.Err.size() - 2) + 1;
  if (IsSummaryLine(result.Err.substr(last))) {
    result.Summary = result.Err.substr(last, result.Err.size() - last - 1);
    result.Err.erase(last);
  }
  return result;
}

}  // namespace testsupport
