#include "app/uHistrelPascal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using histrel_pascal::TLineContext;
using histrel_pascal::TLineFacts;
using histrel_pascal::TNoteForm;
constexpr std::size_t npos = std::string::npos;

// Reads ALines one after the other, as the collection does, and gives the
// facts of the last one.
TLineFacts FactsOfLast(const std::vector<std::string>& ALines, TLineContext& AContext) {
  TLineFacts facts;
  std::vector<histrel_pascal::TCommentSpan> spans;
  for (const std::string& line : ALines) {
    histrel_pascal::ReadSourceLine(line, "\r\n", false, "CVSLOG", AContext, facts, spans);
  }
  return facts;
}

TEST(ReadSourceLine, FindsNotesAndTheMarkerOnlyWhereTheCompilerSeesComments) {
  struct Case {
    const char* Name;
    std::vector<std::string> Lines;
    TNoteForm Note;
    std::size_t NoteAt;
    std::size_t MarkerAt;
  };
  const std::vector<Case> cases = {
      {"brace note after code", {"x := 1; {CVS* a}"}, TNoteForm::kBrace, 8, npos},
      {"line note", {"  // CVS* a"}, TNoteForm::kLine, 5, npos},
      {"line note after code is none", {"x; // CVS* a"}, TNoteForm::kNone, 0, npos},
      {"in a literal", {"s := '{CVS* a}';"}, TNoteForm::kNone, 0, npos},
      {"in a directive", {"{$I CVS*.inc}"}, TNoteForm::kNone, 0, npos},
      {"inside another comment", {"(* {CVS* a} *)"}, TNoteForm::kNone, 0, npos},
      {"a line note inside a block", {"{ block", "// CVS* a"}, TNoteForm::kLine, 3, npos},
      {"a line note inside the history", {"{CVSLOG", "// CVS* a"}, TNoteForm::kNone, 0, npos},
      {"after the history closes", {"{CVSLOG", "} {CVS* a}"}, TNoteForm::kBrace, 2, npos},
      {"the marker in code", {"ecInsertCVSLog = 80;"}, TNoteForm::kNone, 0, npos},
      {"the marker in a literal", {"s := 'CVSLOG';"}, TNoteForm::kNone, 0, npos},
      {"the marker in a note", {"{CVS* the CVSLOG scan}"}, TNoteForm::kBrace, 0, npos},
      {"the marker beside a note", {"{CVS* a} (* cvslog *)"}, TNoteForm::kBrace, 0, 12},
      {"the marker on a block's line", {"(* unit A", "   CVSLOG"}, TNoteForm::kNone, 0, 3},
      {"in a multi-line literal", {"s := '''", "  // CVS* a {CVSLOG}"}, TNoteForm::kNone, 0, npos},
      {"after a byte order mark", {"\xEF\xBB\xBF// CVS* a"}, TNoteForm::kLine, 6, npos},
      {"a word after a block is code", {"{ b", "// CVS* a } {}CVSLOG"}, TNoteForm::kLine, 3, npos},
      {"after a lone CR", {"// CVS* x\r// d\r{CVSLOG}"}, TNoteForm::kLine, 3, 16},
      {"in a second note-shaped comment",
       {"{CVS* a} {CVS* b", " CVSLOG"},
       TNoteForm::kNone,
       0,
       npos},
  };
  for (const Case& c : cases) {
    TLineContext context;
    const TLineFacts facts = FactsOfLast(c.Lines, context);
    EXPECT_EQ(facts.Note, c.Note) << c.Name;
    if (c.Note != TNoteForm::kNone) {
      EXPECT_EQ(facts.NoteAt, c.NoteAt) << c.Name;
    }
    EXPECT_EQ(facts.MarkerAt, c.MarkerAt) << c.Name;
  }
}

TEST(ReadSourceLine, ANoteEndsAtTheFirstBraceAndGoesOnOverLinesUntilThen) {
  TLineContext context;
  TLineFacts facts = FactsOfLast({"{CVS* one { two"}, context);
  EXPECT_TRUE(facts.NoteGoesOn);
  EXPECT_TRUE(context.NoteOpen);
  facts = FactsOfLast({"three } x; {CVS* b \xA7}"}, context);
  EXPECT_TRUE(facts.Continues);
  EXPECT_EQ(facts.ContinuationEnd, 6U);
  EXPECT_TRUE(facts.ContinuationEnds);
  // The next note on the closing line is a note of its own, and the mark
  // before its brace is text.
  EXPECT_EQ(facts.Note, TNoteForm::kBrace);
  EXPECT_FALSE(facts.NoteGoesOn);
  EXPECT_FALSE(context.NoteOpen);
}

// A note of the line form in a block ends where the block does.
TEST(ReadSourceLine, ALineNoteEndsWithItsComment) {
  TLineContext context;
  TLineFacts facts = FactsOfLast({"{ block", "  // CVS* a } const z = 3;"}, context);
  EXPECT_EQ(facts.Note, TNoteForm::kLine);
  EXPECT_EQ(facts.TextEnd, 12U);
  EXPECT_FALSE(facts.NoteGoesOn);
  facts = FactsOfLast({"(* block", "// CVS* a"}, context);
  EXPECT_FALSE(facts.NoteGoesOn);
  EXPECT_FALSE(context.LineNoteOpen);
  TLineContext fresh;
  facts = FactsOfLast({"// CVS* x\rcode"}, fresh);
  EXPECT_EQ(facts.TextEnd, 9U);
}

TEST(ReadSourceLine, TellsWhetherTheMarkerCommentClosesOnItsLine) {
  struct Case {
    const char* Line;
    text::PascalContext Comment;
    std::size_t Closer;
    bool HistoryOpen;
  };
  const Case cases[] = {
      {"{ CVSLOG } x", text::PascalContext::kBraceComment, 9, false},
      {"(* CVSLOG *)", text::PascalContext::kParenComment, 10, false},
      {"{CVSLOG history", text::PascalContext::kBraceComment, npos, true},
      {"// CVSLOG", text::PascalContext::kLineComment, npos, false},
  };
  for (const Case& c : cases) {
    TLineContext context;
    const TLineFacts facts = FactsOfLast({c.Line}, context);
    EXPECT_EQ(facts.MarkerComment, c.Comment) << c.Line;
    EXPECT_EQ(facts.MarkerCloser, c.Closer) << c.Line;
    EXPECT_EQ(context.HistoryOpen, c.HistoryOpen) << c.Line;
  }
}

TEST(AppendHistoryLine, NothingInAHistoryLineOpensOrEndsAComment) {
  const std::pair<const char*, const char*> cases[] = {
      {"{a} (*b*) c", "(a) ( *b* ) c"},
      {"{*}", "( * )"},
      {"(*)", "( * )"},
      {"a*)", "a* )"},
      {"// x", "// x"},
  };
  for (const auto& [text, written] : cases) {
    std::string out;
    histrel_pascal::AppendHistoryLine(out, text);
    EXPECT_EQ(out, written) << text;
  }
  // A slice of a longer line looks at the byte after it.
  std::string out;
  histrel_pascal::AppendHistoryLine(out, "a(", '*');
  EXPECT_EQ(out, "a( ");
}

}  // namespace
