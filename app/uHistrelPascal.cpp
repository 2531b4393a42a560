#include "app/uHistrelPascal.h"

#include <algorithm>
#include <initializer_list>

#include "app/uHistrelInternal.h"
#include "text/TextLines.h"
#include "text/Utf8.h"

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

// Whether the two readings may read AText apart, when they stand at the
// same place before it: an opener inside a comment, or the quotes that open
// a multi-line literal.
bool MayReadApart(std::string_view AText) {
  return AText.find('{') != std::string_view::npos || AText.find("(*") != std::string_view::npos ||
         AText.find("'''") != std::string_view::npos;
}

// Moves the nested reading's mark over APieces, once the flat one has been
// moved: without an opener (AAlike) both readings read them alike, and the
// flat mark is taken.
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
  // Without an opener both readings read a line alike: it is scanned once.
  const bool alike = AContext.Flat == AContext.Nested && !MayReadApart(ALine);
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
// comment of its own. At the start of a file a byte order mark may stand
// before it.
bool IsLineCommentHead(const std::string& AText, std::size_t AEnd, bool AFileStart) {
  std::string_view head = std::string_view(AText).substr(0, AEnd);
  if (AFileStart && head.substr(0, 3) == "\xEF\xBB\xBF") head.remove_prefix(3);
  return text::TrimBlanks(head) == "//";
}

// Whether ASpan is a brace comment that begins in ALine with "{CVS*".
bool IsNoteShaped(const std::string& ALine, const TCommentSpan& ASpan) {
  return ASpan.Kind == PascalContext::kBraceComment && !ASpan.OpenedBefore &&
         ALine.compare(ASpan.Open, histrel_internal::LengthOf(histrel_internal::kBraceNote),
                       histrel_internal::kBraceNote) == 0;
}

// The span whose comment holds the byte at AAt of a line of ASize bytes, or
// npos when that byte is no comment's.
std::size_t SpanHolding(const std::vector<TCommentSpan>& ASpans, std::size_t AAt,
                        std::size_t ASize) {
  for (std::size_t i = 0; i < ASpans.size(); ++i) {
    const TCommentSpan& span = ASpans[i];
    const std::size_t begin = span.OpenedBefore ? 0 : span.Open;
    const std::size_t end = span.Close == kNone ? ASize : span.Close;
    if (begin <= AAt && AAt < end) return i;
  }
  return kNone;
}

// The offset of AUpperNeedle in ALine[ABegin, AEnd) in any case, by the
// characters of UTF-8 (AUtf8) or by the bytes of Windows-1252; or npos.
std::size_t FindMarkerTextIn(const std::string& ALine, std::size_t ABegin, std::size_t AEnd,
                             const std::string& AUpperNeedle, bool AUtf8) {
  const std::string_view part = std::string_view(ALine).substr(ABegin, AEnd - ABegin);
  const std::size_t at = AUtf8 ? text::FindUtf8IgnoringCase(part, AUpperNeedle)
                               : histrel_internal::FindAnsiText(part, AUpperNeedle);
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
  ScanLine(ALine, ALineEnd, AContext, ASpans);
  const std::uint64_t lineAt = AContext.Offset;
  const std::uint64_t openedBefore = AContext.OpenedAt;
  AContext.Offset += ALine.size() + ALineEnd.size();
  if (!ASpans.empty() && ASpans.back().Close == kNone && !ASpans.back().OpenedBefore) {
    AContext.OpenedAt = lineAt + ASpans.back().Open;
  }
  // Only the first part of a long line begins it; a byte order mark may
  // stand before the first one.
  const bool lineStart = !AContext.ContinuesLine;
  const bool fileStart = AContext.AtFileStart;
  AContext.ContinuesLine = AGoesOn;
  AContext.AtFileStart = fileStart && ALine.empty() && AGoesOn;
  const bool noteShapedBefore = AContext.NoteShapedOpen;
  AContext.NoteShapedOpen = false;
  const std::size_t size = ALine.size();
  const auto endOf = [size](const TCommentSpan& ASpan) {
    return ASpan.Close == kNone ? size : ASpan.Close;
  };
  // Whether the comment of ASpan ends in this piece of its line: a "//"
  // comment that the line's end ends goes on into the next part.
  const auto endsHere = [size, AGoesOn](const TCommentSpan& ASpan) {
    if (ASpan.Kind == PascalContext::kLineComment) return ASpan.Close < size || !AGoesOn;
    return ASpan.Close != kNone || !AGoesOn;
  };
  const bool continued = !ASpans.empty() && ASpans.front().OpenedBefore;
  // A note of the line form takes the rest of its comment: to the end of
  // the line, or to the closer of the block it stands in.
  if (AContext.LineNoteOpen) {
    const bool ends = !AGoesOn || (continued && endsHere(ASpans.front()));
    AFacts.Continues = true;
    AFacts.ContinuationEnd = continued ? endOf(ASpans.front()) : size;
    AFacts.ContinuationEnds = ends;
    AContext.LineNoteOpen = !ends;
    return;
  }

  // What goes on from the line before: the text of an open note, or the
  // history comment, in which nothing is a note.
  std::size_t from = 0;
  bool historyWhole = false;
  bool historyHere = false;
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
    if (continued && !historyWhole) AFacts.HistoryCloser = ASpans.front().Close;
    AContext.HistoryOpen = historyWhole;
  }
  // The comment that goes on from the line before is that of a note or of
  // the history, which hold no note and no marker.
  const bool ownedBefore = continued && (AFacts.Continues || historyHere);

  // A brace note: a brace comment that begins with "{CVS*"; it ends at the
  // first "}", as Delphi reads it. The character after the asterisk
  // separates and is not part of the text.
  std::size_t noteSpan = kNone;
  if (!historyWhole) {
    for (std::size_t i = 0; i < ASpans.size(); ++i) {
      const TCommentSpan& span = ASpans[i];
      if (!IsNoteShaped(ALine, span) || span.Open < from) continue;
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
  // in a comment that goes on over this line (not a note's, not the
  // history's); a line in a literal or a directive holds none.
  if (AFacts.Note == TNoteForm::kNone && !historyWhole && lineStart) {
    const std::size_t at = ALine.find(histrel_internal::kNoteMarker);
    const std::size_t holder = at != kNone && IsLineCommentHead(ALine, at, fileStart)
                                   ? SpanHolding(ASpans, at, size)
                                   : kNone;
    const bool inOpenBlock = holder == 0 && continued;
    if (holder != kNone && !(inOpenBlock && (ownedBefore || openedBefore == AContext.HistoryAt))) {
      if (inOpenBlock) AFacts.NoteHolderAt = openedBefore;
      const TCommentSpan& span = ASpans[holder];
      noteSpan = holder;
      AFacts.Note = TNoteForm::kLine;
      AFacts.NoteAt = at;
      AFacts.TextEnd = endOf(span);
      AFacts.TextBegin = std::min(at + 5, AFacts.TextEnd);
      AFacts.NoteGoesOn = !endsHere(span);
      AContext.LineNoteOpen = AFacts.NoteGoesOn;
    }
  }
  // A brace comment that looks like a note but is none (the second of its
  // line) is no place for the marker either, in any line it goes over.
  if (!ASpans.empty() && ASpans.back().Close == kNone && !AFacts.NoteGoesOn &&
      (IsNoteShaped(ALine, ASpans.back()) ||
       (noteShapedBefore && ASpans.size() == 1 && continued))) {
    AContext.NoteShapedOpen = true;
  }

  // The marker: the first comment of the line that holds the insert text,
  // outside the notes.
  if (AContext.MarkerFound || AUpperInsertText.empty() || historyWhole) return;
  for (std::size_t i = 0; i < ASpans.size(); ++i) {
    const TCommentSpan& span = ASpans[i];
    if (i == noteSpan || (i == 0 && (ownedBefore || (continued && noteShapedBefore))) ||
        IsNoteShaped(ALine, span)) {
      continue;
    }
    const std::size_t begin = span.OpenedBefore ? 0 : span.Open + OpenerSize(span.Kind);
    const std::size_t at =
        FindMarkerTextIn(ALine, begin, endOf(span), AUpperInsertText, AContext.Utf8Marker);
    if (at == kNone) continue;
    AFacts.MarkerAt = at;
    AFacts.MarkerComment = span.Kind;
    AFacts.MarkerCommentAt = span.OpenedBefore ? openedBefore : lineAt + span.Open;
    AFacts.MarkerCloser = span.Kind == PascalContext::kLineComment ? kNone : span.Close;
    AContext.MarkerFound = true;
    AContext.HistoryOpen = span.Kind != PascalContext::kLineComment && span.Close == kNone;
    return;
  }
}

std::size_t Utf8TextBegin(std::string_view ALine, std::size_t ABegin, std::size_t AEnd) {
  if (ABegin == 0 || ABegin > ALine.size()) return ABegin;
  const auto lead = static_cast<unsigned char>(ALine[ABegin - 1]);
  const std::size_t more = lead >= 0xF0U ? 3 : lead >= 0xE0U ? 2 : lead >= 0xC0U ? 1 : 0;
  std::size_t at = ABegin;
  while (at < AEnd && at < ABegin + more &&
         (static_cast<unsigned char>(ALine[at]) & 0xC0U) == 0x80U) {
    ++at;
  }
  return at;
}

void PassSourceLines(std::string_view ALines, TLineContext& AContext) {
  // Whole lines: what follows them begins a line.
  if (!ALines.empty()) {
    AContext.ContinuesLine = false;
    AContext.AtFileStart = false;
  }
  const bool alike = AContext.Flat == AContext.Nested && !MayReadApart(ALines);
  text::PascalCode flat(text::PascalBraces::kFlat, false);
  flat.SetMark(AContext.Flat);
  // A passed line holds no "CVS*": once the comment that goes on closes,
  // no comment that looks like a note is open.
  struct TCommentListener {
    TLineContext& Context;
    std::uint64_t At;
    void CommentOpen(PascalContext, std::size_t AAt) { Context.OpenedAt = At + AAt; }
    void CommentClose(PascalContext, std::size_t) { Context.NoteShapedOpen = false; }
  } comments{AContext, AContext.Offset};
  flat.Feed(ALines.data(), ALines.size(), comments);
  AContext.Offset += ALines.size();
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
