// A scanner of Pascal text as the compilers read it: brace comments,
// "(* *)" comments, "//" comments, compiler directives ("{$...}", "(*$...*)",
// which are code to the compiler, not comments) and string literals, Delphi's
// multi-line ones and Free Pascal's backtick ones included. It keeps its state
// between pieces of a text, so a file can be fed line by line.
//
// A piece may end anywhere except right after "(", "{", "/" or "*": those
// may begin a two-byte token whose second byte would be in the next piece.
// A piece that ends at a line end, or before one, is always safe, since no
// comment opener or closer goes over a line end. A run of quotes may be cut
// anywhere: the state counts it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace text {

// How a comment opener inside a comment reads: Delphi (and Free Pascal's
// Delphi mode) take it as text, so the first "}" or "*)" ends the comment;
// Free Pascal's own modes nest comments of the same kind: a "{" inside a
// brace comment, a "(*" inside a "(* *)" one (other openers stay text).
// Delphi's multi-line literals ("'''" at a line's end) are read only flat,
// as Free Pascal has none; Free Pascal's backtick literals are read both
// ways, since no Delphi text can hold a backtick outside a comment or a
// literal.
enum class PascalBraces : std::uint8_t { kFlat, kNested };

// What the scanner is in between two bytes.
enum class PascalContext : std::uint8_t {
  kCode,
  kBraceComment,
  kParenComment,
  kLineComment,
  kString,
  kBraceDirective,
  kParenDirective,
  // A run of quotes that began in code, or inside a literal, whose end
  // decides what follows: an even run in code is whole literals, an odd one
  // leaves a literal open; three, five, ... at the end of a line open a
  // multi-line literal.
  kQuotes,
  kStringQuotes,
  // Delphi's multi-line literal, closed by as many quotes as opened it at the
  // start of a line (blanks before them), and Free Pascal's between
  // backticks.
  kTextBlock,
  kBacktickString,
};

struct PascalState {
  PascalContext Where = PascalContext::kCode;
  // Comments open inside the outer one (nested reading only); the quotes of
  // a run so far; the quotes that close a multi-line literal.
  std::uint32_t Depth = 0;
  // In a multi-line literal: the quotes met so far at the start of the
  // current line, after its blanks, or kInLine past that start.
  std::uint32_t Lead = 0;
  static constexpr std::uint32_t kInLine = 0xFFFFFFFFU;

  bool operator==(const PascalState& AOther) const {
    return Where == AOther.Where && Depth == AOther.Depth && Lead == AOther.Lead;
  }
  bool operator!=(const PascalState& AOther) const { return !(*this == AOther); }
};

// Whether a state is inside a comment (not a directive).
inline bool InComment(const PascalState& AState) {
  return AState.Where == PascalContext::kBraceComment ||
         AState.Where == PascalContext::kParenComment ||
         AState.Where == PascalContext::kLineComment;
}

// A listener that wants nothing: the scan only moves the state on.
struct PascalNoEvents {
  // Bytes in code: between tokens and comments, blanks and line ends included.
  void Code(const char*, std::size_t) {}
  // Bytes of a string literal or a directive, delimiters included.
  void Literal(const char*, std::size_t) {}
  // A comment of kind AKind begins at AAt, the offset of its first byte in
  // the piece.
  void CommentOpen(PascalContext, std::size_t) {}
  // The comment ends at AAt: the offset of its closing "}" or "*)", or of
  // the line end that ends a "//" comment.
  void CommentClose(PascalContext, std::size_t) {}
};

namespace pascal_detail {

// Bytes that end a run of code: they may begin a comment, a directive or a
// string.
struct CodeStops {
  bool Stop[256] = {};
  constexpr CodeStops() : Stop() {
    Stop[static_cast<unsigned char>('{')] = true;
    Stop[static_cast<unsigned char>('(')] = true;
    Stop[static_cast<unsigned char>('/')] = true;
    Stop[static_cast<unsigned char>('\'')] = true;
    Stop[static_cast<unsigned char>('`')] = true;
  }
};
inline constexpr CodeStops kCodeStops{};

// The first byte in [AFrom, AEnd) that may begin a comment, a directive
// or a literal; AEnd when there is none.
inline const char* FindCodeStop(const char* AFrom, const char* AEnd) {
#if defined(__SSE2__)
  const __m128i brace = _mm_set1_epi8('{');
  const __m128i paren = _mm_set1_epi8('(');
  const __m128i slash = _mm_set1_epi8('/');
  const __m128i quote = _mm_set1_epi8('\'');
  const __m128i backtick = _mm_set1_epi8('`');
  while (AEnd - AFrom >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(AFrom));
    const __m128i hits = _mm_or_si128(
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, brace), _mm_cmpeq_epi8(bytes, paren)),
                     _mm_or_si128(_mm_cmpeq_epi8(bytes, slash), _mm_cmpeq_epi8(bytes, quote))),
        _mm_cmpeq_epi8(bytes, backtick));
    const int mask = _mm_movemask_epi8(hits);
    if (mask != 0) return AFrom + __builtin_ctz(static_cast<unsigned>(mask));
    AFrom += 16;
  }
#endif
  while (AFrom < AEnd && !kCodeStops.Stop[static_cast<unsigned char>(*AFrom)]) ++AFrom;
  return AFrom;
}

inline const char* FindParenClose(const char* AFrom, const char* AEnd) {
  for (const char* star = AFrom; star < AEnd; ++star) {
    star = static_cast<const char*>(std::memchr(star, '*', static_cast<std::size_t>(AEnd - star)));
    if (star == nullptr) return nullptr;
    if (star + 1 < AEnd && star[1] == ')') return star;
  }
  return nullptr;
}

// The "*)" that closes a "(* *)" comment read with nesting, moving ADepth
// over the "(*" and "*)" inside it; nullptr when the piece ends first. A
// "(*" whose "*" begins a "*)" opens nothing: the "*)" closes.
inline const char* FindNestedParenClose(const char* AFrom, const char* AEnd,
                                        std::uint32_t& ADepth) {
  for (const char* at = AFrom; at + 1 < AEnd; ++at) {
    if (at[0] == '*' && at[1] == ')') {
      if (ADepth == 0) return at;
      --ADepth;
      ++at;
    } else if (at[0] == '(' && at[1] == '*' && !(at + 2 < AEnd && at[2] == ')')) {
      ++ADepth;
      ++at;
    }
  }
  return nullptr;
}

inline const char* FindLineEnd(const char* AFrom, const char* AEnd) {
  for (const char* at = AFrom; at < AEnd; ++at) {
    if (*at == '\n' || *at == '\r') return at;
  }
  return nullptr;
}

}  // namespace pascal_detail

// Scans AData[0, ASize) from AState on, telling AListener what it meets.
template <class TListener>
void ScanPascal(PascalState& AState, PascalBraces ABraces, const char* AData, std::size_t ASize,
                TListener& AListener) {
  using pascal_detail::FindLineEnd;
  using pascal_detail::FindParenClose;
  const char* const begin = AData;
  const char* const end = AData + ASize;
  const char* at = AData;
  const auto offset = [begin](const char* p) { return static_cast<std::size_t>(p - begin); };
  while (at < end) {
    switch (AState.Where) {
      case PascalContext::kCode: {
        const char* stop = pascal_detail::FindCodeStop(at, end);
        if (stop == end) {
          AListener.Code(at, offset(end) - offset(at));
          return;
        }
        const char next = stop + 1 < end ? stop[1] : '\0';
        if (*stop == '\'' || *stop == '`') {
          if (stop > at) AListener.Code(at, offset(stop) - offset(at));
          // The quote is the first byte of the literal; a run of quotes is
          // counted before it is known what it opens.
          AState.Where = *stop == '`' ? PascalContext::kBacktickString : PascalContext::kQuotes;
          AState.Depth = 0;
          at = stop;
          if (*stop == '`') {
            AListener.Literal(at, 1);
            ++at;
          }
        } else if (*stop == '{') {
          if (stop > at) AListener.Code(at, offset(stop) - offset(at));
          if (next == '$') {
            AState.Where = PascalContext::kBraceDirective;
            AListener.Literal(stop, 1);
          } else {
            AState.Where = PascalContext::kBraceComment;
            AState.Depth = 0;
            AListener.CommentOpen(PascalContext::kBraceComment, offset(stop));
          }
          at = stop + 1;
        } else if (*stop == '(' && next == '*') {
          if (stop > at) AListener.Code(at, offset(stop) - offset(at));
          if (stop + 2 < end && stop[2] == '$') {
            AState.Where = PascalContext::kParenDirective;
            AListener.Literal(stop, 2);
          } else {
            AState.Where = PascalContext::kParenComment;
            AState.Depth = 0;
            AListener.CommentOpen(PascalContext::kParenComment, offset(stop));
          }
          // The "*" of the opener cannot close it: "(*)" stays open.
          at = stop + 2;
        } else if (*stop == '/' && next == '/') {
          if (stop > at) AListener.Code(at, offset(stop) - offset(at));
          AState.Where = PascalContext::kLineComment;
          AListener.CommentOpen(PascalContext::kLineComment, offset(stop));
          at = stop + 2;
        } else {
          AListener.Code(at, offset(stop) + 1 - offset(at));
          at = stop + 1;
        }
        break;
      }
      case PascalContext::kString: {
        // A literal ends at a run of an odd number of quotes: "''" inside it
        // is a quote. An unclosed literal ends with its line.
        const char* stop = at;
        while (stop < end && *stop != '\'' && *stop != '\n' && *stop != '\r') ++stop;
        if (stop > at) AListener.Literal(at, offset(stop) - offset(at));
        if (stop == end) return;
        at = stop;
        if (*stop == '\'') {
          AState.Where = PascalContext::kStringQuotes;
          AState.Depth = 0;
        } else {
          AState.Where = PascalContext::kCode;
        }
        break;
      }
      case PascalContext::kQuotes:
      case PascalContext::kStringQuotes: {
        const char* stop = at;
        while (stop < end && *stop == '\'') ++stop;
        if (stop > at) AListener.Literal(at, offset(stop) - offset(at));
        AState.Depth += static_cast<std::uint32_t>(stop - at);
        if (stop == end) return;
        at = stop;
        const bool odd = AState.Depth % 2 == 1;
        if (AState.Where == PascalContext::kStringQuotes) {
          AState.Where = odd ? PascalContext::kCode : PascalContext::kString;
        } else if (odd && AState.Depth >= 3 && ABraces == PascalBraces::kFlat &&
                   (*at == '\n' || *at == '\r')) {
          AState.Where = PascalContext::kTextBlock;
          AState.Lead = PascalState::kInLine;
          break;
        } else {
          AState.Where = odd ? PascalContext::kString : PascalContext::kCode;
        }
        AState.Depth = 0;
        break;
      }
      case PascalContext::kTextBlock: {
        // Blanks, then as many quotes as opened it, at the start of a line
        // close it; the bytes up to there are the literal's.
        const char* stop = at;
        while (stop < end && AState.Where == PascalContext::kTextBlock) {
          const char c = *stop++;
          if (c == '\n' || c == '\r') {
            AState.Lead = 0;
          } else if (AState.Lead == PascalState::kInLine) {
            stop = FindLineEnd(stop, end);
            if (stop == nullptr) stop = end;
          } else if (c == '\'') {
            if (++AState.Lead == AState.Depth) {
              AState = PascalState();
            }
          } else if (!(AState.Lead == 0 && (c == ' ' || c == '\t'))) {
            AState.Lead = PascalState::kInLine;
          }
        }
        AListener.Literal(at, offset(stop) - offset(at));
        at = stop;
        break;
      }
      case PascalContext::kBraceComment: {
        if (ABraces == PascalBraces::kFlat) {
          const void* close = std::memchr(at, '}', offset(end) - offset(at));
          if (close == nullptr) return;
          at = static_cast<const char*>(close);
        } else {
          while (at < end && *at != '}') {
            if (*at == '{') ++AState.Depth;
            ++at;
          }
          if (at == end) return;
          if (AState.Depth > 0) {
            --AState.Depth;
            ++at;
            break;
          }
        }
        AState.Where = PascalContext::kCode;
        AListener.CommentClose(PascalContext::kBraceComment, offset(at));
        ++at;
        break;
      }
      case PascalContext::kParenComment: {
        const char* close = ABraces == PascalBraces::kFlat
                                ? FindParenClose(at, end)
                                : pascal_detail::FindNestedParenClose(at, end, AState.Depth);
        if (close == nullptr) return;
        AState.Where = PascalContext::kCode;
        AListener.CommentClose(PascalContext::kParenComment, offset(close));
        at = close + 2;
        break;
      }
      case PascalContext::kLineComment: {
        const char* close = FindLineEnd(at, end);
        if (close == nullptr) return;
        AState.Where = PascalContext::kCode;
        AListener.CommentClose(PascalContext::kLineComment, offset(close));
        at = close;
        break;
      }
      // Both end at their first closer, which is theirs.
      case PascalContext::kBacktickString:
      case PascalContext::kBraceDirective: {
        const char closer = AState.Where == PascalContext::kBraceDirective ? '}' : '`';
        const void* close = std::memchr(at, closer, offset(end) - offset(at));
        const char* stop = close == nullptr ? end : static_cast<const char*>(close) + 1;
        AListener.Literal(at, offset(stop) - offset(at));
        if (close == nullptr) return;
        AState.Where = PascalContext::kCode;
        at = stop;
        break;
      }
      case PascalContext::kParenDirective: {
        const char* close = FindParenClose(at, end);
        const char* stop = close == nullptr ? end : close + 2;
        AListener.Literal(at, offset(stop) - offset(at));
        if (close == nullptr) return;
        AState.Where = PascalContext::kCode;
        at = stop;
        break;
      }
    }
  }
}

// Moves AState over AText without telling anyone.
inline void SkipPascal(PascalState& AState, PascalBraces ABraces, std::string_view AText) {
  PascalNoEvents none;
  ScanPascal(AState, ABraces, AText.data(), AText.size(), none);
}

// The code of a Pascal text as the compiler sees it, under one reading of
// nested braces: code bytes, literals and directives as they are, and one
// blank for each run of blanks, line ends and comments between them.
class PascalCode {
 public:
  // AKeepCode false keeps only the mark: where the scan stands.
  explicit PascalCode(PascalBraces ABraces, bool AKeepCode = true)
      : FBraces(ABraces), FKeepCode(AKeepCode) {}

  // Scans the next piece of the text (see the rule for where pieces end),
  // appending its code to Code(); comments are also told to AExtra.
  void Feed(const char* AData, std::size_t ASize) {
    PascalNoEvents none;
    Feed(AData, ASize, none);
  }
  void Feed(std::string_view AText) { Feed(AText.data(), AText.size()); }
  template <class TExtra>
  void Feed(const char* AData, std::size_t ASize, TExtra& AExtra);

  std::string& Code() { return FCode; }
  const std::string& Code() const { return FCode; }

  // Where the scan stands, the pending separator included: two texts whose
  // positions have equal marks give the same code from there on for the
  // same bytes.
  struct TMark {
    PascalState State;
    bool Separated = false;
    bool HasCode = false;
    bool operator==(const TMark& AOther) const {
      return State == AOther.State && Separated == AOther.Separated && HasCode == AOther.HasCode;
    }
    bool operator!=(const TMark& AOther) const { return !(*this == AOther); }
  };
  const TMark& Mark() const { return FMark; }
  void SetMark(const TMark& AMark) { FMark = AMark; }

 private:
  template <class TExtra>
  friend struct PascalCodeListener;
  PascalBraces FBraces;
  bool FKeepCode;
  TMark FMark;
  std::string FCode;
};

// Appends what the scanner meets to the code of a PascalCode: blanks and
// comments between tokens become one blank, none before the first token.
template <class TExtra>
struct PascalCodeListener {
  PascalCode& Target;
  TExtra& Extra;

  void Append(const char* AData, std::size_t ASize) {
    PascalCode::TMark& mark = Target.FMark;
    if (Target.FKeepCode) {
      if (mark.Separated && mark.HasCode) Target.FCode += ' ';
      Target.FCode.append(AData, ASize);
    }
    mark.Separated = false;
    mark.HasCode = true;
  }
  void Code(const char* AData, std::size_t ASize) {
    PascalCode::TMark& mark = Target.FMark;
    if (!Target.FKeepCode && mark.HasCode) {
      // Only the mark is kept: what counts is whether the run ends blank.
      if (ASize > 0) mark.Separated = static_cast<unsigned char>(AData[ASize - 1]) <= 32;
      return;
    }
    std::size_t from = 0;
    while (from < ASize) {
      while (from < ASize && static_cast<unsigned char>(AData[from]) <= 32) {
        mark.Separated = true;
        ++from;
      }
      std::size_t to = from;
      while (to<ASize&& static_cast<unsigned char>(AData[to])> 32) ++to;
      if (to > from) Append(AData + from, to - from);
      from = to;
    }
  }
  // A literal that goes on from the last piece takes no blank: nothing
  // separated them.
  void Literal(const char* AData, std::size_t ASize) { Append(AData, ASize); }
  void CommentOpen(PascalContext AKind, std::size_t AAt) {
    Target.FMark.Separated = true;
    Extra.CommentOpen(AKind, AAt);
  }
  void CommentClose(PascalContext AKind, std::size_t AAt) {
    Target.FMark.Separated = true;
    Extra.CommentClose(AKind, AAt);
  }
};

template <class TExtra>
void PascalCode::Feed(const char* AData, std::size_t ASize, TExtra& AExtra) {
  PascalCodeListener<TExtra> listener{*this, AExtra};
  // The state is the mark's, so that the blank rule sees where the scan is.
  ScanPascal(FMark.State, FBraces, AData, ASize, listener);
}

// Compares the code of two texts, the one read and the one written, under
// both readings of nested braces, as both are fed piece by piece: only what
// one side has and the other has not yet is kept.
class PascalCodeComparison {
 public:
  // A piece of the text read, and of the text written.
  void FeedBefore(std::string_view APiece);
  void FeedAfter(std::string_view APiece);
  // Whether the code so far agrees: nothing is known to differ.
  bool Agrees() const { return FAgrees; }
  // Whether both texts stand at the same place of the same code: every byte
  // of code matched, and the scans are in the same state.
  bool InStep() const;
  // The marks of the text read, under both readings.
  struct TMarks {
    PascalCode::TMark Flat;
    PascalCode::TMark Nested;
  };
  TMarks Marks() const;
  // Lets both texts pass over the same bytes that lead from where they are in
  // step to AMarks, without scanning them. False (and no longer Agrees) when
  // they are not in step.
  bool SkipTo(const TMarks& AMarks);
  // At the end of both texts: whether their code is the same and they end
  // in the same state.
  bool Finish();

 private:
  void Settle();
  void FeedAfterSafely(std::string_view APiece);

  PascalCode FBeforeFlat{PascalBraces::kFlat};
  PascalCode FBeforeNested{PascalBraces::kNested};
  PascalCode FAfterFlat{PascalBraces::kFlat};
  PascalCode FAfterNested{PascalBraces::kNested};
  // Bytes of the written text held back because they may begin a token.
  std::string FAfterHeld;
  bool FAgrees = true;
};

}  // namespace text
