#include "text/TextScan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "text/Ansi.h"

namespace {

using text::LineStops;
using Plain = text::LineStops::Plain;

// The definition FirstStop must meet, line by line: a line stops when its raw
// bytes hold Ctrl-Z, when its text (the line without LF or CR LF) holds needle
// or, upper-cased, upperNeedle, or, for plain lines, when it does not end in
// the plain line end.
std::size_t NaiveFirstStop(const std::string& AData, std::size_t AFrom, const std::string& ANeedle,
                           const std::string& AUpperNeedle, Plain APlain) {
  std::size_t start = AFrom;
  while (start < AData.size()) {
    const std::size_t lf = AData.find('\n', start);
    const std::string raw = AData.substr(start, lf + 1 - start);
    const bool crLf = raw.size() >= 2 && raw[raw.size() - 2] == '\r';
    const std::string line = raw.substr(0, raw.size() - (crLf ? 2 : 1));
    const bool ctrlZ = raw.find('\x1A') != std::string::npos;
    const bool holds = !ANeedle.empty() && line.find(ANeedle) != std::string::npos;
    const bool holdsUpper =
        !AUpperNeedle.empty() && text::AnsiUpperCase(line).find(AUpperNeedle) != std::string::npos;
    const bool notPlain = (APlain == Plain::kCrLf && !crLf) || (APlain == Plain::kLf && crLf);
    if (ctrlZ || holds || holdsUpper || notPlain) return start;
    start = lf + 1;
  }
  return AData.size();
}

TEST(LineStops, StopsWhereTheLineByLineDefinitionSays) {
  const std::string alphabet = "CVS*cvs\r\n\x1A xg\xE9\xC9";
  std::mt19937 random(4711);
  int stopsBeforeTheEnd = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string data(random() % 90, ' ');
    for (char& c : data) c = alphabet[random() % alphabet.size()];
    // Mostly plain lines, so that long stretches pass.
    if (round % 3 == 0) {
      for (std::size_t at = 0; at + 1 < data.size(); ++at) {
        if (data[at] == '\r' || data[at] == '\n') {
          data[at] = '\r';
          data[at + 1] = '\n';
          ++at;
        }
      }
    }
    data += '\n';
    const std::size_t from =
        data.find('\n') + 1 < data.size() && round % 2 == 0 ? data.find('\n') + 1 : 0;
    const Plain plain = std::vector<Plain>{Plain::kAny, Plain::kCrLf, Plain::kLf}[random() % 3];
    const std::string needle = round % 5 == 4 ? "" : "CVS*";
    // A needle may end in a CR, which is text unless an LF follows it.
    const std::string upperNeedle =
        round % 4 == 0 ? "" : (round % 4 == 1 ? "SV" : (round % 8 == 2 ? "S\r" : "\xC9G"));
    const LineStops stops(needle, upperNeedle, plain);
    const std::size_t expected = NaiveFirstStop(data, from, needle, upperNeedle, plain);
    ASSERT_EQ(stops.FirstStop(data.data(), from, data.size()), expected)
        << testing::PrintToString(data) << " from " << from << " plain " << static_cast<int>(plain)
        << " needle " << needle << " upper " << testing::PrintToString(upperNeedle);
    if (expected < data.size()) ++stopsBeforeTheEnd;
  }
  EXPECT_GT(stopsBeforeTheEnd, 1000);
}

TEST(LineStops, PassesLongPlainStretchesAndFindsWhatStandsFarIntoThem) {
  std::string data;
  for (int i = 0; i < 1000; ++i) data += "  x := y + " + std::to_string(i) + ";\r\n";
  const LineStops plain("CVS*", "CVSLOG", Plain::kCrLf);
  EXPECT_EQ(plain.FirstStop(data.data(), 0, data.size()), data.size());
  struct Case {
    std::string line;
    bool stops;
  };
  for (const Case& c : std::vector<Case>{{"  {CVS* note}\r\n", true},
                                         {"  {cvslog\r\n", true},
                                         {"  CV\rS* not joined\r\n", false},
                                         {"  bare\n", true},
                                         {"  lone\rcr\r\n", false},  // a lone CR is text
                                         {"  ctrl\x1Az\r\n", true},
                                         {"  CVS *\r\n", false},
                                         {"  (* a * b *)\r\n", false}}) {
    std::string text = data;
    text += c.line;
    text += data;
    EXPECT_EQ(plain.FirstStop(text.data(), 0, text.size()), c.stops ? data.size() : text.size())
        << testing::PrintToString(c.line);
  }
  // Lines that end in a bare LF are plain in their own kind of file.
  std::string bare = data;
  for (std::size_t at = bare.find("\r\n"); at != std::string::npos; at = bare.find("\r\n", at)) {
    bare.erase(at, 1);
  }
  const LineStops plainLf("CVS*", "", Plain::kLf);
  EXPECT_EQ(plainLf.FirstStop(bare.data(), 0, bare.size()), bare.size());
  const std::string mixed = bare + "  crlf\r\n" + bare;
  EXPECT_EQ(plainLf.FirstStop(mixed.data(), 0, mixed.size()), bare.size());
  // Without plain lines, only what a line holds stops.
  const LineStops marker("CVS*", "", Plain::kAny);
  const std::string text = data + "  bare\n  lone\rcr\r\n" + data;
  EXPECT_EQ(marker.FirstStop(text.data(), 0, text.size()), text.size());
}

TEST(FindTextNeedle, SaysUndecidedOnlyWhenBytesBeforeTheStretchWouldBeNeeded) {
  EXPECT_EQ(text::FindTextNeedle("S* x", 4, "CVS*", false), text::NeedleFound::kUndecided);
  EXPECT_EQ(text::FindTextNeedle("S* x", 4, "CVS*", true), text::NeedleFound::kNo);
  EXPECT_EQ(text::FindTextNeedle("VS*", 3, "CVS*", false), text::NeedleFound::kUndecided);
  EXPECT_EQ(text::FindTextNeedle("xS*", 3, "CVS*", false), text::NeedleFound::kNo);
  // A lone CR is a byte of its line: it separates like any other.
  EXPECT_EQ(text::FindTextNeedle("C\rVS*", 5, "CVS*", true), text::NeedleFound::kNo);
  EXPECT_EQ(text::FindTextNeedle("x CVS* y", 8, "CVS*", false), text::NeedleFound::kYes);
}

}  // namespace
