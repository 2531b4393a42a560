// Searches in the raw bytes of a text file for what its lines hold as
// TextReader reads them: LF or CR LF ends a line, a CR that no LF follows is
// a byte of its line, byte 26 (Ctrl-Z) ends the input. Pure computation, no
// system calls; the readers of the platform layer use it to pass over what
// needs no attention without splitting it into lines.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace text {

// How a search of one stretch of a file for a needle ended.
enum class NeedleFound { kNo, kYes, kUndecided };

// Looks for needle (which holds no CR or LF) in data[0, size). kUndecided
// when a match would need bytes before data and dataStartsTheText is false:
// the caller kept too few of them.
NeedleFound FindTextNeedle(const char* data, std::size_t size, const std::string& needle,
                           bool dataStartsTheText);

// Where a pass over whole lines has to stop. Built once for what is looked
// for, then used on any number of stretches.
class LineStops {
 public:
  // Which lines count as plain, when lines that are not must stop too: those
  // written exactly as their text followed by CR LF, or by a bare LF.
  enum class Plain { kAny, kCrLf, kLf };

  // needle: bytes a stopping line may hold (empty: none). upperNeedle: bytes
  // that a stopping line may hold when both are upper-cased by the ANSI rules
  // (empty: none); it is given upper-cased. Neither holds LF or Ctrl-Z.
  // plain: also stop at every line whose line end is not that one.
  LineStops(const std::string& needle, const std::string& upperNeedle, Plain plain);

  // The start of the first line in data[from, to) that holds Ctrl-Z, may hold
  // needle or upperNeedle, or is not plain; to when there is none. A line starts at data[from] and
  // data[to - 1] is an LF, so that the stretch holds whole lines; a line may hold more than it
  // shows when a stop is found.
  std::size_t FirstStop(const char* data, std::size_t from, std::size_t to) const;

 private:
  bool StopsAt(const char* data, std::size_t from, std::size_t to, std::size_t at,
               std::size_t& lineEvent) const;

  std::string needle_;
  std::string upperNeedle_;
  Plain plain_;
  // The bytes whose every occurrence is looked at more closely: Ctrl-Z and
  // the last byte of each needle in every case; repeated to fill the array.
  std::array<char, 4> stopBytes_;
};

}  // namespace text
