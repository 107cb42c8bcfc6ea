// Skipping through long text to the next byte that matters, as memchr does:
// sixteen bytes at a time where the machine has SSE2, counting the line
// breaks passed on the way, so that a scene of geometry is crossed without
// looking at it byte by byte. The text's lines are joined by LF alone (the
// line reader has made every CR and CRLF one).
#ifndef STRATAMIX_SCENE_SCENE_SCAN_H
#define STRATAMIX_SCENE_SCENE_SCAN_H

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace strata::scene {

// The line a reader stands on and the offset at which that line begins.
struct LinePosition {
  std::uint64_t line = 1;
  std::uint64_t line_start = 0;
};

// Bytes a scan may read past the end it is given (never looked at).
constexpr std::size_t kScanPadding = 32;

// Passes the `n` bytes at `p`, the first at offset `at` of the text.
inline void pass_bytes(const char* p, std::size_t n, std::uint64_t at, LinePosition* pos) {
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] == '\n') {
      ++pos->line;
      pos->line_start = at + i + 1;
    }
  }
}

namespace detail {

// Set bits in a mask that holds few: a block of text has a line break or
// two. (Not __builtin_popcount, which is a library call where the machine
// has no popcount instruction.)
inline unsigned bit_count(std::uint32_t x) {
  unsigned n = 0;
  for (; x != 0; x &= x - 1) {
    ++n;
  }
  return n;
}

// Passes a block, given the mask of its LFs (bit i for byte i).
inline void pass_block(std::uint32_t lf, std::uint64_t at, LinePosition* pos) {
  if (lf == 0) {
    return;
  }
  pos->line += bit_count(lf);
  pos->line_start = at + static_cast<unsigned>(32 - __builtin_clz(lf));
}

template <char... Bytes>
constexpr bool in_set(char c) {
  return ((c == Bytes) || ...);
}

#if defined(__SSE2__)
// Bit i set where byte i of the 16 at p is one of Bytes; the same for LF.
template <char... Bytes>
inline void masks16(const char* p, std::uint32_t* hits, std::uint32_t* lf) {
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i any = _mm_setzero_si128();
  ((any = _mm_or_si128(any, _mm_cmpeq_epi8(block, _mm_set1_epi8(Bytes)))), ...);
  *hits = static_cast<std::uint32_t>(_mm_movemask_epi8(any));
  *lf = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('\n'))));
}
#endif

}  // namespace detail

// The first byte of [p, end) that is one of `Bytes`, or `end`; the line
// breaks before it are passed. `at` is the offset of `p` in the text, and
// kScanPadding readable bytes must follow `end`.
template <char... Bytes>
const char* find_first(const char* p, const char* end, std::uint64_t at, LinePosition* pos) {
#if defined(__SSE2__)
  // 32 bytes a step, as two blocks of 16 whose masks are joined.
  while (p < end) {
    std::uint32_t hits = 0;
    std::uint32_t lf = 0;
    detail::masks16<Bytes...>(p, &hits, &lf);
    const auto left = static_cast<std::size_t>(end - p);
    unsigned n = 16;
    if (left > 16) {
      std::uint32_t hits2 = 0;
      std::uint32_t lf2 = 0;
      detail::masks16<Bytes...>(p + 16, &hits2, &lf2);
      hits |= hits2 << 16;
      lf |= lf2 << 16;
      n = 32;
    }
    if (left < n) {
      n = static_cast<unsigned>(left);
    }
    const std::uint32_t valid = n == 32 ? 0xffffffffu : (1u << n) - 1u;
    hits &= valid;
    if (hits != 0) {
      const auto k = static_cast<unsigned>(__builtin_ctz(hits));
      const std::uint32_t before = (1u << k) - 1u;
      detail::pass_block(lf & before, at, pos);
      return p + k;
    }
    detail::pass_block(lf & valid, at, pos);
    p += n;
    at += n;
  }
  return end;
#else
  const char* start = p;
  while (p < end && !detail::in_set<Bytes...>(*p)) {
    ++p;
  }
  pass_bytes(start, static_cast<std::size_t>(p - start), at, pos);
  return p;
#endif
}

}  // namespace strata::scene

#endif  // STRATAMIX_SCENE_SCENE_SCAN_H
