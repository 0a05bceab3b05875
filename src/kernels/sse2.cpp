// The SSE2 kernel: the two-lane body of pair.h in SSE2 registers (part of
// the base ISA on x86-64), shared with neon. Its own: the 16-bit conversion
// and its entry points (dispatch.h).
#include <emmintrin.h>

#include "dispatch.h"
#include "pair.h"

namespace synthtab::kernel::sse2 {
namespace {

struct Sse2 {
  static constexpr bool kSlotPointers = false;  // see pair.h
  // Round half away from zero as trunc(x + copysign(0.5 - 2^-54, x)), which is
  // exact for every double; clamp just inside (-32769, 32768) so truncation
  // lands on [-32768, 32767]; a clamped value or NaN counts as clipped, and NaN
  // becomes 0. In the usual block every rounded sample fits (nothing clips,
  // nothing is NaN) and rounding is all there is to do.
  static std::size_t pcm16(const double *in, int16_t *out, std::ptrdiff_t stride) {
    const __m128d sign = _mm_set1_pd(-0.0), half = _mm_set1_pd(0.49999999999999994);
    __m128i q[16];
    // Round all, then see whether every result fits 16 bits: q + 32768 has no
    // high bits (NaN and overflow give INT32_MIN, which fails too).
    __m128i high = _mm_setzero_si128();
#pragma GCC unroll 16
    for (int i = 0; i < 16; i++) {
      const __m128d x = _mm_loadu_pd(in + 2 * i);
      q[i] = _mm_cvttpd_epi32(_mm_add_pd(x, _mm_or_pd(_mm_and_pd(x, sign), half)));
      if (i % 2)
        high = _mm_or_si128(
            high, _mm_add_epi32(_mm_unpacklo_epi64(q[i - 1], q[i]), _mm_set1_epi32(32768)));
    }
    std::size_t clipped = 0;
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_srli_epi32(high, 16), _mm_setzero_si128())) !=
        0xffff) {
      const __m128d lo = _mm_set1_pd(-32768.99999999999), hi = _mm_set1_pd(32767.999999999996);
      __m128i kept = _mm_setzero_si128();
      for (int i = 0; i < 16; i++) {
        const __m128d x = _mm_loadu_pd(in + 2 * i);
        const __m128d y = _mm_add_pd(x, _mm_or_pd(_mm_and_pd(x, sign), half));
        const __m128d c = _mm_min_pd(_mm_max_pd(_mm_and_pd(y, _mm_cmpord_pd(y, y)), lo), hi);
        kept = _mm_sub_epi64(kept, _mm_castpd_si128(_mm_cmpeq_pd(c, y)));
        q[i] = _mm_cvttpd_epi32(c);
      }
      alignas(16) int64_t n[2];
      _mm_store_si128(reinterpret_cast<__m128i *>(n), kept);
      clipped = static_cast<std::size_t>(32 - n[0] - n[1]);
    }
#pragma GCC unroll 4
    for (int i = 0; i < 4; i++) {
      const __m128i a = _mm_unpacklo_epi64(q[4 * i], q[4 * i + 1]);
      const __m128i b = _mm_unpacklo_epi64(q[4 * i + 2], q[4 * i + 3]);
      const __m128i p = _mm_packs_epi32(a, b);
      if (stride == 1) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 8 * i), p);
      } else {
        int16_t *o = out + 8 * i * stride;
        o[0] = static_cast<int16_t>(_mm_extract_epi16(p, 0));
        o[stride] = static_cast<int16_t>(_mm_extract_epi16(p, 1));
        o[2 * stride] = static_cast<int16_t>(_mm_extract_epi16(p, 2));
        o[3 * stride] = static_cast<int16_t>(_mm_extract_epi16(p, 3));
        o[4 * stride] = static_cast<int16_t>(_mm_extract_epi16(p, 4));
        o[5 * stride] = static_cast<int16_t>(_mm_extract_epi16(p, 5));
        o[6 * stride] = static_cast<int16_t>(_mm_extract_epi16(p, 6));
        o[7 * stride] = static_cast<int16_t>(_mm_extract_epi16(p, 7));
      }
    }
    return clipped;
  }
};
using Body = pair::Body<Sse2>;

}  // namespace

SYNTHTAB_PAIR_ENTRIES(Body)

}  // namespace synthtab::kernel::sse2
