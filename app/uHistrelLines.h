// The lines of a history entry as the worker builds them: appended one by
// one, the last one taken back to be continued. They are kept in large
// blocks rather than one string each, so that a long note's entry takes
// little more memory than its text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class THistoryLines {
 public:
  bool empty() const { return FLines.empty(); }
  std::size_t size() const { return FLines.size(); }
  std::string_view operator[](std::size_t AIndex) const;
  std::string_view back() const { return (*this)[FLines.size() - 1]; }

  // Appends ALine; a long one is taken over without a copy.
  void push_back(std::string_view ALine);
  void push_back(std::string&& ALine);
  // Inserts ALine before the line at AIndex (at most size()).
  void insert(std::size_t AIndex, std::string_view ALine);
  // Removes the last line and gives it back.
  std::string pop_back();
  // Forgets every line and gives back the memory of all but one block.
  void clear();

  // A copy as one string per line.
  std::vector<std::string> Copy() const;

 private:
  // Bytes.size() is the block's capacity, of which Used is taken.
  struct TBlock {
    std::string Bytes;
    std::size_t Used;
  };
  struct TLine {
    std::size_t Block;
    std::size_t Offset;
    std::size_t Size;
  };

  std::vector<TBlock> FBlocks;
  std::vector<TLine> FLines;
};

// The entry as a log receives it: the history lines [1, AEnd), each
// without the characters of code 0 to 32 at its ends and followed by
// ALineEnd. Its pieces are made from the lines when asked for, so that a
// long entry is held once.
class TLogEntry {
 public:
  TLogEntry(const THistoryLines& ALines, std::size_t AEnd, std::string ALineEnd)
      : FLines(ALines), FEnd(AEnd), FLineEnd(std::move(ALineEnd)) {}
  // How many pieces there are, and the piece at AIndex: a line, then its end.
  std::size_t Pieces() const { return FEnd > 1 ? 2 * (FEnd - 1) : 0; }
  std::string_view Piece(std::size_t AIndex) const;
  std::size_t Size() const;

 private:
  const THistoryLines& FLines;
  std::size_t FEnd;
  std::string FLineEnd;
};

// Compares a text, given in slices one after the other, with an entry.
class TLogEntryComparison {
 public:
  explicit TLogEntryComparison(const TLogEntry& AEntry) : FEntry(AEntry) {}
  // False once a byte differs or the text goes on beyond the entry.
  bool Feed(std::string_view ASlice);
  // Whether the slices so far were the whole entry.
  bool Complete() const { return FPiece == FEntry.Pieces(); }

 private:
  const TLogEntry& FEntry;
  std::size_t FPiece = 0;
  std::size_t FOffset = 0;  // into the piece FPiece
};
