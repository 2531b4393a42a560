// The lines of a history entry as the worker builds them: appended one by
// one, the last one taken back to be continued. They are kept in large
// blocks rather than one string each, so that a long note's entry takes
// little more memory than its text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
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
