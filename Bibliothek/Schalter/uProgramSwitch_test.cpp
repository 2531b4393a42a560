#include "Bibliothek/Schalter/uProgramSwitch.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "Bibliothek/Schalter/uProgramSwitchConstant.h"
#include "app/uHistrelEnglishConstant.h"
#include "base/Exception.h"
#include "support/uStringRoutines.h"
#include "tests/SwitchFixture.h"
#include "tests/TestSupport.h"

namespace {

using testsupport::SwitchFixture;

TEST(ReadPiece, TakesSectionNameAndValueApart) {
  struct Case {
    std::string piece, section, name, value;
  };
  const std::vector<Case> cases = {
      {"USER=bob", "PARAMETERS", "USER", "bob"},
      {"user=Bob", "PARAMETERS", "USER", "Bob"},
      {"RECURSIVE+", "PARAMETERS", "RECURSIVE", "+"},
      {"RECURSIVE-", "PARAMETERS", "RECURSIVE", "-"},
      {"RECURSIVE=+", "PARAMETERS", "RECURSIVE", "+"},
      {"RECURSIVE", "PARAMETERS", "RECURSIVE", ""},
      {"NAME = abc", "PARAMETERS", "NAME", "abc"},
      {"USER:bob", "PARAMETERS", "USER:BOB", ""},
      {"[MACROS].HOME=c:\\src", "MACROS", "HOME", "c:\\src"},
      {"[ Macros ].Home=x", "MACROS", "HOME", "x"},
      {"NAME=value[S]", "S", "NAME", "value[S]"},
      {"WRITEINI=[Parameters]", "PARAMETERS", "WRITEINI", "[Parameters]"},
      {"WRITEINI=[Resources]", "RESOURCES", "WRITEINI", "[Resources]"},
      {"A=b]", "", "A", "b]"},
      {"FILE=\"c:\\my src\\x.pas\"", "PARAMETERS", "FILE", "\"c:\\my src\\x.pas\""},
      {"?", "PARAMETERS", "?", ""},
      {"[X", "PARAMETERS", "[X", ""},
      {"]", "", "]", ""},
      {"", "PARAMETERS", "", ""},
  };
  for (const Case& c : cases) {
    const TSwitchPiece piece = ReadPiece(c.piece);
    EXPECT_EQ(piece.Section, c.section) << c.piece;
    EXPECT_EQ(piece.Name, c.name) << c.piece;
    EXPECT_EQ(piece.Value, c.value) << c.piece;
  }
}

// The pieces as the word routines define them, one ExtractWord per piece.
TStringList PiecesByWordRoutines(const std::string& ARaw) {
  TStringList pieces;
  const std::int32_t count = WordCount(ARaw, {'/'});
  for (std::int32_t i = 1; i <= count; ++i) pieces.push_back(Trim(ExtractWord(ARaw, {'/'}, i)));
  return pieces;
}

TEST(SplitPieces, AgreesWithTheWordRoutines) {
  const std::vector<std::string> fixed = {"",  "/",   "//a//b/",       " /a/ ",          "  ",
                                          "a", "/ /", "\t/x=1/ y /\t", "/USER=a /USER=b"};
  for (const std::string& raw : fixed)
    EXPECT_EQ(SplitPieces(raw), PiecesByWordRoutines(raw)) << raw;
  std::mt19937 random(7);
  const std::string alphabet = "/ a=\t[]%+-";
  for (int round = 0; round < 2000; ++round) {
    std::string raw;
    const int length = static_cast<int>(random() % 12);
    for (int i = 0; i < length; ++i) raw += alphabet[random() % alphabet.size()];
    ASSERT_EQ(SplitPieces(raw), PiecesByWordRoutines(raw)) << "'" << raw << "'";
  }
}

TEST(ApplicationTitle, IsTheFileNameUpToItsFirstDotWithOneCapital) {
  EXPECT_EQ(ApplicationTitle("C:\\Tools\\HISTREL.EXE"), "Histrel");
  EXPECT_EQ(ApplicationTitle("/usr/local/bin/histrel"), "Histrel");
  EXPECT_EQ(ApplicationTitle("/x/my.tool.bin"), "My");
}

TEST(BasisParameter, ReadsTextNumbersAndYesNo) {
  EXPECT_TRUE(TBasisParameter("+").AsBoolean());
  for (const char* text : {"-", "on", "1", "yes", "+ ", ""}) {
    EXPECT_FALSE(TBasisParameter(text).AsBoolean()) << text;
  }
  EXPECT_EQ(TBasisParameter("12").AsInteger(), 12);
  EXPECT_EQ(TBasisParameter("-7").AsInteger(), -7);
  EXPECT_EQ(TBasisParameter("$1F").AsInteger(), 31);
  EXPECT_DOUBLE_EQ(TBasisParameter("2.5").AsFloat(), 2.5);
  for (const char* text : {"abc", "", "12abc", "99999999999", "1 2"}) {
    try {
      (void)TBasisParameter(text).AsInteger();
      ADD_FAILURE() << "no failure for " << text;
    } catch (const Exception& failure) {
      EXPECT_EQ(failure.Message().rfind(SFormatError, 0), 0u) << failure.Message();
    }
  }
  EXPECT_THROW((void)TBasisParameter("x1").AsFloat(), Exception);
  const TNULLParameter null;
  EXPECT_EQ(null.AsString(), "");
  EXPECT_EQ(null.AsInteger(), 0);
  EXPECT_EQ(null.AsFloat(), 0.0);
  EXPECT_FALSE(null.AsBoolean());
}

TEST(AsInteger, FailsWithTheEnglishPrefixOnceTheTextsAreEnglish) {
  InitializeHistrelEnglishConstantUnit();
  try {
    (void)TBasisParameter("abc").AsInteger();
    FAIL();
  } catch (const Exception& failure) {
    EXPECT_EQ(failure.Message().rfind("The format of section and parameter is not validly!", 0),
              0u);
  }
}

std::string Read(const std::string& ACommandLine, const std::string& AName,
                 const std::string& ASection = "", const std::string& ADefault = "") {
  SwitchFixture fixture(ACommandLine);
  return ProgramSwitch->GetSwitch(AName, ASection, ADefault)->AsString();
}

TEST(GetSwitch, ReadsTheCommandLineByThePieceRules) {
  struct Case {
    std::string commandLine, name, value;
  };
  const std::vector<Case> cases = {
      {"prog /USER=bob /FILE=c:\\src\\*.pas", "USER", "bob"},
      {"prog /USER=bob /FILE=c:\\src\\*.pas", "FILE", "c:\\src\\*.pas"},
      {"prog /user=Bob", "USER", "Bob"},
      {"prog /USER=a /USER=b", "USER", "a"},  // the first occurrence wins
      {"prog /USER= /USER=b", "USER", ""},    // even when it is empty
      {"prog /USER /USER=b", "USER", ""},
      {"prog /FILE=c:/src/x.pas", "FILE", "c:"},  // a "/" always starts a piece
      {"prog /FILE=\"c:\\a b\"", "FILE", "\"c:\\a b\""},
      {"prog /?", "?", "+"},
      {"prog /?-", "?", "+"},
      {"prog USER=bob", "USER", ""},  // nothing before the first "/" counts
      {"C:\\Tools\\histrel.exe /USER=x", "USER", "x"},
      {"prog /USER:bob", "USER", ""},
      {"prog ///", "USER", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Read(c.commandLine, c.name), c.value) << c.commandLine;
}

TEST(GetSwitch, ReadsYesNoSwitches) {
  SwitchFixture fixture("prog /A+ /B=+ /C- /D=on /E");
  EXPECT_TRUE(ProgramSwitch->GetSwitch("A")->AsBoolean());
  EXPECT_TRUE(ProgramSwitch->GetSwitch("b")->AsBoolean());
  EXPECT_FALSE(ProgramSwitch->GetSwitch("C")->AsBoolean());
  EXPECT_FALSE(ProgramSwitch->GetSwitch("D")->AsBoolean());
  EXPECT_EQ(ProgramSwitch->GetSwitch("E")->AsString(), "");
}

TEST(GetSwitch, ExpandsMacros) {
  struct Case {
    std::string commandLine, value;
  };
  const std::vector<Case> cases = {
      {"p /[MACROS].SRC=c:\\src /FILE=%SRC%\\*.pas", "c:\\src\\*.pas"},
      {"p /FILE=%SRC%\\*.pas", ""},  // a macro given nowhere empties the value
      {"p /[MACROS].HOME=%ROOT%\\src /[MACROS].ROOT=c: /FILE=%HOME%", "c:\\src"},
      {"p /[MACROS].X=%X% /FILE=a%X%b", ""},  // a cycle ends after ten passes
      {"p /FILE=50%", "50%"},
      {"p /FILE=a%b%c", ""},
      {"p /[MACROS].B=1 /FILE=a%b%c%b%d", "a1c1d"},
      {"p /[MACROS].A=%B%%B% /[MACROS].B=x /FILE=%A%-%A%", "xx-xx"},
      {"p /[MACROS].E= /FILE=%E%x", ""},
      // Self-references that multiply the value end like a cycle, quickly.
      {"p /[MACROS].X=%X%%X%%X%ab /FILE=%X%", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Read(c.commandLine, "FILE"), c.value) << c.commandLine;
}

TEST(GetSwitch, GivesUpAnExpansionAtTheMacroLimits) {
  struct Case {
    std::string commandLine;
    std::size_t references, length;
    std::string value;
  };
  const std::string twice = "p /[MACROS].B=1 /FILE=a%b%c%b%d";
  const std::string nested = "p /[MACROS].A=%B%%B% /[MACROS].B=x /FILE=%A%-%A%";
  const std::vector<Case> cases = {
      // The length counts on the way: "a1c%b%d" is the longest.
      {twice, 2, 7, "a1c1d"},  // both limits just reached
      {twice, 1, 7, ""},       // the second reference is one too many
      {twice, 2, 6, ""},       // the value outgrows the length on the way
      {nested, 6, 13, "xx-xx"}, {nested, 5, 13, ""},
      {nested, 6, 12, ""},      {"p /[MACROS].X=%X%%X%%X%ab /FILE=%X%", 100, 1000, ""},
  };
  for (const Case& c : cases) {
    SwitchFixture fixture(c.commandLine);
    ProgramSwitch->SetMacroLimits(c.references, c.length);
    EXPECT_EQ(ProgramSwitch->GetSwitch("FILE")->AsString(), c.value)
        << c.commandLine << " " << c.references << " " << c.length;
  }
}

TEST(GetSwitch, FallsBackToTheDefaultOrTheNullValue) {
  SwitchFixture fixture("prog /USER=bob");
  EXPECT_EQ(ProgramSwitch->GetSwitch("X", "", "d")->AsString(), "d");
  TBasisParameter* null = ProgramSwitch->GetSwitch("X");
  EXPECT_EQ(null->AsString(), "");
  EXPECT_EQ(null->AsInteger(), 0);
  EXPECT_FALSE(null->AsBoolean());
  EXPECT_EQ(ProgramSwitch->GetSwitch("Y"), null);  // the one null value
  EXPECT_EQ(ProgramSwitch->GetSwitch("USER", "", "d")->AsString(), "bob");
}

TEST(GetSwitch, LooksUpOtherSectionsOnly) {
  SwitchFixture fixture("prog /[Res].USER=inres /USER=plain");
  EXPECT_EQ(ProgramSwitch->GetSwitch("user", "res")->AsString(), "inres");
  EXPECT_EQ(ProgramSwitch->GetSwitch("USER", "PARAMETERS")->AsString(), "plain");
  EXPECT_EQ(ProgramSwitch->GetSwitch("USER", "OTHER")->AsString(), "");
}

TEST(GetSwitch, ReadsMalformedAndHugeCommandLinesByTheSameRules) {
  // Every byte but NUL once: "/" (47) cuts the text into two pieces, neither
  // of them FILE, and the name of the second ends before its "=" (61), so
  // the "?" (63) behind it is no switch either.
  std::string bytes = "p /";
  for (int c = 1; c < 256; ++c) bytes += static_cast<char>(c);
  struct Case {
    std::string commandLine;
    std::string file;
    bool help;
  };
  const std::vector<Case> cases = {
      {"", "", false},
      {"/", "", false},
      {"////", "", false},
      {"p /[", "", false},
      {"p /]", "", false},
      {"p /[[]]", "", false},
      {"p /%%%%%", "", false},
      {"p /FILE=%", "%", false},  // one "%" is no reference
      {"p /?=[", "", true},
      {bytes, "", false},
      // The first reference names the empty macro, which is given nowhere.
      {"p /FILE=" + std::string(100000, '%'), "", false},
      {"p " + std::string(100000, '/'), "", false},
      {"p /FILE=" + std::string(50000, 'x') + std::string(50000, '/'), std::string(50000, 'x'),
       false},
  };
  for (const Case& c : cases) {
    SwitchFixture fixture(c.commandLine);
    const std::string shown = c.commandLine.substr(0, 40);
    EXPECT_EQ(ProgramSwitch->GetSwitch("FILE")->AsString(), c.file) << shown;
    EXPECT_EQ(ProgramSwitch->GetSwitch("?")->AsBoolean(), c.help) << shown;
  }
  std::string many = "p";
  for (int i = 0; i < 20000; ++i) many += " /[MACROS].M" + std::to_string(i) + "=v";
  many += " /FILE=%M19999%%M0%";
  EXPECT_EQ(Read(many, "FILE"), "vv");
}

TEST(GetSwitch, ReplacesTheValueObjectOfTheSameSwitchOnly) {
  SwitchFixture fixture("prog /A=1 /B=2 /[S].A=3");
  TBasisParameter* a = ProgramSwitch->GetSwitch("A");
  TBasisParameter* b = ProgramSwitch->GetSwitch("B");
  TBasisParameter* sa = ProgramSwitch->GetSwitch("A", "S");
  // b and sa stay valid (and owned) while A is looked up again.
  TBasisParameter* a2 = ProgramSwitch->GetSwitch("a");
  EXPECT_EQ(a2->AsString(), "1");
  EXPECT_EQ(b->AsString(), "2");
  EXPECT_EQ(sa->AsString(), "3");
  (void)a;
}

TEST(Register, RefusesASecondRegistrationOfANameInAnyCase) {
  SwitchFixture fixture("prog", false);
  ProgramSwitch->Register("USER", "PEK", "no default value", "who");
  for (const char* name : {"USER", "user"}) {
    try {
      ProgramSwitch->Register(name, "o", "d", "x");
      ADD_FAILURE() << name;
    } catch (const Exception& failure) {
      EXPECT_EQ(failure.Message(), FormatText(SMultipleRegistration, name));
    }
  }
  ASSERT_EQ(ProgramSwitch->RegisteredCount(), 1);
  EXPECT_EQ(ProgramSwitch->RegisteredKey(0), "/USER");
  EXPECT_EQ(ProgramSwitch->RegisteredRecord(0), (TStringList{"PEK", "no default value", "who"}));
}

TEST(Register, GivesBareNamesAndSectionsOfKeys) {
  SwitchFixture fixture("prog", false);
  ProgramSwitch->Register("USER", "", "", "");
  ProgramSwitch->Register("[Macros].HOME", "", "", "");
  ProgramSwitch->RegisterHidden("[Res].SECRET", "o", "d", "x");
  EXPECT_EQ(ProgramSwitch->RegisteredName(0), "USER");
  EXPECT_EQ(ProgramSwitch->RegisteredSection(0), "PARAMETERS");
  EXPECT_EQ(ProgramSwitch->RegisteredName(1), "HOME");
  EXPECT_EQ(ProgramSwitch->RegisteredSection(1), "Macros");
  EXPECT_EQ(ProgramSwitch->HiddenKey(0), "/[Res].SECRET");
  EXPECT_EQ(ProgramSwitch->HiddenName(0), "SECRET");
  EXPECT_EQ(ProgramSwitch->HiddenSection(0), "Res");
  EXPECT_THROW(ProgramSwitch->RegisterHidden("user", "", "", ""), Exception);
}

TEST(ProgramSwitchUnit, RegistersTheNineStandardSwitchesInOrder) {
  InitializeHistrelEnglishConstantUnit();
  SwitchFixture fixture("histrel");
  const std::vector<std::string> keys = {"/REGOFF",   "/INIOFF",   "/CMDOFF",
                                         "/REGPATH",  "/INIPATH",  "/INIFILE",
                                         "/WRITEINI", "/WRITEREG", "/SHOWHIDDEN"};
  ASSERT_EQ(ProgramSwitch->RegisteredCount(), 9);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(ProgramSwitch->RegisteredKey(i), keys[i]);
  EXPECT_EQ(
      ProgramSwitch->RegisteredRecord(0),
      (TStringList{"+, -", "-", "This switch switches the readout from the registry in or out."}));
  EXPECT_EQ(ProgramSwitch->RegisteredRecord(3).at(1), "\\Software\\TAVIK\\Histrel\\");
  // The program directory is a path text, which a "/" would cut.
  EXPECT_EQ(ProgramSwitch->RegisteredRecord(4).at(1),
            testsupport::SystemPath(fixture.ProgramDir()) + "\\");
  EXPECT_EQ(ProgramSwitch->RegisteredRecord(5).at(1), "histrel.ini");
  EXPECT_EQ(ProgramSwitch->RegisteredRecord(6).at(1), "no default value");
  EXPECT_EQ(ProgramSwitch->RegisteredRecord(8).at(1), "off");
}

TEST(OffSwitches, CmdOffTurnsTheCommandLineOffForLaterLookUps) {
  SwitchFixture fixture("prog /CMDOFF+ /USER=bob");
  EXPECT_FALSE(ProgramSwitch->CommandOn());
  EXPECT_TRUE(ProgramSwitch->IniOn());
  EXPECT_TRUE(ProgramSwitch->RegistryOn());
  EXPECT_EQ(ProgramSwitch->GetSwitch("USER")->AsString(), "");
}

TEST(PathSwitches, MoveTheIniFileAndTheRegistryKey) {
  struct Case {
    std::string commandLine, iniPath, iniFile, registryPath;
  };
  const std::vector<Case> cases = {
      {"p /INIPATH=c:\\cfg /INIFILE=tool", "c:\\cfg\\", "tool.ini", ""},
      // A path that ends in its separator (as WRITEINI writes the places) keeps one.
      {"p /INIPATH=c:\\cfg\\", "c:\\cfg\\", "histrel.ini", ""},
      {"p /INIPATH=c:\\", "c:\\", "histrel.ini", ""},
      {"p /REGPATH=\\Software\\Other\\", "", "histrel.ini", "\\Software\\Other\\"},
      {"p /INIFILE=tool.ini", "", "tool.ini", ""},
      {"p /INIFILE=tool.INI", "", "tool.INI.ini", ""},
      {"p /REGPATH=\\Software\\Other", "", "histrel.ini", "\\Software\\Other\\"},
      {"p /INIOFF+ /INIPATH=c:\\cfg /INIFILE=x", "", "histrel.ini", ""},
      {"p /REGOFF+ /REGPATH=\\Software\\Other", "", "histrel.ini", ""},
  };
  for (const Case& c : cases) {
    SwitchFixture fixture(c.commandLine);
    const std::string iniPath =
        c.iniPath.empty() ? testsupport::SystemPath(fixture.ProgramDir()) + "\\" : c.iniPath;
    const std::string registryPath =
        c.registryPath.empty() ? "\\Software\\TAVIK\\Histrel\\" : c.registryPath;
    EXPECT_EQ(ProgramSwitch->IniParameter().FIniPath, iniPath) << c.commandLine;
    EXPECT_EQ(ProgramSwitch->IniParameter().FIniFileName, c.iniFile) << c.commandLine;
    EXPECT_EQ(ProgramSwitch->RegistryParameter().FRegistryPath, registryPath) << c.commandLine;
  }
}

}  // namespace
