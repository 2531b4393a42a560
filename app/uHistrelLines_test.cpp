#include "app/uHistrelLines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The entry's lines in blocks behave as a list of strings, short and long
// lines alike, whatever is taken back and appended again.
TEST(THistoryLines, KeepsEveryLineAsAppendedAndGivesTheLastBack) {
  THistoryLines lines;
  std::vector<std::string> expected;
  const std::string longLine(3 << 20, 'w');
  for (int round = 0; round < 3; ++round) {
    for (const std::string& line :
         {std::string("{"), std::string(), longLine, std::string(80, 'a'), std::string("tail")}) {
      lines.push_back(std::string(line));
      expected.push_back(line);
    }
    EXPECT_EQ(lines.pop_back(), expected.back());
    expected.pop_back();
    std::string big = lines.pop_back() + "more";
    expected.pop_back();
    lines.push_back(std::move(big));
    expected.push_back(std::string(80, 'a') + "more");
    lines.insert(1, "second");
    expected.insert(expected.begin() + 1, "second");
    ASSERT_EQ(lines.Copy(), expected) << round;
  }
  lines.clear();
  EXPECT_TRUE(lines.empty());
  lines.push_back(std::string_view("x"));
  EXPECT_EQ(lines.Copy(), std::vector<std::string>{"x"});
}

// An entry is compared with a text however the text is cut into slices:
// equal exactly when the bytes are, the trimmed lines and their ends.
TEST(TLogEntryComparison, MatchesTheEntryInAnySlicesAndNothingElse) {
  THistoryLines lines;
  for (const char* line : {"header", "  ann 2026.12.08 first ", "", "\tsecond"}) {
    lines.push_back(std::string_view(line));
  }
  const TLogEntry entry(lines, lines.size(), "\r\n");
  const std::string exact = "ann 2026.12.08 first\r\n\r\nsecond\r\n";
  ASSERT_EQ(entry.Size(), exact.size());
  const auto compare = [&](const std::string& AText, std::size_t ASlice) {
    TLogEntryComparison comparison(entry);
    for (std::size_t at = 0; at < AText.size(); at += ASlice) {
      if (!comparison.Feed(std::string_view(AText).substr(at, ASlice))) return false;
    }
    return comparison.Complete();
  };
  for (const std::size_t slice : {std::size_t{1}, std::size_t{3}, std::size_t{64}}) {
    SCOPED_TRACE(slice);
    EXPECT_TRUE(compare(exact, slice));
    EXPECT_FALSE(compare(exact.substr(0, exact.size() - 1), slice));
    EXPECT_FALSE(compare(exact + "x", slice));
    EXPECT_FALSE(compare("ann 2026.12.08 first\n\r\nsecond\r\n", slice));
    EXPECT_FALSE(compare("  ann 2026.12.08 first \r\n\r\n\tsecond\r\n", slice));
  }
}

}  // namespace
