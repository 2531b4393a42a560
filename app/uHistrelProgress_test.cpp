// The summary and progress lines of a run, and when the progress line is
// drawn: only after a second, at most ten times a second, removed at the end.
#include "app/uHistrelProgress.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using std::chrono::milliseconds;
using Lines = std::vector<std::string>;

TEST(HistrelProgress, TheLinesCountInWordsOfTheRunOrOfAPreview) {
  struct Case {
    THistrel::TTally tally;
    bool preview;
    std::string summary;
    std::string progress;
  };
  const std::vector<Case> cases = {
      {{true, 3, 1, 2, 0},
       false,
       "histrel: 3 sources selected, 1 rewritten, 2 notes collected, 0 refused",
       "histrel: 3 sources scanned, 1 rewritten"},
      {{true, 1, 1, 1, 1},
       true,
       "histrel: 1 source selected, 1 to rewrite, 1 note to collect, 1 refused",
       "histrel: 1 source scanned, 1 to rewrite"},
      {{true, 20000, 0, 0, 0},
       false,
       "histrel: 20000 sources selected, 0 rewritten, 0 notes collected, 0 refused",
       "histrel: 20000 sources scanned, 0 rewritten"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HistrelSummaryLine(c.tally, c.preview), c.summary);
    EXPECT_EQ(HistrelProgressLine(c.tally, c.preview), c.progress);
  }
}

TEST(HistrelProgress, DrawsAfterASecondAtMostTenTimesASecondAndRemovesItsLine) {
  struct Case {
    bool show;
    std::vector<int> updatesAt;  // milliseconds after the start
    Lines drawn;                 // "" removes the line
  };
  const std::vector<Case> cases = {
      {true, {0, 400, 999}, {}},
      {true,
       {0, 1000, 1050, 1099, 1100, 1350, 1400},
       {"histrel: 2 sources scanned, 0 rewritten", "histrel: 5 sources scanned, 0 rewritten",
        "histrel: 6 sources scanned, 0 rewritten", ""}},
      {false, {0, 1000, 5000}, {}},
  };
  for (const Case& c : cases) {
    std::chrono::steady_clock::time_point now;
    Lines drawn;
    {
      THistrelProgress progress(
          c.show, false, [&](const std::string& AText) { drawn.push_back(AText); },
          [&] { return now; });
      THistrel::TTally tally;
      const auto start = now;
      for (int at : c.updatesAt) {
        now = start + milliseconds(at);
        ++tally.Selected;
        progress.Update(tally);
      }
    }
    EXPECT_EQ(drawn, c.drawn);
  }
}

}  // namespace
