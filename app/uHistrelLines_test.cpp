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

}  // namespace
