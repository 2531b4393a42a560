#include "app/uHistrelPascal.h"

#include <algorithm>
#include <initializer_list>

#include "app/uHistrelInternal.h"
#include "text/TextLines.h"

namespace histrel_pascal {

namespace {

using text::PascalContext;
constexpr std::size_t kNone = std::string::npos;

// Notes the comments of one line as the scan meets them.
struct TSpanListener {
  std::vector<TCommentSpan>& Spans;

  void CommentOpen(PascalContext AKind, std::size_t AAt) {
    Spans.push_back({AKind, false, AAt, kNone});
  }
  void CommentClose(PascalContext AKind, std::size_t AAt) {
    if (Spans.empty() || Spans.back().Close != kNone) {
      Spans.push_back({AKind, true, 0, AAt});
    } else {
      Spans.back().Close = AAt;
    }
  }
};

// Moves the nested reading's mark over APieces, once the flat one has been
// moved: without a "{" (AAlike) both readings read them alike, and the flat
// mark is taken.
void MoveNested(TLineContext& AContext, bool AAlike,
                std::initializer_list<std::string_view> APieces) {
  if (AAlike) {
    AContext.Nested = AContext.Flat;
    return;
  }
  text::PascalCode nested(text::PascalBraces::kNested, false);
  nested.SetMark(AContext.Nested);
  for (const std::string_view piece : APieces) nested.Feed(piece);
  AContext.Nested = nested.Mark();
}

// Moves both marks over ALine and ALineEnd, noting the comments of ALine.
void ScanLine(const std::string& ALine, std::string_view ALineEnd, TLineContext& AContext,
              std::vector<TCommentSpan>& ASpans) {
  ASpans.clear();
  if (text::InComment(AContext.Flat.State)) {
    ASpans.push_back({AContext.Flat.State.Where, true, 0, kNone});
  }
  // Without a "{" both readings read a line alike: it is scanned once.
  const bool alike = AContext.Flat == AContext.Nested && ALine.find('{') == std::string::npos;
  text::PascalCode flat(text::PascalBraces::kFlat, false);
  flat.SetMark(AContext.Flat);
  TSpanListener spans{ASpans};
  flat.Feed(ALine.data(), ALine.size(), spans);
  // A "//" comment ends with its line.
  if (!ASpans.empty() && ASpans.back().Kind == PascalContext::kLineComment &&
      ASpans.back().Close == kNone) {
    ASpans.back().Close = ALine.size();
  }
  flat.Feed(ALineEnd.data(), ALineEnd.size());
  AContext.Flat = flat.Mark();
  MoveNested(AContext, alike, {ALine, ALineEnd});
}

// Whether AText before AEnd, trimmed, is exactly "//": the head of a line
// comment of its own.
bool IsLineCommentHead(const std::string& AText, std::size_t AEnd) {
  return text::TrimBlanks(std::string_view(AText).substr(0, AEnd)) == "//";
}

// The offset of AUpperNeedle in ALine[ABegin, AEnd) by the ANSI case rules,
// or npos.
std::size_t FindAnsiTextIn(const std::string& ALine, std::size_t ABegin, std::size_t AEnd,
                           const std::string& AUpperNeedle) {
  const std::size_t at = histrel_internal::FindAnsiText(
      std::string_view(ALine).substr(ABegin, AEnd - ABegin), AUpperNeedle);
  return at == kNone ? kNone : ABegin + at;
}

std::size_t OpenerSize(PascalContext AKind) {
  return AKind == PascalContext::kBraceComment ? 1 : 2;
}

}  // namespace

void ReadSourceLine(const std::string& ALine, std::string_view ALineEnd, bool AGoesOn,
                    const std::string& AUpperInsertText, TLineContext& AContext, TLineFacts& AFacts,
                    std::vector<TCommentSpan>& ASpans) {
  AFacts = TLineFacts();
  const bool startsInDirective = AContext.Flat.State.Where == PascalContext::kBraceDirective ||
                                 AContext.Flat.State.Where == PascalContext::kParenDirective;
  ScanLine(ALine, ALineEnd, AContext, ASpans);
  // Only the first part of a long line begins it.
  const bool lineStart = !AContext.ContinuesLine;
  AContext.ContinuesLine = AGoesOn;
  const std::size_t size = ALine.size();
  // A note of the line form takes every part of its line.
  if (AContext.LineNoteOpen) {
    AFacts.Continues = true;
    AFacts.ContinuationEnd = size;
    AFacts.ContinuationEnds = !AGoesOn;
    AContext.LineNoteOpen = AGoesOn;
    return;
  }
  const auto endOf = [size](const TCommentSpan& ASpan) {
    return ASpan.Close == kNone ? size : ASpan.Close;
  };

  // What goes on from the line before: the text of an open note, or the
  // history comment, in which nothing is a note.
  std::size_t from = 0;
  bool historyWhole = false;
  bool historyHere = false;
  const bool continued = !ASpans.empty() && ASpans.front().OpenedBefore;
  if (AContext.NoteOpen) {
    AFacts.Continues = true;
    AFacts.ContinuationEnd = continued ? endOf(ASpans.front()) : 0;
    AFacts.ContinuationEnds = !continued || ASpans.front().Close != kNone;
    AContext.NoteOpen = !AFacts.ContinuationEnds;
    from = AFacts.ContinuationEnd;
  } else if (AContext.HistoryOpen) {
    historyHere = true;
    historyWhole = continued && ASpans.front().Close == kNone;
    from = continued ? endOf(ASpans.front()) : 0;
    AContext.HistoryOpen = historyWhole;
  }

  // A brace note: a brace comment that begins with "{CVS*"; it ends at the
  // first "}", as Delphi reads it. The byte after the asterisk separates and
  // is not part of the text.
  std::size_t noteSpan = kNone;
  if (!historyWhole) {
    for (std::size_t i = 0; i < ASpans.size(); ++i) {
      const TCommentSpan& span = ASpans[i];
      if (span.Kind != PascalContext::kBraceComment || span.OpenedBefore || span.Open < from ||
          ALine.compare(span.Open, histrel_internal::LengthOf(histrel_internal::kBraceNote),
                        histrel_internal::kBraceNote) != 0) {
        continue;
      }
      noteSpan = i;
      AFacts.Note = TNoteForm::kBrace;
      AFacts.NoteAt = span.Open;
      AFacts.TextEnd = endOf(span);
      AFacts.TextBegin = std::min(span.Open + 6, AFacts.TextEnd);
      AFacts.NoteGoesOn = span.Close == kNone;
      AContext.NoteOpen = AFacts.NoteGoesOn;
      break;
    }
  }
  // The line form: "// CVS*" with nothing but blanks before it, in code or
  // in a comment that goes on over this line (not in the history).
  if (AFacts.Note == TNoteForm::kNone && !historyWhole && !startsInDirective && lineStart) {
    const std::size_t at = ALine.find(histrel_internal::kNoteMarker);
    if (at != kNone && !(historyHere && at < from) && IsLineCommentHead(ALine, at)) {
      AFacts.Note = TNoteForm::kLine;
      AFacts.NoteAt = at;
      AFacts.TextBegin = std::min(at + 5, size);
      AFacts.TextEnd = size;
      AFacts.NoteGoesOn = AGoesOn;
      AContext.LineNoteOpen = AGoesOn;
    }
  }

  // The marker: the first comment of the line that holds the insert text,
  // outside the notes.
  if (AContext.MarkerFound || AUpperInsertText.empty() || historyWhole) return;
  for (std::size_t i = 0; i < ASpans.size(); ++i) {
    const TCommentSpan& span = ASpans[i];
    if (i == noteSpan || (i == 0 && continued && (AFacts.Continues || historyHere))) continue;
    const std::size_t begin = span.OpenedBefore ? 0 : span.Open + OpenerSize(span.Kind);
    std::size_t end = endOf(span);
    if (AFacts.Note == TNoteForm::kLine) end = std::min(end, AFacts.NoteAt);
    const std::size_t at = FindAnsiTextIn(ALine, begin, end, AUpperInsertText);
    if (at == kNone) continue;
    AFacts.MarkerAt = at;
    AFacts.MarkerComment = span.Kind;
    AFacts.MarkerCloser = span.Kind == PascalContext::kLineComment ? kNone : span.Close;
    AContext.MarkerFound = true;
    AContext.HistoryOpen = span.Kind != PascalContext::kLineComment && span.Close == kNone;
    return;
  }
}

void PassSourceLines(std::string_view ALines, TLineContext& AContext) {
  // Whole lines: what follows them begins a line.
  if (!ALines.empty()) AContext.ContinuesLine = false;
  const bool alike = AContext.Flat == AContext.Nested && ALines.find('{') == std::string::npos;
  text::PascalCode flat(text::PascalBraces::kFlat, false);
  flat.SetMark(AContext.Flat);
  flat.Feed(ALines);
  AContext.Flat = flat.Mark();
  MoveNested(AContext, alike, {ALines});
}

void AppendHistoryLine(std::string& AOut, std::string_view AText, char AFollowing) {
  for (std::size_t i = 0; i < AText.size(); ++i) {
    char c = AText[i];
    if (c == '{') c = '(';
    if (c == '}') c = ')';
    const char next = i + 1 < AText.size() ? AText[i + 1] : AFollowing;
    AOut += c;
    // "(*" and "*)" (also as "{*" and "*}") get a blank between them.
    if ((c == '(' && next == '*') || (c == '*' && (next == ')' || next == '}'))) AOut += ' ';
  }
}

}  // namespace histrel_pascal
