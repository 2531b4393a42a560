#include "app/uHistrelRegisterSwitches.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Bibliothek/Schalter/uProgramSwitch.h"
#include "app/uHistrelEnglishConstant.h"
#include "tests/HistrelTestSupport.h"
#include "tests/SwitchFixture.h"

namespace {

using testsupport::ConsoleCapture;
using testsupport::SwitchFixture;

struct Registration {
  std::string name;
  TStringList record;
};

std::vector<Registration> Registered() {
  std::vector<Registration> result;
  result.reserve(static_cast<std::size_t>(ProgramSwitch->RegisteredCount()));
  for (int i = 0; i < ProgramSwitch->RegisteredCount(); ++i) {
    result.push_back({ProgramSwitch->RegisteredName(i), ProgramSwitch->RegisteredRecord(i)});
  }
  return result;
}

TEST(HistrelRegisterSwitches, RegistersTheToolsSwitchesInOrderWithTheirEnglishTexts) {
  InitializeHistrelEnglishConstantUnit();
  SwitchFixture fixture("histrel", false);
  ConsoleCapture console;
  InitializeHistrelRegisterSwitchesUnit();
  EXPECT_TRUE(console.Lines.empty());
  const std::vector<Registration> registered = Registered();
  const std::vector<Registration> expected = {
      {"USER",
       {"PEK", "no default value",
        "This switch serves around the user of the program to identify. In addition, the switch "
        "will be written in comments."}},
      {"FILE",
       {"c:\\pek\\*.pas", "no default value",
        "This switch sets the path and perhaps the file this one shall be processed."}},
      {"INSERT",
       {"History", "CVSLOG",
        "This switch serves to find the place in the same file where the formatted comment then "
        "is inserted."}},
      {"RECURSIVE",
       {"+, -", "+", "This switch turns on or off the recursive searching in the subdirectories."}},
      {"KEEPCVS",
       {"+, -", "-", "This switch checks, whether the opening comment shall remain unchanged."}},
      {"KEEPDATE",
       {"+, -", "+",
        "This switch checks, whether the date shall remain unchanged in the evaluated comment."}},
      {"THREADS",
       {"0 - 64", "0",
        "This switch sets how many threads read the files; 0 takes one per processor core, at "
        "most 8."}},
      {"EXTENSIONS",
       {".pas .pp .inc", ".pas .pp .p .inc .dpr .lpr .dpk",
        "This switch sets the extensions by which the sources of a directory named after -- are "
        "known."}},
  };
  ASSERT_EQ(registered.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(registered[i].name, expected[i].name);
    EXPECT_EQ(registered[i].record, expected[i].record) << expected[i].name;
  }
}

TEST(HistrelRegisterSwitches, ARefusedRegistrationIsOneLineAndSkipsTheRest) {
  InitializeHistrelEnglishConstantUnit();
  SwitchFixture fixture("histrel", false);
  ProgramSwitch->Register("insert", "", "", "");
  ConsoleCapture console;
  InitializeHistrelRegisterSwitchesUnit();
  EXPECT_EQ(console.Lines,
            std::vector<std::string>{"Multiple registries from switch INSERT are not possible."});
  std::vector<std::string> names;
  for (const Registration& registration : Registered()) names.push_back(registration.name);
  EXPECT_EQ(names, (std::vector<std::string>{"insert", "USER", "FILE"}));
}

}  // namespace
