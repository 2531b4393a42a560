#include "app/uHistrelLines.h"

#include <algorithm>
#include <cstring>

#include "text/TextLines.h"

namespace {

// Most lines are about 80 bytes; a line longer than a block gets one of its
// own size. Blocks start small and double up to kBlockSize, so that the
// short entry of most sources does not cost a megabyte of zeroed memory.
constexpr std::size_t kBlockSize = std::size_t{1} << 20;
constexpr std::size_t kFirstBlockSize = std::size_t{4} << 10;

}  // namespace

std::string_view THistoryLines::operator[](std::size_t AIndex) const {
  const TLine& line = FLines[AIndex];
  return std::string_view(FBlocks[line.Block].Bytes).substr(line.Offset, line.Size);
}

void THistoryLines::push_back(std::string_view ALine) {
  if (FBlocks.empty() || FBlocks.back().Bytes.size() - FBlocks.back().Used < ALine.size()) {
    const std::size_t next =
        FBlocks.empty() ? kFirstBlockSize : std::min(kBlockSize, 2 * FBlocks.back().Bytes.size());
    FBlocks.push_back({std::string(std::max(next, ALine.size()), '\0'), 0});
  }
  TBlock& block = FBlocks.back();
  if (!ALine.empty()) std::memcpy(&block.Bytes[block.Used], ALine.data(), ALine.size());
  FLines.push_back({FBlocks.size() - 1, block.Used, ALine.size()});
  block.Used += ALine.size();
}

void THistoryLines::push_back(std::string&& ALine) {
  if (ALine.size() <= kBlockSize / 2) {
    push_back(std::string_view(ALine));
    return;
  }
  // A long line becomes a block of its own as it is.
  const std::size_t size = ALine.size();
  FBlocks.push_back({std::move(ALine), size});
  FLines.push_back({FBlocks.size() - 1, 0, size});
}

void THistoryLines::insert(std::size_t AIndex, std::string_view ALine) {
  push_back(ALine);
  std::rotate(FLines.begin() + static_cast<std::ptrdiff_t>(AIndex), FLines.end() - 1, FLines.end());
}

std::string THistoryLines::pop_back() {
  const TLine line = FLines.back();
  FLines.pop_back();
  TBlock& last = FBlocks.back();
  if (line.Block + 1 == FBlocks.size() && line.Offset == 0 && line.Size == last.Bytes.size()) {
    // A line that is a block of its own is given back as it is.
    std::string text = std::move(last.Bytes);
    FBlocks.pop_back();
    return text;
  }
  std::string text(FBlocks[line.Block].Bytes, line.Offset, line.Size);
  // The last bytes of the last block are free again.
  TBlock& block = FBlocks[line.Block];
  if (line.Block + 1 == FBlocks.size() && line.Offset + line.Size == block.Used) {
    block.Used = line.Offset;
  }
  return text;
}

void THistoryLines::clear() {
  FLines.clear();
  if (FBlocks.size() > 1 || (!FBlocks.empty() && FBlocks.front().Bytes.size() > kBlockSize)) {
    FBlocks.clear();
  }
  if (!FBlocks.empty()) FBlocks.front().Used = 0;
  if (FLines.capacity() > kBlockSize / sizeof(TLine)) std::vector<TLine>().swap(FLines);
}

std::vector<std::string> THistoryLines::Copy() const {
  std::vector<std::string> lines;
  lines.reserve(FLines.size());
  for (std::size_t k = 0; k < FLines.size(); ++k) lines.emplace_back((*this)[k]);
  return lines;
}

std::string_view TLogEntry::Piece(std::size_t AIndex) const {
  if (AIndex % 2 == 1) return FLineEnd;
  return text::TrimBlanks(FLines[AIndex / 2 + 1]);
}

std::size_t TLogEntry::Size() const {
  std::size_t size = 0;
  for (std::size_t k = 0; k < Pieces(); ++k) size += Piece(k).size();
  return size;
}

bool TLogEntryComparison::Feed(std::string_view ASlice) {
  while (!ASlice.empty()) {
    if (FPiece == FEntry.Pieces()) return false;
    const std::string_view rest = FEntry.Piece(FPiece).substr(FOffset);
    const std::size_t take = std::min(rest.size(), ASlice.size());
    if (rest.substr(0, take) != ASlice.substr(0, take)) return false;
    ASlice.remove_prefix(take);
    FOffset += take;
    if (take == rest.size()) {
      ++FPiece;
      FOffset = 0;
    }
  }
  return true;
}
