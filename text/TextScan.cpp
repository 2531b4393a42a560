#include "text/TextScan.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstring>

#include "text/Ansi.h"

namespace text {
namespace {

constexpr char kCtrlZ = 26;

// Whether needle ends at data[at] in the text of a line; data[from] starts a
// line, so nothing before it can belong to a match, and a needle holds no LF,
// so a match never crosses a line end. A CR that an LF follows is the line
// end, not text.
bool NeedleEndsAt(const char* data, std::size_t from, std::size_t at, std::size_t to,
                  const std::string& needle, bool upper) {
  const std::size_t n = needle.size();
  if (at + 1 < from + n) return false;
  if (data[at] == '\r' && at + 1 < to && data[at + 1] == '\n') return false;
  const char* p = data + at + 1 - n;
  for (std::size_t k = 0; k < n; ++k) {
    const char c = upper ? AnsiUpperChar(p[k]) : p[k];
    if (c != needle[k]) return false;
  }
  return true;
}

std::size_t LineStartOf(const char* data, std::size_t from, std::size_t at) {
  while (at > from && data[at - 1] != '\n') --at;
  return at;
}

}  // namespace

NeedleFound FindTextNeedle(const char* data, std::size_t size, const std::string& needle,
                           bool dataStartsTheText) {
  // Anchors on the needle's last byte with memchr and compares the bytes
  // before it.
  const std::size_t n = needle.size();
  if (n == 0) return NeedleFound::kYes;
  const char last = needle[n - 1];
  const char* from = data;
  const char* const end = data + size;
  bool undecided = false;
  while (const char* hit =
             static_cast<const char*>(memchr(from, last, static_cast<std::size_t>(end - from)))) {
    const std::size_t before = static_cast<std::size_t>(hit - data);
    if (before + 1 >= n) {
      if (memcmp(hit + 1 - n, needle.data(), n) == 0) return NeedleFound::kYes;
    } else if (!dataStartsTheText && memcmp(data, needle.data() + (n - 1 - before), before) == 0) {
      // The rest of a match would stand before data.
      undecided = true;
    }
    from = hit + 1;
  }
  return undecided ? NeedleFound::kUndecided : NeedleFound::kNo;
}

LineStops::LineStops(const std::string& needle, const std::string& upperNeedle, Plain plain)
    : needle_(needle), upperNeedle_(upperNeedle), plain_(plain) {
  stopBytes_.fill(kCtrlZ);
  std::size_t used = 1;
  if (!needle_.empty()) stopBytes_[used++] = needle_.back();
  if (!upperNeedle_.empty()) {
    // Every byte that upper-cases to the needle's last byte: the capital
    // itself and its one small letter, if it has one.
    const char last = upperNeedle_.back();
    if (AnsiUpperChar(last) == last) stopBytes_[used++] = last;
    const char small = AnsiLowerChar(last);
    if (small != last) stopBytes_[used++] = small;
  }
}

bool LineStops::StopsAt(const char* data, std::size_t from, std::size_t to, std::size_t at,
                        std::size_t& lineEvent) const {
  const char c = data[at];
  lineEvent = at;
  if (c == kCtrlZ) return true;
  // A line that is not plain ends in the other line end: its LF is the event.
  if (plain_ != Plain::kAny && at + 1 < to && data[at + 1] == '\n' &&
      (c == '\r') != (plain_ == Plain::kCrLf)) {
    lineEvent = at + 1;
    return true;
  }
  if (!needle_.empty() && c == needle_.back() && NeedleEndsAt(data, from, at, to, needle_, false)) {
    return true;
  }
  return !upperNeedle_.empty() && AnsiUpperChar(c) == upperNeedle_.back() &&
         NeedleEndsAt(data, from, at, to, upperNeedle_, true);
}

std::size_t LineStops::FirstStop(const char* data, std::size_t from, std::size_t to) const {
  std::size_t lineEvent = from;
  std::size_t at = from;
  // An empty line at the start has no byte before its LF to tell its end by.
  if (plain_ == Plain::kCrLf && at < to && data[at] == '\n') return from;
#if defined(__SSE2__)
  // Sixteen bytes at a time: a lane is looked at more closely when it holds
  // a stop byte or, for plain lines, when an LF follows and "it is a CR"
  // differs from "lines end in CR LF". Most blocks of an ordinary source have
  // neither.
  const __m128i stop0 = _mm_set1_epi8(stopBytes_[0]);
  const __m128i stop1 = _mm_set1_epi8(stopBytes_[1]);
  const __m128i stop2 = _mm_set1_epi8(stopBytes_[2]);
  const __m128i stop3 = _mm_set1_epi8(stopBytes_[3]);
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i lineEnds = plain_ != Plain::kAny ? _mm_set1_epi8(-1) : _mm_setzero_si128();
  const __m128i crLf = plain_ == Plain::kCrLf ? _mm_set1_epi8(-1) : _mm_setzero_si128();
  while (at + 17 <= to) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 1));
    const __m128i stops =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(here, stop0), _mm_cmpeq_epi8(here, stop1)),
                     _mm_or_si128(_mm_cmpeq_epi8(here, stop2), _mm_cmpeq_epi8(here, stop3)));
    const __m128i ends = _mm_and_si128(_mm_and_si128(lineEnds, _mm_cmpeq_epi8(next, lf)),
                                       _mm_xor_si128(_mm_cmpeq_epi8(here, cr), crLf));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(stops, ends)));
    while (mask != 0) {
      const std::size_t lane = static_cast<std::size_t>(__builtin_ctz(mask));
      if (StopsAt(data, from, to, at + lane, lineEvent)) return LineStartOf(data, from, lineEvent);
      mask &= mask - 1;
    }
    at += 16;
  }
#endif
  for (; at < to; ++at) {
    if (StopsAt(data, from, to, at, lineEvent)) return LineStartOf(data, from, lineEvent);
  }
  return to;
}

}  // namespace text
