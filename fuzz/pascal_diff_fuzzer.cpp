// Rewrites generated Pascal sources, with the date fixed, and checks the
// result with a reader of Pascal of its own (fuzz/PascalTokens.h), which
// shares nothing with the worker's scanner:
// (a) a rewritten source has the same code tokens as before, under the
//     Delphi and under the Free Pascal reading of comments and strings;
// (b) a second run on the result changes neither the source nor the log;
// (c) a source that was UTF-8 (holding a byte outside ASCII) stays UTF-8,
//     and so does its log;
// (d) after a rewrite no note is left outside the history comment;
// (e) a refused source keeps its bytes and gets no log;
// and a run says nothing but a refusal with its reason.
//
// The input is no source but drives a generator that builds one from the
// pieces where Pascal and the notes meet: words holding the marker text,
// literals holding comment openers and doubled quotes, char constants,
// multi-line strings of both compilers, nested comments of both kinds,
// directives, every way of writing the marker and the notes, texts and users
// in UTF-8 and Windows-1252, lone CRs and mixed line ends, a byte order mark,
// a NUL byte and a Ctrl-Z tail. Sources stay small, so that a run is quick.
//
// Byte 0 chooses the user (bits 0-3), KEEPCVS (bit 4), KEEPDATE off (bit 5)
// and the INSERT text (bits 6-7); every further piece takes one byte for its
// kind and one or two for its variant.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "app/uHistrel.h"
#include "app/uHistrelConstants.h"
#include "app/uHistrelEnglishConstant.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzTree.h"
#include "fuzz/PascalTokens.h"

namespace {

using pascaltokens::Compiler;

std::string gDirectory;
std::string gSource;
std::string gLog;

struct Settings {
  std::string user;
  std::string insertText = "CVSLOG";
  bool keepCvs = false;
  bool keepDate = true;
};

// What one run would have written.
struct Outcome {
  std::vector<std::string> output;
  std::string source;
  bool replaced = false;
  bool logWritten = false;
  std::string log;
};

// What a failed check shows besides its line: the texts of the input, as C
// escapes, so that a finding can be read and made a test.
std::vector<std::pair<std::string, std::string>> gShown;

std::string Escaped(const std::string& AText) {
  std::string escaped;
  for (const char c : AText) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\r') {
      escaped += "\\r";
    } else if (c == '\\' || c == '"') {
      escaped += '\\';
      escaped += c;
    } else if (byte < 32 || byte >= 127) {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02x", byte);
      escaped += code;
    } else {
      escaped += c;
    }
  }
  return escaped;
}

void Show(const std::string& AName, const std::string& AText) { gShown.emplace_back(AName, AText); }

[[noreturn]] void Failed(int ALine) {
  for (const auto& shown : gShown) {
    std::fprintf(stderr, "%s: \"%s\"\n", shown.first.c_str(), Escaped(shown.second).c_str());
  }
  FuzzCheckFailed(ALine);
  std::abort();
}

#define EXPECT(condition) \
  if (!(condition)) Failed(__LINE__)

platform::LocalDate FixedDate() { return platform::LocalDate{2026, 12, 9}; }

// Runs the worker on the source on disk, keeping what it would write.
Outcome Run(const std::string& AContent, const Settings& ASettings) {
  THistrel histrel(FixedDate);
  histrel.SetPath(fuzztree::SystemDirectory(gDirectory));
  histrel.SetFileName("*.pas");
  histrel.SetUser(ASettings.user);
  histrel.SetInsertText(ASettings.insertText);
  histrel.SetKeepCVS(ASettings.keepCvs);
  histrel.SetKeepDate(ASettings.keepDate);
  histrel.SetReadThreads(1);
  fuzztree::OneSourceOutput output(gSource, gLog, AContent);
  histrel.SetOutput(&output);
  Outcome outcome;
  outcome.output = fuzztree::Execute(histrel);
  outcome.source = std::move(output.source);
  outcome.replaced = output.replaced;
  outcome.logWritten = output.logWritten;
  outcome.log = std::move(output.log);
  return outcome;
}

// Whether ALine is AFormat with some text in place of its "%s".
bool Matches(const std::string& ALine, const std::string& AFormat) {
  const std::string::size_type argument = AFormat.find("%s");
  if (argument == std::string::npos) return ALine == AFormat;
  const std::size_t tail = AFormat.size() - argument - 2;
  return ALine.size() >= AFormat.size() - 2 &&
         ALine.compare(0, argument, AFormat, 0, argument) == 0 &&
         ALine.compare(ALine.size() - tail, tail, AFormat, argument + 2, tail) == 0;
}

// The refusal a run ended with: 0 none, 1 code would change, 2 the marker
// cannot take the history. Any other output fails the check: a run into
// memory writes nothing on standard output but a refusal and its reason.
int Refusal(const std::vector<std::string>& AOutput) {
  if (AOutput.empty()) return 0;
  // The reason line is optional: the worker may leave it to its caller.
  const bool reasonOk =
      AOutput.size() == 1 || (AOutput.size() == 2 && (AOutput[1] == "error: " + SReasonCodeChange ||
                                                      AOutput[1] == "error: " + SReasonMarker));
  if (reasonOk && Matches(AOutput[0], SRewriteChangesCode)) return 1;
  if (reasonOk && Matches(AOutput[0], SMarkerCannotTakeHistory)) return 2;
  for (const std::string& line : AOutput) Show("output", line);
  Failed(__LINE__);
}

// Builds a source from the fuzz bytes.
class Generator {
 public:
  Generator(const std::uint8_t* AData, std::size_t ASize) : FData(AData), FSize(ASize) {}

  bool More() const { return FAt < FSize && FText.size() < kMaxSize; }
  unsigned Byte() { return FAt < FSize ? FData[FAt++] : 0; }
  template <std::size_t N>
  const char* Pick(const char* const (&AChoices)[N]) {
    return AChoices[Byte() % N];
  }

  std::string Source() {
    if (Byte() % 8 == 0) FText = "\xEF\xBB\xBF";
    while (More()) Piece();
    return FText;
  }

 private:
  static constexpr std::size_t kMaxSize = 400;

  std::string LineEnd() {
    static const char* const kEnds[] = {"\n", "\n", "\r\n", "\r"};
    return Pick(kEnds);
  }

  // A note's text: ASCII, UTF-8 or Windows-1252, with comment openers and
  // closers now and then.
  std::string NoteText() {
    static const char* const kTexts[] = {
        "fix",
        "two words",
        "caf\xC3\xA9 \xC3\xBC",
        "caf\xE9 \xFC",
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
        "\xF0\x9F\x98\x80 ok",
        "\xC3\xA9 text",
        "\xC2\xA7note",
        "a (* b",
        "c *) d",
        "e { f",
        "CVSLOG here",
        "// CVS* inner",
        "'quote",
        "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa \xE2\x8C\x9A\xE2\x8C\x9A",
        "",
    };
    return Pick(kTexts);
  }

  // What may stand between two pieces.
  std::string Separator() {
    static const char* const kSeparators[] = {" ", "", "\t", "  "};
    switch (Byte() % 4) {
      case 0:
        return LineEnd();
      case 1:
        return "";
      default:
        return Pick(kSeparators);
    }
  }

  std::string Marker() {
    static const char* const kMarkers[] = {
        "{CVSLOG}", "{ CVSLOG }",       "(*CVSLOG*)", "(* CVSLOG *)",    "{CVSLOG",   "// CVSLOG",
        "{cvslog}", "{CVSLOG History}", "{ Log }",    "{CVSLOG '*)' x}", "(* CVSLOG",
    };
    std::string marker = Pick(kMarkers);
    if (marker == "{CVSLOG" || marker == "(* CVSLOG") {
      marker += LineEnd() + (marker[0] == '{' ? "}" : "*)");
    }
    return marker;
  }

  std::string Note() {
    const std::string text = NoteText();
    switch (Byte() % 9) {
      case 0:
        return "{CVS* " + text + "}";
      case 1:
        return "{CVS*}";
      case 2:
        return "{CVS*" + text + "}";
      case 3:
        return "// CVS* " + text;
      case 4:
        return "//CVS*" + text;
      case 5: {
        const std::string end = LineEnd();
        return "{CVS* " + text + end + "  " + NoteText() + "}";
      }
      case 6: {
        const std::string end = LineEnd();
        return "{ block" + end + "  // CVS* " + text + LineEnd() + "}";
      }
      case 7: {
        const std::string end = LineEnd();
        return "(* block" + end + "// CVS* " + text + LineEnd() + "*)";
      }
      default:
        return "{CVS* " + text + "} {CVS* " + NoteText() + "}";
    }
  }

  // What may stand inside a multi-line string.
  std::string StringLine() {
    switch (Byte() % 4) {
      case 0:
        return "  " + Note();
      case 1:
        return "  " + Marker();
      case 2:
        return "  text ' '' {";
      default:
        return "";
    }
  }

  void Piece() {
    static const char* const kWords[] = {
        "begin",
        "end;",
        "x := 1;",
        "ecInsertCVSLog = 80;",
        "CVS_x",
        "unit u;",
        "program p;",
        "end.",
        "writeln(42);",
        "const",
        "var s: string;",
        "a[1] := b*c/d;",
        "CVSLOG",
        "(",
        ")",
        "*",
        "Log",
        "z := (a);",
    };
    static const char* const kLiterals[] = {
        "'{CVS* x}'", "'(*'",        "'//'",     "'it''s'", "'*)'", "'}'",
        "'{'",        "'// CVS* y'", "'CVSLOG'", "''''",    "''",   "'a''{CVSLOG}'''",
    };
    static const char* const kChars[] = {"#13#10", "#$1A", "#39", "#123'x'#125"};
    static const char* const kComments[] = {
        "{ { } }", "(* (* *) *)", "{ (* }", "(* { *)",     "{ a { b } c }",
        "(*)*)",   "{}",          "(**)",   "{ (* a *) }", "(* { a } *)",
    };
    static const char* const kDirectives[] = {
        "{$mode objfpc}",
        "{$mode delphi}",
        "(*$H+*)",
        "{$I x}",
        "{$IFDEF X}{CVS* d}{$ENDIF}",
        "{$modeswitch multilinestrings}",
        "{$CVSLOG}",
    };
    static const char* const kTails[] = {"\x1A", "\x1A{CVS* after}\n", "\x1A\x1A x"};
    std::string piece;
    switch (Byte() % 16) {
      case 0:
      case 1:
        piece = Pick(kWords);
        break;
      case 2:
        piece = Pick(kLiterals);
        break;
      case 3:
        piece = Pick(kChars);
        break;
      case 4: {
        const std::string quotes = Byte() % 4 == 0 ? "'''''" : "'''";
        piece = "const S = " + quotes + LineEnd();
        for (int line = 0; line < 2; ++line) {
          piece += StringLine();
          piece += LineEnd();
        }
        piece += "  " + quotes + ";";
        break;
      }
      case 5:
        piece = "{$modeswitch multilinestrings}" + LineEnd();
        piece += "const T = `" + StringLine();
        piece += LineEnd();
        piece += StringLine() + "`;";
        break;
      case 6:
        piece = Pick(kComments);
        break;
      case 7:
        piece = Pick(kDirectives);
        break;
      case 8:
      case 9:
        piece = Marker();
        break;
      case 10:
      case 11:
      case 12:
        piece = Note();
        break;
      case 13:
        piece = LineEnd();
        break;
      case 14:
        piece = Byte() % 4 == 0 ? std::string(1, '\0') : Pick(kTails);
        break;
      default:
        piece = std::string(1, static_cast<char>(Byte()));
        break;
    }
    FText += piece;
    FText += Separator();
  }

  const std::uint8_t* FData;
  std::size_t FSize;
  std::size_t FAt = 0;
  std::string FText;
};

// The most "CVS*" that one line (ended by an LF) holds.
std::size_t MostNotesOnALine(const std::string& AText) {
  std::size_t most = 0;
  std::size_t line = 0;
  while (line <= AText.size()) {
    std::size_t end = AText.find('\n', line);
    if (end == std::string::npos) end = AText.size();
    std::size_t count = 0;
    for (std::size_t at = AText.find("CVS*", line); at < end; at = AText.find("CVS*", at + 1)) {
      ++count;
    }
    most = std::max(most, count);
    line = end + 1;
  }
  return most;
}

bool HoldsNonAscii(const std::string& AText) {
  for (const char c : AText) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

// The notes both compilers see in comments, outside the history comment.
std::vector<std::size_t> NotesLeft(const std::string& AText, const std::string& AInsert) {
  const std::vector<std::size_t> delphi = pascaltokens::Notes(AText, Compiler::Delphi, AInsert);
  const std::vector<std::size_t> fpc = pascaltokens::Notes(AText, Compiler::FreePascal, AInsert);
  std::vector<std::size_t> both;
  for (const std::size_t at : delphi) {
    for (const std::size_t other : fpc) {
      if (at == other) both.push_back(at);
    }
  }
  return both;
}

// The oracle on texts whose reading is known: one that went wrong would let
// the checks below pass anything.
void CheckOracle() {
  const auto tokens = [](const std::string& AText, Compiler ACompiler) {
    std::string joined;
    for (const std::string& token : pascaltokens::Read(AText, ACompiler).tokens) joined += token;
    return joined;
  };
  const Compiler d = Compiler::Delphi;
  const Compiler f = Compiler::FreePascal;
  CHECK(tokens("unit  U;\r\n{x}\r\ninterface", d) == "unit U; interface");
  CHECK(tokens("a{x}b(*y*)c//z\rd", d) == "a b c d");
  CHECK(tokens("x:=1;", d) == "x:=1;" && tokens("x := 1 ;", d) == "x := 1 ;");
  CHECK(tokens("{ { } } x", d) == "} x" && tokens("{ { } } x", f) == "x");
  CHECK(tokens("(* (* *) *) x", d) == "*) x" && tokens("(* (* *) *) x", f) == "x");
  CHECK(tokens("{ (* } a *) b", f) == "a *) b" && tokens("(* { *) a } b", f) == "a } b");
  CHECK(tokens("(*) a *) b", f) == "b" && tokens("(*)*) c", d) == "c");
  CHECK(tokens("(* a (*) b", f) == "b" && tokens("(* (**) *) c", f) == "c");
  CHECK(tokens("a{$I {x} b(*$H+*)c", f) == "a{$I {x} b(*$H+*)c");
  CHECK(tokens("s := '{CVS* x}'+'(*'+'it''s'", f) == "s := '{CVS* x}'+'(*'+'it''s'");
  CHECK(tokens("c := #13#10;", d) == "c := #13#10;");
  CHECK(tokens("S = '''\n {CVS* a}\n x '''';\n  ''';", d) ==
        "S = '''\n {CVS* a}\n x '''';\n  ''';");
  CHECK(tokens("S = '''\n {CVS* a}\n  ''';", f) == "S = ''' ''';");
  CHECK(tokens("S = '''''\r\n'''\r\n '''''x", d) == "S = '''''\r\n'''\r\n '''''x");
  CHECK(!pascaltokens::Read("S = '''\n a\n ''''';\n", d).open);
  CHECK(tokens("{$modeswitch multilinestrings}T=`a\n{b}`", f) ==
        "{$modeswitch multilinestrings}T=`a\n{b}`");
  CHECK(tokens("{$modeswitch multilinestrings}T=`a\n{b}`", d) ==
        "{$modeswitch multilinestrings}T=`a\n{b}`");
  CHECK(tokens("T=`{a}`", f) == "T=`{a}`" && tokens("T=`'`{a}x", d) == "T=`'` x");
  CHECK(tokens("a\x1A b", d) == "a" && tokens("a'b\nc", d) == "a'b c");
  CHECK(pascaltokens::Read("a { { }", f).open && !pascaltokens::Read("a { { }", d).open);
  CHECK(pascaltokens::Read("a (*) b", d).open && !pascaltokens::Read("a // b", d).open);
  CHECK(pascaltokens::Read("a 'b", d).open && !pascaltokens::Read("a 'b'", d).open);
  const auto notes = [](const std::string& AText, Compiler ACompiler) {
    return pascaltokens::Notes(AText, ACompiler, "CVSLOG");
  };
  using Offsets = std::vector<std::size_t>;
  CHECK(notes("{CVS* a} x '{CVS* b}'\n  // CVS* c\nx // CVS* d\n", d) == (Offsets{0, 24}));
  CHECK(notes("{CVSLOG\n// CVS* a\n}\n{ x\n//CVS*b\n}", d) == (Offsets{24}));
  CHECK(notes("{ a { CVSLOG }\n// CVS* n\n}", d) == (Offsets{15}));
  CHECK(notes("{ a { CVSLOG }\n// CVS* n\n}", f) == (Offsets{}));
  CHECK(notes("(* (* *)\n// CVS* a\n*) {CVS* b}", f) == (Offsets{9, 22}));
  CHECK(notes("\xEF\xBB\xBF// CVS* a\n{cvs* b}", d) == (Offsets{3}));
  CHECK(notes("x\r// CVS* a\n{CVS* b}\x1A{CVS* c}", d) == (Offsets{12}));
  CHECK(pascaltokens::IsUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80") && !pascaltokens::IsUtf8("caf\xE9"));
  CHECK(!pascaltokens::IsUtf8("\xC0\xAF") && !pascaltokens::IsUtf8("\xED\xA0\x80") &&
        !pascaltokens::IsUtf8("\xF4\x90\x80\x80") && !pascaltokens::IsUtf8("\xE6\x97"));
  // The generator makes what its bytes say.
  const std::uint8_t pieces[] = {1, 0, 2, 2, 0, 8, 1, 0, 1, 10, 0, 0, 1};
  CHECK(Generator(pieces, sizeof pieces).Source() == "x := 1; { CVSLOG }\n{CVS* fix}");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitializeHistrelEnglishConstantUnit();
  gDirectory = "/pascal";
  fuzztree::Reset(gDirectory);
  gSource = fuzztree::SystemDirectory(gDirectory) + "Unit1.pas";
  gLog = gSource + ".cvs";
  CheckOracle();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  if (ASize < 2) return 0;
  static const char* const kUsers[] = {
      "qa",
      "a(*b",
      "c*)d",
      "a}{b",
      "e{f",
      "j\xC3\xB6rg",
      "j\xF6rg",
      "\xC3\xA9",
      "\xE6\x97\xA5\xE6\x9C\xAC",
      "\xF0\x9F\x98\x80",
      "Ren\xE9",
      "x",
      "two words",
      "a//b",
      "(*",
      "*)",
  };
  static const char* const kInserts[] = {"CVSLOG", "CVSLOG", "cvslog", "Log"};
  Settings settings;
  settings.user = kUsers[AData[0] & 15];
  settings.keepCvs = (AData[0] & 16) != 0;
  settings.keepDate = (AData[0] & 32) == 0;
  settings.insertText = kInserts[AData[0] >> 6];
  const std::string content = Generator(AData + 1, ASize - 1).Source();
  gShown.clear();
  Show("user", settings.user);
  Show("insert", settings.insertText);
  Show("keep", std::string(settings.keepCvs ? "KEEPCVS+" : "KEEPCVS-") +
                   (settings.keepDate ? " KEEPDATE+" : " KEEPDATE-"));
  Show("source", content);

  // A line gives at most one note: one left behind a note on its line is
  // taken by the next run. Each run on the way must hold as the first does.
  const std::size_t runs = 1 + MostNotesOnALine(content);
  const pascaltokens::Reading code[] = {pascaltokens::Read(content, Compiler::Delphi),
                                        pascaltokens::Read(content, Compiler::FreePascal)};
  fuzztree::Reset(gDirectory);
  std::string source = content;
  std::string log;
  bool logExists = false;
  for (std::size_t run = 0;; ++run) {
    EXPECT(fuzztree::WriteFile(gDirectory + "/Unit1.pas", source));
    if (logExists) EXPECT(fuzztree::WriteFile(gDirectory + "/Unit1.pas.cvs", log));
    const Outcome outcome = Run(source, settings);
    const std::string name = "run " + std::to_string(run + 1);
    if (outcome.replaced) Show(name + " source", outcome.source);
    if (outcome.logWritten) Show(name + " log", outcome.log);
    // (e) A refusal writes nothing.
    if (Refusal(outcome.output) != 0) {
      EXPECT(!outcome.replaced && !outcome.logWritten);
      return 0;
    }
    // (b) Once every note was taken, a run finds nothing more to do.
    const bool changed = outcome.replaced || outcome.logWritten;
    if (!changed) break;
    EXPECT(run < runs);
    if (outcome.replaced) {
      // (a) Only comments changed, as either compiler reads the text.
      EXPECT(pascaltokens::Read(outcome.source, Compiler::Delphi) == code[0]);
      EXPECT(pascaltokens::Read(outcome.source, Compiler::FreePascal) == code[1]);
      // (d) Every note was taken.
      if (run + 1 == runs) EXPECT(NotesLeft(outcome.source, settings.insertText).empty());
    }
    // (c) UTF-8 stays UTF-8: the text before a Ctrl-Z, which alone tells
    // the encoding, and the log.
    const auto text = [](const std::string& AFile) { return AFile.substr(0, AFile.find('\x1A')); };
    if (pascaltokens::IsUtf8(text(source)) && HoldsNonAscii(text(source))) {
      EXPECT(pascaltokens::IsUtf8(text(outcome.source)) && pascaltokens::IsUtf8(outcome.log));
    }
    source = outcome.source;
    log += outcome.log;
    logExists = logExists || outcome.logWritten;
  }
  return 0;
}
