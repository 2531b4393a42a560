#include "text/PascalScan.h"

#include <algorithm>

namespace text {

namespace {

// Takes away from both codes what they have in common at their start; false
// when they differ before one of them ends.
bool Match(std::string& ABefore, std::string& AAfter) {
  const std::size_t common = std::min(ABefore.size(), AAfter.size());
  if (ABefore.compare(0, common, AAfter, 0, common) != 0) return false;
  ABefore.erase(0, common);
  AAfter.erase(0, common);
  return true;
}

// Bytes after which a piece must not end: they may begin a token of two.
bool MayBeginToken(char AByte) {
  return AByte == '(' || AByte == '{' || AByte == '/' || AByte == '*';
}

}  // namespace

void PascalCodeComparison::FeedBefore(std::string_view APiece) {
  FBeforeFlat.Feed(APiece);
  FBeforeNested.Feed(APiece);
  Settle();
}

void PascalCodeComparison::FeedAfter(std::string_view APiece) {
  // The written text comes in pieces of any size: bytes that may begin a
  // token wait for the next piece, which is then scanned behind them.
  if (!FAfterHeld.empty()) {
    FAfterHeld.append(APiece.data(), APiece.size());
    const std::string held = std::move(FAfterHeld);
    FAfterHeld.clear();
    FeedAfterSafely(held);
  } else {
    FeedAfterSafely(APiece);
  }
}

void PascalCodeComparison::FeedAfterSafely(std::string_view APiece) {
  std::size_t safe = APiece.size();
  while (safe > 0 && MayBeginToken(APiece[safe - 1])) --safe;
  FAfterFlat.Feed(APiece.data(), safe);
  FAfterNested.Feed(APiece.data(), safe);
  FAfterHeld.assign(APiece.data() + safe, APiece.size() - safe);
  Settle();
}

void PascalCodeComparison::Settle() {
  if (!Match(FBeforeFlat.Code(), FAfterFlat.Code()) ||
      !Match(FBeforeNested.Code(), FAfterNested.Code())) {
    FAgrees = false;
  }
}

bool PascalCodeComparison::InStep() const {
  return FAgrees && FAfterHeld.empty() && FBeforeFlat.Code().empty() && FAfterFlat.Code().empty() &&
         FBeforeNested.Code().empty() && FAfterNested.Code().empty() &&
         FBeforeFlat.Mark() == FAfterFlat.Mark() && FBeforeNested.Mark() == FAfterNested.Mark();
}

PascalCodeComparison::TMarks PascalCodeComparison::Marks() const {
  return {FBeforeFlat.Mark(), FBeforeNested.Mark()};
}

bool PascalCodeComparison::SkipTo(const TMarks& AMarks) {
  if (!InStep()) {
    FAgrees = false;
    return false;
  }
  FBeforeFlat.SetMark(AMarks.Flat);
  FAfterFlat.SetMark(AMarks.Flat);
  FBeforeNested.SetMark(AMarks.Nested);
  FAfterNested.SetMark(AMarks.Nested);
  return true;
}

bool PascalCodeComparison::Finish() {
  // The text ends here, so its last bytes begin no longer token.
  FAfterFlat.Feed(FAfterHeld);
  FAfterNested.Feed(FAfterHeld);
  FAfterHeld.clear();
  Settle();
  // Blanks at the very end make no difference; an open comment does.
  return FAgrees && FBeforeFlat.Code().empty() && FAfterFlat.Code().empty() &&
         FBeforeNested.Code().empty() && FAfterNested.Code().empty() &&
         FBeforeFlat.Mark().State == FAfterFlat.Mark().State &&
         FBeforeNested.Mark().State == FAfterNested.Mark().State;
}

}  // namespace text
