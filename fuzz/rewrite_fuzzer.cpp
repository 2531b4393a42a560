// Collects the marked comments of arbitrary sources and rewrites them, with
// the date fixed, in every way the worker can read a source: line by line,
// held in memory, streamed through a buffer of a few bytes, and streamed with
// the kernel copying plain stretches. All must give the same new source, log
// and output, whatever the line ends, lone CRs, Ctrl-Z tails and history
// comments; a source whose text holds no "CVS*", or that holds a NUL byte,
// must stay untouched.
//
// Each input is run the default way (held in memory) into memory, as a
// preview does, and once more in the way the input chooses, either into
// memory too or writing the files, which must then hold what the memory run
// made, with nothing else left behind. Only the source is written per input.
// A source that a run rewrites keeps its code, as the compiler reads it with
// and without nested brace comments, read here apart from the worker; a run
// that refuses to rewrite writes nothing.
//
// Input: byte 0 chooses KEEPCVS (bit 0), KEEPDATE off (bit 1), the insert
// text (bits 2-3: "CVSLOG", the first line of the rest, empty, "cvslog"),
// the user (bits 4-5) and whether the second run writes the files (bit 6);
// byte 1 the size of the small buffer (bits 0-5) and the way of the second
// run (bits 6-7: line by line, held, the small buffer, a 4 KB buffer); the
// rest is the source.
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/uHistrel.h"
#include "app/uHistrelConstants.h"
#include "app/uHistrelEnglishConstant.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzTree.h"

namespace {

std::string gDirectory;
std::string gSource;
std::string gLog;

struct Settings {
  bool keepCvs;
  bool keepDate;
  std::string insertText;
  std::string user;
};

// What one run left behind, or would have.
struct Outcome {
  std::vector<std::string> output;
  std::string source;
  bool logExists = false;
  std::string log;
  bool replaced = false;
  bool operator==(const Outcome& AOther) const {
    return output == AOther.output && source == AOther.source && logExists == AOther.logExists &&
           log == AOther.log && replaced == AOther.replaced;
  }
};

void Configure(THistrel& AHistrel, const Settings& ASettings, const TSourceReading& AReading) {
  AHistrel.SetPath(fuzztree::SystemDirectory(gDirectory));
  AHistrel.SetFileName("*.pas");
  AHistrel.SetUser(ASettings.user);
  AHistrel.SetInsertText(ASettings.insertText);
  AHistrel.SetKeepCVS(ASettings.keepCvs);
  AHistrel.SetKeepDate(ASettings.keepDate);
  AHistrel.SetSourceReading(AReading);
  // One file: workers reading ahead have nothing to do (walk_fuzzer.cpp
  // checks them).
  AHistrel.SetReadThreads(1);
}

platform::LocalDate FixedDate() { return platform::LocalDate{2003, 6, 2}; }

// A run that writes into memory; the source on disk holds AContent.
Outcome RunInMemory(THistrel& AHistrel, const std::string& AContent, const Settings& ASettings,
                    const TSourceReading& AReading) {
  Configure(AHistrel, ASettings, AReading);
  fuzztree::OneSourceOutput output(gSource, gLog, AContent);
  AHistrel.SetOutput(&output);
  Outcome outcome;
  outcome.output = fuzztree::Execute(AHistrel);
  AHistrel.SetOutput(nullptr);
  outcome.source = std::move(output.source);
  outcome.replaced = output.replaced;
  outcome.logExists = output.logWritten;
  outcome.log = std::move(output.log);
  return outcome;
}

// A run that writes the files; the source on disk holds AContent. The line
// that announces the source is left out, as a run into memory has none.
Outcome RunOnFiles(THistrel& AHistrel, const std::string& AContent, const Settings& ASettings,
                   const TSourceReading& AReading) {
  const std::string source = gDirectory + "/Unit1.pas";
  const struct stat before = fuzztree::Memory().StatusOf(source);
  CHECK(S_ISREG(before.st_mode));
  Configure(AHistrel, ASettings, AReading);
  Outcome outcome;
  outcome.output = fuzztree::Execute(AHistrel);
  CHECK(!outcome.output.empty() && outcome.output.front() == gSource);
  outcome.output.erase(outcome.output.begin());
  const struct stat after = fuzztree::Memory().StatusOf(source);
  CHECK(S_ISREG(after.st_mode));
  outcome.replaced = before.st_ino != after.st_ino;
  CHECK(fuzztree::ReadFile(source, outcome.source));
  outcome.logExists = fuzztree::ReadFile(source + ".cvs", outcome.log);
  if (!outcome.replaced) CHECK(outcome.source == AContent);
  // Nothing else is left behind, no temporary file in particular.
  for (const std::string& name : fuzztree::Names(gDirectory)) {
    CHECK(name == "Unit1.pas" || name == "Unit1.pas.cvs");
  }
  return outcome;
}

// Whether the text of AContent, as reading gives it, holds "CVS*": reading
// ends at a Ctrl-Z, and a CR is a byte of its line.
bool TextHoldsMarker(const std::string& AContent) {
  return AContent.substr(0, AContent.find('\x1A')).find("CVS*") != std::string::npos;
}

// What the compiler reads in a text, worked out here on its own rather than
// with the worker's scanner, so that a fault shared by the rewrite and its
// proof still shows: the code, and whether the text ends inside a brace or
// "(* *)" comment, which the compiler rejects.
struct Reading {
  std::string code;
  bool openComment = false;
  bool operator==(const Reading& AOther) const {
    return code == AOther.code && openComment == AOther.openComment;
  }
};

// The code of AText up to its first Ctrl-Z: literals and directives as they
// are, the other bytes above blank as they are, and one blank for each run
// of blanks, line ends and comments between two of them, none in front of
// the first. With ANested a "{" inside a brace comment opens a nested one.
Reading ReadCode(const std::string& AText, bool ANested) {
  const std::string text = AText.substr(0, AText.find('\x1A'));
  const std::size_t size = text.size();
  const std::size_t npos = std::string::npos;
  Reading reading;
  bool separated = false;
  const auto append = [&](std::size_t AFrom, std::size_t ATo) {
    if (separated && !reading.code.empty()) reading.code += ' ';
    reading.code.append(text, AFrom, ATo - AFrom);
    separated = false;
  };
  // Just behind a closer found at AClose, ALength bytes long; npos when
  // none was found.
  const auto behind = [&](std::size_t AClose, std::size_t ALength) {
    return AClose == npos ? npos : AClose + ALength;
  };
  std::size_t at = 0;
  while (at < size) {
    const unsigned char byte = static_cast<unsigned char>(text[at]);
    const char next = at + 1 < size ? text[at + 1] : '\0';
    std::size_t end = at + 1;
    if (byte <= 32) {
      separated = true;
    } else if (byte == '\'') {
      // A literal ends at its closing quote, or without one at a line end.
      end = text.find_first_of("'\r\n", at + 1);
      if (end == npos) {
        end = size;
      } else if (text[end] == '\'') {
        ++end;
      }
      append(at, end);
    } else if (byte == '{' && next == '$') {
      end = behind(text.find('}', at + 2), 1);
      append(at, end == npos ? size : end);
    } else if (byte == '(' && next == '*' && at + 2 < size && text[at + 2] == '$') {
      end = behind(text.find("*)", at + 3), 2);
      append(at, end == npos ? size : end);
    } else if (byte == '{') {
      if (ANested) {
        std::size_t depth = 0;
        end = npos;
        for (std::size_t k = at + 1; k < size; ++k) {
          if (text[k] == '{') {
            ++depth;
          } else if (text[k] == '}' && depth-- == 0) {
            end = k + 1;
            break;
          }
        }
      } else {
        end = behind(text.find('}', at + 1), 1);
      }
      reading.openComment = end == npos;
      separated = true;
    } else if (byte == '(' && next == '*') {
      // The "*" of "(*" closes nothing: "(*)" is still open.
      end = behind(text.find("*)", at + 2), 2);
      reading.openComment = end == npos;
      separated = true;
    } else if (byte == '/' && next == '/') {
      end = text.find_first_of("\r\n", at + 2);
      separated = true;
    } else {
      append(at, end);
    }
    at = end == npos ? size : end;
  }
  return reading;
}

// Whether ALine is one of the texts with which a run refuses to write a
// source (its argument in place of "%s").
bool IsRefusal(const std::string& ALine) {
  for (const std::string* refusal : {&SRewriteChangesCode, &SMarkerCannotTakeHistory}) {
    const std::string::size_type argument = refusal->find("%s");
    if (argument == std::string::npos) continue;
    const std::string before = refusal->substr(0, argument);
    const std::string after = refusal->substr(argument + 2);
    if (ALine.size() > before.size() + after.size() &&
        ALine.compare(0, before.size(), before) == 0 &&
        ALine.compare(ALine.size() - after.size(), after.size(), after) == 0) {
      return true;
    }
  }
  return false;
}

// The readings above, on texts whose code is known: a reading that went
// wrong would let the property below hold for any rewrite.
void CheckReadings() {
  const auto code = [](const std::string& AText, bool ANested) {
    return ReadCode(AText, ANested).code;
  };
  CHECK(code(" \t unit  U;\r\n{note}\r\ninterface ", false) == "unit U; interface");
  CHECK(code("a{x}b", false) == "a b" && code("a(*x*)b", false) == "a b");
  CHECK(code("{ { } } x", false) == "} x" && code("{ { } } x", true) == "x");
  CHECK(code("a{$I x}b(*$I y*)c", false) == "a{$I x}b(*$I y*)c");
  CHECK(code("{$I {x} {y} z", true) == "{$I {x} z");
  CHECK(code("s := '{CVS* x}' + '(*';", true) == "s := '{CVS* x}' + '(*';");
  CHECK(code("a // b\rc // d\ne", false) == "a c e");
  CHECK(code("x := 'it''s\ny", false) == "x := 'it''s y");
  CHECK(code("(*) a *) b (**) c", false) == "b c");
  CHECK(code("{ (* } a *) b", false) == "a *) b" && code("(* { *) a } b", true) == "a } b");
  CHECK(code("a\x1A b", false) == "a" && code("a / b ( c", false) == "a / b ( c");
  CHECK(ReadCode("a { { }", true).openComment && !ReadCode("a { { }", false).openComment);
  CHECK(ReadCode("a (*) b", false).openComment && !ReadCode("a // b", false).openComment);
  CHECK(!ReadCode("a {$I x", false).openComment && code("a {$I x", false) == "a {$I x");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitializeHistrelEnglishConstantUnit();
  CheckReadings();
  gDirectory = "/rewrite";
  fuzztree::Reset(gDirectory);
  gSource = fuzztree::SystemDirectory(gDirectory) + "Unit1.pas";
  gLog = gSource + ".cvs";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const unsigned flags = data[0];
  const std::size_t smallBuffer = 1 + data[1] % 64;
  std::string content(reinterpret_cast<const char*>(data) + 2, size - 2);
  static const char* const kUsers[] = {"qa", "dev", "a-rather-long-user-name", "x"};
  Settings settings{(flags & 1) != 0, (flags & 2) == 0, "CVSLOG", kUsers[(flags >> 4) & 3]};
  switch ((flags >> 2) & 3) {
    case 1: {
      const std::string::size_type end = content.find('\n');
      settings.insertText = content.substr(0, end == std::string::npos ? 0 : end);
      if (end != std::string::npos) content.erase(0, end + 1);
      break;
    }
    case 2:
      settings.insertText = "";
      break;
    case 3:
      settings.insertText = "cvslog";
      break;
    default:
      break;
  }
  const TSourceReading ways[] = {
      TSourceReading{true, 0, std::size_t{256} * 1024},
      TSourceReading{},
      TSourceReading{false, 0, smallBuffer},
      TSourceReading{false, 0, 4096},
  };

  // A run that wrote the files left a log, perhaps a rewritten source.
  static bool wroteFiles = true;
  static std::string onDisk;
  if (wroteFiles) {
    fuzztree::Reset(gDirectory);
    CHECK(fuzztree::WriteFile(gDirectory + "/Unit1.pas", content));
    onDisk = content;
  } else if (content != onDisk) {
    CHECK(fuzztree::WriteFile(gDirectory + "/Unit1.pas", content));
    onDisk = content;
  }
  // One worker does both runs, as one run of the tool walks many files with
  // one; its buffers are then made once per input.
  THistrel histrel(FixedDate);
  const Outcome expected = RunInMemory(histrel, content, settings, TSourceReading{});
  // Without "CVS*", or with a NUL byte anywhere, a file is left as it is.
  if (!TextHoldsMarker(content) || content.find('\0') != std::string::npos) {
    CHECK(!expected.replaced && !expected.logExists && expected.source == content);
  }
  // A run that rewrites a source leaves its code as it was, under both
  // readings of nested braces; when it would not, the run refuses and
  // writes nothing.
  for (const std::string& line : expected.output) {
    if (IsRefusal(line)) CHECK(!expected.replaced && !expected.logExists);
  }
  if (expected.replaced) {
    CHECK(ReadCode(expected.source, false) == ReadCode(content, false));
    CHECK(ReadCode(expected.source, true) == ReadCode(content, true));
  }
  const TSourceReading& way = ways[data[1] >> 6];
  wroteFiles = (flags & 0x40) != 0;
  if (wroteFiles) {
    CHECK(RunOnFiles(histrel, content, settings, way) == expected);
  } else {
    CHECK(RunInMemory(histrel, content, settings, way) == expected);
  }
  return 0;
}
