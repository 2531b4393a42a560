// How the history worker reads one line of a Pascal source: the note that
// begins in it or goes on from the line before, and whether it holds the
// marker. Notes and the marker are looked for only where the compiler sees
// comments, so a word in code or a literal never counts. The collection and
// the rewrite read every line they look at through here, so both find the
// same notes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/PascalScan.h"

namespace histrel_pascal {

// Where the reading of a source stands at the start of a line.
struct TLineContext {
  // Where a scan under each reading of nested braces stands.
  text::PascalCode::TMark Flat;
  text::PascalCode::TMark Nested;
  // A brace note goes on.
  bool NoteOpen = false;
  // The comment that holds the marker goes on: the history of earlier runs.
  bool HistoryOpen = false;
  // The marker line was met.
  bool MarkerFound = false;
  // The last line read was a part of a longer line, which goes on; and the
  // note of the line form that it began goes on with it.
  bool ContinuesLine = false;
  bool LineNoteOpen = false;
  // Nothing but a byte order mark has been read.
  bool AtFileStart = true;
  // The comment that goes on begins with "{CVS*" but is no note: it holds
  // no marker.
  bool NoteShapedOpen = false;
  // The offset in the file where the text read so far ends, and that of the
  // opener of the comment that goes on there (by the flat reading).
  std::uint64_t Offset = 0;
  std::uint64_t OpenedAt = 0;
  // The opener's offset of the comment that holds the marker, when it is
  // known before the lines above the marker are read (by the rewrite): a
  // "//" line in it is no note, as it is none in the history.
  std::uint64_t HistoryAt = kNoOffset;
  // The marker text is UTF-8, matched by characters in any case; else
  // Windows-1252, matched by bytes in any case.
  bool Utf8Marker = false;
  static constexpr std::uint64_t kNoOffset = ~std::uint64_t{0};
};

enum class TNoteForm { kNone, kBrace, kLine };

// A comment in one line, by the flat reading (the first "}" ends a brace
// comment). OpenedBefore: it began in an earlier line; Close: the offset of
// its closer ("}", "*)", or the line's end for "//"), npos when it goes on.
struct TCommentSpan {
  text::PascalContext Kind;
  bool OpenedBefore;
  std::size_t Open;
  std::size_t Close;
};

// What one line holds.
struct TLineFacts {
  // The text of a brace note that goes on from the line before: bytes
  // [0, ContinuationEnd); ContinuationEnds when its "}" is in this line.
  bool Continues = false;
  std::size_t ContinuationEnd = 0;
  bool ContinuationEnds = false;
  // The note that begins in this line: NoteAt is the "{" of "{CVS*" or the
  // "C" of a line form's "CVS*"; its text is [TextBegin, TextEnd), untrimmed.
  TNoteForm Note = TNoteForm::kNone;
  std::size_t NoteAt = 0;
  std::size_t TextBegin = 0;
  std::size_t TextEnd = 0;
  bool NoteGoesOn = false;
  // The marker text: its offset, the comment that holds it and that
  // comment's closer in this line (npos: the comment goes on).
  std::size_t MarkerAt = std::string::npos;
  text::PascalContext MarkerComment = text::PascalContext::kCode;
  std::size_t MarkerCloser = std::string::npos;
  // The closer of the history comment that goes on from the line before,
  // when it is in this line.
  std::size_t HistoryCloser = std::string::npos;
  // The opener's offset of the block that holds a note of the line form,
  // when that block began in an earlier line; of the marker's comment.
  std::uint64_t NoteHolderAt = TLineContext::kNoOffset;
  std::uint64_t MarkerCommentAt = TLineContext::kNoOffset;
};

// Reads ALine (without its line end) in AContext and moves AContext over the
// line and ALineEnd. AGoesOn: ALine is a part of a longer line that goes on.
// AUpperInsertText is the marker text upper-cased (empty: none is looked
// for). ASpans is a buffer kept between calls.
void ReadSourceLine(const std::string& ALine, std::string_view ALineEnd, bool AGoesOn,
                    const std::string& AUpperInsertText, TLineContext& AContext, TLineFacts& AFacts,
                    std::vector<TCommentSpan>& ASpans);

// Where the text of a note whose separator ends at ABegin begins when the
// source is UTF-8: the separator is a character, and when its first byte
// leads a sequence, the sequence's other bytes in [ABegin, AEnd) are its.
std::size_t Utf8TextBegin(std::string_view ALine, std::size_t ABegin, std::size_t AEnd);

// Moves AContext over whole lines that hold no note, no marker and no end of
// the history comment.
void PassSourceLines(std::string_view ALines, TLineContext& AContext);

// Writes AText as a line of the history comment: nothing in it may open or
// end a comment under any reading, so "{" and "}" become "(" and ")", "(*"
// becomes "( *" and "*)" becomes "* )". AFollowing is the byte after AText
// when AText is a slice of a longer line, else NUL.
void AppendHistoryLine(std::string& AOut, std::string_view AText, char AFollowing = '\0');

}  // namespace histrel_pascal
