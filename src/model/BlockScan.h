// Scans over blocks of samples for the samplers: pure functions that give the same answers as
// the plain comparisons written beside them, a few values at a time.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ondrevo {

// Whether no value is infinite or NaN. On the bits, so that the loop vectorises: adding one to
// an exponent of all ones carries into the sign bit, and only those values have one.
inline bool AllFinite(const double* v, std::size_t n) {
  constexpr std::uint64_t kExponent = 0x7ff0000000000000, kExponentOne = 0x0010000000000000;
  std::uint64_t carry = 0;
  for (std::size_t j = 0; j < n; ++j)
    carry |= (std::bit_cast<std::uint64_t>(v[j]) & kExponent) + kExponentOne;
  return carry >> 63 == 0;
}

// Whether every value lies within [lo, hi] (none is then infinite or NaN), and whether all of
// them have the bits of the first.
struct BlockShape {
  bool inside, uniform;
};
inline BlockShape ShapeOf(const double* v, std::size_t n, double lo, double hi) {
  bool inside = true, uniform = true;
  std::size_t j = 0;
#if defined(__SSE2__)
  // Two values at a time: the compiler does not vectorise reductions of comparisons.
  const __m128d lo2 = _mm_set1_pd(lo), hi2 = _mm_set1_pd(hi);
  const __m128i first = _mm_set1_epi64x(std::bit_cast<std::int64_t>(v[0]));
  __m128d outside = _mm_setzero_pd();
  __m128i differ = _mm_setzero_si128();
  for (; j + 2 <= n; j += 2) {
    const __m128d x = _mm_loadu_pd(v + j);
    outside = _mm_or_pd(outside, _mm_or_pd(_mm_cmpnge_pd(x, lo2), _mm_cmpnle_pd(x, hi2)));
    differ = _mm_or_si128(differ, _mm_xor_si128(_mm_castpd_si128(x), first));
  }
  inside = _mm_movemask_pd(outside) == 0;
  uniform = _mm_movemask_epi8(_mm_cmpeq_epi8(differ, _mm_setzero_si128())) == 0xffff;
#endif
  const std::uint64_t first64 = std::bit_cast<std::uint64_t>(v[0]);
  for (; j < n; ++j) {
    inside &= (v[j] >= lo) & (v[j] <= hi);
    uniform &= std::bit_cast<std::uint64_t>(v[j]) == first64;
  }
  return {inside, uniform};
}

// The count sampler's common stretch, where one waveform varies and every sample starts a new
// point that at once joins the point kept before it: the first j in [from, to) at which that
// ends, because x[j] is within epsilon of x[j - 1] or x[j - 1] lies farther than tol from the
// kept level; to when it does not end. The values are finite; x[from - 1] is read.
inline std::size_t MergingRunEnd(const double* x, std::size_t from, std::size_t to, double level,
                                 double tol, double eps) {
  std::size_t j = from;
#if defined(__SSE2__)
  const __m128d eps2 = _mm_set1_pd(eps), level2 = _mm_set1_pd(level), tol2 = _mm_set1_pd(tol);
  const __m128d abs = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffff));
  auto runs = [&](std::size_t i) {  // the run goes on through i and i + 1
    const __m128d prev = _mm_loadu_pd(x + i - 1);
    const __m128d d = _mm_and_pd(_mm_sub_pd(_mm_loadu_pd(x + i), prev), abs);
    const __m128d e = _mm_and_pd(_mm_sub_pd(level2, prev), abs);
    return _mm_and_pd(_mm_cmpgt_pd(d, eps2), _mm_cmple_pd(e, tol2));
  };
  for (; j + 4 <= to; j += 4)
    if (_mm_movemask_pd(_mm_and_pd(runs(j), runs(j + 2))) != 3) break;
#endif
  while (j < to && std::fabs(x[j] - x[j - 1]) > eps && std::fabs(level - x[j - 1]) <= tol) ++j;
  return j;
}

}  // namespace ondrevo
