#include "text/PascalScan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using text::PascalBraces;
using text::PascalCode;
using text::PascalCodeComparison;

std::string CodeOf(const std::string& AText, PascalBraces ABraces) {
  PascalCode code(ABraces);
  code.Feed(AText);
  return code.Code();
}

TEST(PascalCode, SeesTheTokensAsTheCompilersDo) {
  struct Case {
    const char* Text;
    const char* Flat;
    const char* Nested;
  };
  const Case cases[] = {
      {"x := 1; { note } y", "x := 1; y", "x := 1; y"},
      {"a{b}c", "a c", "a c"},
      {"a(*b*)c", "a c", "a c"},
      {"a(*)b*)c", "a c", "a c"},
      {"a // b }\r\nc", "a c", "a c"},
      {"{$mode objfpc}{$H+} unit", "{$mode objfpc}{$H+} unit", "{$mode objfpc}{$H+} unit"},
      {"(*$I x.inc*) y", "(*$I x.inc*) y", "(*$I x.inc*) y"},
      {"s := '{CVS* x}  (* y *)';", "s := '{CVS* x}  (* y *)';", "s := '{CVS* x}  (* y *)';"},
      {"s := 'it''s'#13#10; t", "s := 'it''s'#13#10; t", "s := 'it''s'#13#10; t"},
      {"'open\nx", "'open x", "'open x"},
      {"{ { inner } outer } z", "outer } z", "z"},
      {"{ (* } x *)", "x *)", "x *)"},
      {"(* { *) x", "x", "x"},
      {"a / b; c(d)", "a / b; c(d)", "a / b; c(d)"},
      {"  \r\n\tx", "x", "x"},
      // Free Pascal nests "(* *)" in "(* *)" only; "(*)" inside one closes it.
      {"(* a (* b *) c *) d", "c *) d", "d"},
      {"(* a { b *) c", "c", "c"},
      {"{ a (* b } c", "c", "c"},
      {"(* a (*) b", "b", "b"},
      {"(* (**) *) x", "*) x", "x"},
      // Delphi's multi-line literals and Free Pascal's backtick ones.
      {"s := '''\n  {CVS* a}\n  // b\n  ''';\nx", "s := '''\n  {CVS* a}\n  // b\n  '''; x",
       "s := ''' '''; x"},
      {"s := '''''\n'''\n'''''; {c}x", "s := '''''\n'''\n'''''; x", "s := ''''' ''' '''''; {c}x"},
      {"s := ''' x'''; {c}", "s := ''' x''';", "s := ''' x''';"},
      {"s := 'a''''\n{c}x", "s := 'a'''' x", "s := 'a'''' x"},
      {"s := `a\n{b}\n`; {c}x", "s := `a\n{b}\n`; x", "s := `a\n{b}\n`; x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CodeOf(c.Text, PascalBraces::kFlat), c.Flat) << c.Text;
    EXPECT_EQ(CodeOf(c.Text, PascalBraces::kNested), c.Nested) << c.Text;
  }
}

// A text cut anywhere a piece may end, into pieces of every size, gives the
// code it gives whole.
TEST(PascalCodeComparison, WrittenTextInPiecesOfAnySizeMatchesTheWholeText) {
  const std::string text =
      "unit U; {$mode objfpc}\r\n(*$I a*) { {n} } (* x *) // c\ns := 'a''b(*'; "
      "x := a/b*(c); {CVSLOG\r\n  ann ( * )\r\n}\r\nend.";
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    PascalCodeComparison comparison;
    comparison.FeedBefore(text);
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t size = std::min<std::size_t>(random() % 7, text.size() - at);
      comparison.FeedAfter(std::string_view(text).substr(at, size));
      at += size;
    }
    EXPECT_TRUE(comparison.Finish()) << round;
  }
}

TEST(PascalCodeComparison, FindsEveryChangeOfCodeAndOnlyThose) {
  struct Case {
    const char* Before;
    const char* After;
    bool Same;
  };
  const Case cases[] = {
      {"{CVSLOG} x", "{CVSLOG\r\n  ann note\r\n} x", true},
      {"{CVSLOG} x", "{CVSLOG\r\n  ann } note\r\n} x", false},
      {"{CVSLOG} x", "{CVSLOG\r\n  ann { note\r\n} x", false},  // nested reading
      {"(*CVSLOG*) x", "(*CVSLOG\r\n  a *) b\r\n*) x", false},
      {"(*CVSLOG*) x", "(*CVSLOG\r\n  a * ) b\r\n*) x", true},
      {"{CVS* a} x", "{ann a} x", true},
      {"s := '{CVS* a}';", "s := '{ann a}';", false},
      {"{$define CVS}", "{$define ann}", false},
      {"x", "x{", false},  // the comment left open at the end
      {"a b", "a  b", true},
      {"ab", "a b", false},
  };
  for (const Case& c : cases) {
    PascalCodeComparison comparison;
    comparison.FeedBefore(c.Before);
    comparison.FeedAfter(c.After);
    EXPECT_EQ(comparison.Finish(), c.Same) << c.Before << " -> " << c.After;
  }
}

// Stretches copied unchanged need no scan when both texts are in step where
// they begin; the marks of the text read say where they end.
TEST(PascalCodeComparison, SkipsWhatBothTextsShareOnlyWhenInStep) {
  const std::string head = "{CVSLOG}\r\n";
  const std::string shared = "x := 1; { a\r\n";
  const std::string tail = "} y\r\n";
  PascalCode flat(PascalBraces::kFlat);
  PascalCode nested(PascalBraces::kNested);
  for (PascalCode* code : {&flat, &nested}) code->Feed(head + shared);
  const PascalCodeComparison::TMarks marks{flat.Mark(), nested.Mark()};

  PascalCodeComparison inStep;
  inStep.FeedBefore(head);
  inStep.FeedAfter("{CVSLOG\r\n  ann\r\n}\r\n");
  ASSERT_TRUE(inStep.SkipTo(marks));
  inStep.FeedBefore(tail);
  inStep.FeedAfter(tail);
  EXPECT_TRUE(inStep.Finish());

  PascalCodeComparison outOfStep;
  outOfStep.FeedBefore(head);
  outOfStep.FeedAfter("{CVSLOG\r\n  ann\r\n");  // the comment is still open
  EXPECT_FALSE(outOfStep.SkipTo(marks));
  EXPECT_FALSE(outOfStep.Agrees());
}

}  // namespace
