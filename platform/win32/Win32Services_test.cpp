// The Windows services behind the platform interfaces, run under Wine: the
// real registry below HKEY_CURRENT_USER, the system's upper-casing and the
// queue of posted messages.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Exception.h"
#include "platform/Registry.h"
#include "platform/Window.h"
#include "platform/win32/Win32Native.h"
#include "text/Ansi.h"

namespace {

// A key of its own below HKEY_CURRENT_USER\Software for one test, removed
// with everything below it afterwards.
class RegistryKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FSubKey = "Software\\histrel-tests\\" + std::to_string(GetCurrentProcessId()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    FKeyPath = "\\" + FSubKey + "\\";
  }
  void TearDown() override {
    RegDeleteKeyA(HKEY_CURRENT_USER, FSubKey.c_str());
    // Fails, as it should, while another test's key is still there.
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\histrel-tests");
  }

  void SetRaw(const std::string& AName, DWORD AType, const void* AData, DWORD ASize) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, FSubKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, AName.c_str(), 0, AType, static_cast<const BYTE*>(AData), ASize),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  std::string FSubKey;
  std::string FKeyPath;
};

TEST_F(RegistryKeyTest, MissingKeyIsFalseAndMissingValueIsEmptyText) {
  std::string value = "untouched";
  EXPECT_FALSE(platform::ReadRegistryString(FKeyPath, "USER", value));
  EXPECT_EQ(value, "untouched");
  platform::WriteRegistryString(FKeyPath, "OTHER", "x");
  EXPECT_TRUE(platform::ReadRegistryString(FKeyPath, "USER", value));
  EXPECT_EQ(value, "");
}

TEST_F(RegistryKeyTest, WrittenTextReadsBackByteForByteUnderAnyKeySpelling) {
  const std::string text = "/USER=ann /FILE=c:\\src\\*.pas \xE4\xF6\xFC\xDF \x80";
  platform::WriteRegistryString(FKeyPath, "Switches", text);
  std::string value;
  // Doubled and trailing backslashes in a key path name the same key (a
  // REGPATH typed with its closing backslash); names are compared without
  // regard to case.
  ASSERT_TRUE(platform::ReadRegistryString("\\\\" + FSubKey + "\\\\", "SWITCHES", value));
  EXPECT_EQ(value, text);
  platform::WriteRegistryString(FKeyPath, "switches", "second");
  ASSERT_TRUE(platform::ReadRegistryString(FKeyPath, "Switches", value));
  EXPECT_EQ(value, "second");
}

TEST_F(RegistryKeyTest, ExpandableTextIsTextAndOtherTypesFailNamingTheValue) {
  const char expandable[] = "%TEMP%\\x";
  SetRaw("PATHVALUE", REG_EXPAND_SZ, expandable, sizeof expandable);
  const DWORD number = 42;
  SetRaw("COUNT", REG_DWORD, &number, sizeof number);
  SetRaw("", REG_BINARY, "\x01\x02", 2);

  std::string value;
  ASSERT_TRUE(platform::ReadRegistryString(FKeyPath, "PATHVALUE", value));
  EXPECT_EQ(value, "%TEMP%\\x") << "kept as stored, not expanded";

  const std::vector<std::pair<std::string, std::string>> failures = {
      {"COUNT",
       "The registry value \"COUNT\" of HKEY_CURRENT_USER\\" + FSubKey + " is not a text value"},
      {"", "The registry value \"@\" of HKEY_CURRENT_USER\\" + FSubKey + " is not a text value"},
  };
  for (const auto& [name, message] : failures) {
    try {
      platform::ReadRegistryString(FKeyPath, name, value);
      ADD_FAILURE() << name << " read as text";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), message);
    }
  }
}

TEST(AnsiUpperCaseTest, TableMatchesTheSystemsUpperCasingOfCodePage1252) {
  if (GetACP() != 1252) GTEST_SKIP() << "the ANSI code page is " << GetACP();
  for (int byte = 1; byte < 256; ++byte) {
    char system[2] = {static_cast<char>(byte), 0};
    CharUpperBuffA(system, 1);
    EXPECT_EQ(static_cast<unsigned char>(text::AnsiUpperChar(static_cast<char>(byte))),
              static_cast<unsigned char>(system[0]))
        << "byte " << byte;
  }
}

}  // namespace

namespace {

// A control whose window records the messages it is given.
class RecordingControl : public platform::WinControl {
 public:
  explicit RecordingControl(std::vector<unsigned>* ALog) {
    SetMessageHandler(platform::kUserMessage + 2,
                      [ALog](platform::Message& AMessage) { ALog->push_back(AMessage.number); });
  }
};

TEST(WindowQueueTest, ControlsHaveHiddenWindowsAndPostedMessagesGoThroughTheSystemQueue) {
  std::vector<unsigned> log;
  auto* control = new RecordingControl(&log);
  const HWND window = reinterpret_cast<HWND>(control->Handle());
  ASSERT_TRUE(IsWindow(window));
  EXPECT_FALSE(IsWindowVisible(window));
  ASSERT_TRUE(platform::PostWindowMessage(control->Handle(), platform::kUserMessage + 2, 7, 8));
  MSG queued;
  ASSERT_TRUE(PeekMessageA(&queued, window, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(queued.message, platform::kUserMessage + 2);
  EXPECT_EQ(queued.wParam, 7u);
  platform::ProcessPostedMessages();
  EXPECT_EQ(log, std::vector<unsigned>{platform::kUserMessage + 2});
  EXPECT_FALSE(PeekMessageA(&queued, window, 0, 0, PM_NOREMOVE));

  // Destroyed, its window goes once the queue has passed the messages for it.
  platform::PostWindowMessage(control->Handle(), platform::kUserMessage + 2, 0, 0);
  platform::DisposeControl(control);
  EXPECT_TRUE(IsWindow(window));
  platform::ProcessPostedMessages();
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(log.size(), 1u) << "a message for a destroyed control goes nowhere";
}

}  // namespace

TEST(CommandLineOfTest, KeepsThePiecesOfTheKeptArgumentsAsTheyWereGiven) {
  struct Case {
    std::string raw;
    std::vector<std::string> kept;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"histrel.exe --check /USER=ann /FILE=x.pas",
       {"histrel.exe", "/USER=ann", "/FILE=x.pas"},
       "histrel.exe /USER=ann /FILE=x.pas"},
      {R"("C:\my dir\histrel.exe"  /USER=ann -- a.pas /b.pas)",
       {R"(C:\my dir\histrel.exe)", "/USER=ann"},
       R"("C:\my dir\histrel.exe" /USER=ann)"},
      {R"(histrel.exe "/FILE=a b.pas" --diff)",
       {"histrel.exe", "/FILE=a b.pas"},
       R"(histrel.exe "/FILE=a b.pas")"},
      {R"(histrel.exe /FILE="" --files-from list /USER=ann)",
       {"histrel.exe", "/FILE=", "/USER=ann"},
       R"(histrel.exe /FILE="" /USER=ann)"},
      {R"(histrel.exe /X=a\\\"b\c "/Y=""q" --version)",
       {"histrel.exe", R"(/X=a\"b\c)", R"(/Y="q)"},
       R"(histrel.exe /X=a\\\"b\c "/Y=""q")"},
      // Pieces that do not agree with the arguments: the whole line.
      {"histrel.exe /USER=ann --check",
       {"histrel.exe", "/USER=bob"},
       "histrel.exe /USER=ann --check"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(platform::CommandLineOf(c.raw, c.kept), c.expected) << c.raw;
}
