#include "platform/TextScan.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstring>

#include "platform/Ansi.h"

namespace platform {
namespace {

constexpr char kCtrlZ = 26;

// Whether needle ends at data[at] as reading sees the text: going backwards
// from there, CRs are passed over (each is followed by a needle byte, never
// by an LF, so reading drops it). data[from] starts a line, so nothing before
// it can belong to a match. With upper, bytes are upper-cased first.
bool NeedleEndsAt(const char* data, std::size_t from, std::size_t at, const std::string& needle,
                  bool upper) {
  std::size_t p = at + 1;
  for (std::size_t k = needle.size(); k > 0; --k) {
    do {
      if (p == from) return false;
      --p;
    } while (data[p] == '\r');
    const char c = upper ? AnsiUpperChar(data[p]) : data[p];
    if (c != needle[k - 1]) return false;
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
  // Anchors on the needle's last byte with memchr and checks the bytes before
  // it backwards, skipping CRs: a CR met that way is followed by a needle
  // byte, never by an LF, so it is one that reading drops.
  const std::size_t n = needle.size();
  if (n == 0) return NeedleFound::kYes;
  const char last = needle[n - 1];
  const char* from = data;
  const char* const end = data + size;
  while (const char* hit =
             static_cast<const char*>(memchr(from, last, static_cast<std::size_t>(end - from)))) {
    const char* p = hit;
    std::size_t k = n - 1;
    bool undecided = false;
    while (k > 0) {
      --p;
      while (p >= data && *p == '\r') --p;
      if (p < data) {
        undecided = !dataStartsTheText;
        break;
      }
      if (*p != needle[k - 1]) break;
      --k;
    }
    if (k == 0) return NeedleFound::kYes;
    if (undecided) return NeedleFound::kUndecided;
    from = hit + 1;
  }
  return NeedleFound::kNo;
}

LineStops::LineStops(const std::string& needle, const std::string& upperNeedle, bool plainLines)
    : needle_(needle), upperNeedle_(upperNeedle), plainLines_(plainLines) {
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
  if (plainLines_) {
    const bool lfNext = at + 1 < to && data[at + 1] == '\n';
    if (c == '\r' && !lfNext) return true;
    if (c == '\n' && (at == from || data[at - 1] != '\r')) return true;
    if (c != '\r' && lfNext) {
      lineEvent = at + 1;  // an LF without its CR ends the next line
      return true;
    }
  }
  if (!needle_.empty() && c == needle_.back() && NeedleEndsAt(data, from, at, needle_, false)) {
    return true;
  }
  return !upperNeedle_.empty() && AnsiUpperChar(c) == upperNeedle_.back() &&
         NeedleEndsAt(data, from, at, upperNeedle_, true);
}

std::size_t LineStops::FirstStop(const char* data, std::size_t from, std::size_t to) const {
  std::size_t lineEvent = from;
  std::size_t at = from;
  if (plainLines_ && at < to && data[at] == '\n') return from;
#if defined(__SSE2__)
  // Sixteen bytes at a time: a lane is looked at more closely when it holds
  // a stop byte or, for plain lines, when "it is a CR" and "an LF follows"
  // differ. Most blocks of an ordinary source have neither.
  const __m128i stop0 = _mm_set1_epi8(stopBytes_[0]);
  const __m128i stop1 = _mm_set1_epi8(stopBytes_[1]);
  const __m128i stop2 = _mm_set1_epi8(stopBytes_[2]);
  const __m128i stop3 = _mm_set1_epi8(stopBytes_[3]);
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i pairs = plainLines_ ? _mm_set1_epi8(-1) : _mm_setzero_si128();
  while (at + 17 <= to) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 1));
    const __m128i stops =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(here, stop0), _mm_cmpeq_epi8(here, stop1)),
                     _mm_or_si128(_mm_cmpeq_epi8(here, stop2), _mm_cmpeq_epi8(here, stop3)));
    const __m128i ends =
        _mm_and_si128(pairs, _mm_xor_si128(_mm_cmpeq_epi8(here, cr), _mm_cmpeq_epi8(next, lf)));
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

}  // namespace platform
