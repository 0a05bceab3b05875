// The integer filterbank's AVX2 kernel, chosen at run time on CPUs with
// AVX2. Only the functions marked TARGET use it, so the file builds for the
// base ISA and its CPU check runs anywhere. The same integers as the
// portable body (fixed_kernel.h), summed in another order: the same bits.
// vpmuldq multiplies the low signed 32 bits of each 64-bit lane, so a 64-bit
// lane carries an int32_t in its low half and the high half is ignored.
#include <cpuid.h>
#include <immintrin.h>

#include "fixed_kernel.h"

#define TARGET __attribute__((target("avx2")))
#define INLINE TARGET inline __attribute__((always_inline))

namespace synthtab::fixed {
namespace {

using v8 = __m256i;

INLINE v8 load(const int32_t *p) { return _mm256_loadu_si256(reinterpret_cast<const v8 *>(p)); }

// The 16 products of a history row and a window row from its column t: lo
// and hi hold slots 0..7 and 8..15 (even slots in the low halves), lo1 and
// hi1 the same shifted down a half (odd slots); w points at column t.
INLINE v8 dot(const int32_t *w, v8 lo, v8 lo1, v8 hi, v8 hi1) {
  const v8 a = _mm256_add_epi64(_mm256_mul_epi32(lo, load(w)), _mm256_mul_epi32(lo1, load(w + 1)));
  const v8 b =
      _mm256_add_epi64(_mm256_mul_epi32(hi, load(w + 8)), _mm256_mul_epi32(hi1, load(w + 9)));
  return _mm256_add_epi64(a, b);
}

// The lane sums of a[0..3], in that order.
INLINE v8 reduce(const v8 *a) {
  const v8 u =
      _mm256_add_epi64(_mm256_unpacklo_epi64(a[0], a[1]), _mm256_unpackhi_epi64(a[0], a[1]));
  const v8 v =
      _mm256_add_epi64(_mm256_unpacklo_epi64(a[2], a[3]), _mm256_unpackhi_epi64(a[2], a[3]));
  return _mm256_add_epi64(_mm256_permute2x128_si256(u, v, 0x20),
                          _mm256_permute2x128_si256(u, v, 0x31));
}

// The 32 window sums, s[q] holding outputs 4q..4q+3. Rows in order, each
// group of four outputs reduced as soon as its rows are done, so few sums
// are live at once.
INLINE void sums(const int32_t *run, unsigned t, v8 *s) {
  const int32_t *const w = synthtab_fixed_tab.win[0] + t;
  v8 acc[32];
#pragma GCC unroll 17
  for (int j = 0; j <= 16; j++) {
    const v8 lo = load(run + 16 * j), hi = load(run + 16 * j + 8);
    const v8 lo1 = _mm256_srli_epi64(lo, 32), hi1 = _mm256_srli_epi64(hi, 32);
    acc[j] = dot(w + 32 * j, lo, lo1, hi, hi1);
    if (j > 0 && j < 16) acc[32 - j] = dot(w + 32 * (32 - j), lo, lo1, hi, hi1);
    if (j % 4 == 3) s[j / 4] = reduce(acc + j - 3);
    if (j % 4 == 0 && j > 0) s[8 - j / 4] = reduce(acc + 32 - j);
  }
}

// Rounding to a shift of n, halves away from zero: acc + 2^(n-1) - (acc < 0).
INLINE v8 round(v8 acc, int n) {
  const v8 neg = _mm256_cmpgt_epi64(_mm256_setzero_si256(), acc);
  return _mm256_add_epi64(_mm256_add_epi64(acc, _mm256_set1_epi64x(int64_t{1} << (n - 1))), neg);
}

// The low halves of a (outputs 0..3) and b (4..7) as eight int32_t in order.
INLINE v8 lows(v8 a, v8 b) {
  const v8 m = _mm256_blend_epi32(a, _mm256_slli_epi64(b, 32), 0xaa);  // a0 b0 a1 b1 ...
  return _mm256_permutevar8x32_epi32(m, _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
}

// put() for eight outputs: the top word of the rounded sum, shifted.
INLINE size_t put8(v8 a, v8 b, int16_t *out, ptrdiff_t stride) {
  const v8 top =
      lows(_mm256_srli_epi64(round(a, kShift16), 32), _mm256_srli_epi64(round(b, kShift16), 32));
  const v8 r = _mm256_srai_epi32(top, kShift16 - 32);
  const v8 c =
      _mm256_max_epi32(_mm256_min_epi32(r, _mm256_set1_epi32(32767)), _mm256_set1_epi32(-32768));
  const unsigned same = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(c, r)));
  const __m128i p =
      _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packs_epi32(c, c), 0x08));
  if (stride == 1) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), p);
  } else {
    alignas(16) int16_t q[8];
    _mm_store_si128(reinterpret_cast<__m128i *>(q), p);
    for (int k = 0; k < 8; k++) out[k * stride] = q[k];
  }
  return 8 - __builtin_popcount(same);
}

// put() for four 32-bit outputs: in range when the rounded sum v lies in
// [-2^54, 2^54), that is when (v + 2^54) >> 55 is 0 as unsigned.
INLINE v8 put4(v8 acc, unsigned *ok) {
  const v8 v = round(acc, kShift32);
  const v8 in = _mm256_cmpeq_epi64(
      _mm256_srli_epi64(_mm256_add_epi64(v, _mm256_set1_epi64x(int64_t{1} << 54)), 55),
      _mm256_setzero_si256());
  const v8 clip = _mm256_blendv_epi8(_mm256_set1_epi64x(INT32_MAX), _mm256_set1_epi64x(INT32_MIN),
                                     _mm256_cmpgt_epi64(_mm256_setzero_si256(), v));
  *ok += __builtin_popcount(_mm256_movemask_pd(_mm256_castsi256_pd(in)));
  return _mm256_blendv_epi8(clip, _mm256_srli_epi64(v, kShift32), in);
}

INLINE size_t put8(v8 a, v8 b, int32_t *out, ptrdiff_t stride) {
  unsigned ok = 0;
  const v8 r = lows(put4(a, &ok), put4(b, &ok));
  if (stride == 1) {
    _mm256_storeu_si256(reinterpret_cast<v8 *>(out), r);
  } else {
    alignas(32) int32_t q[8];
    _mm256_store_si256(reinterpret_cast<v8 *>(q), r);
    for (int k = 0; k < 8; k++) out[k * stride] = q[k];
  }
  return 8 - ok;
}

template <typename T>
TARGET size_t block(synthtab_fixed *f, const int32_t *subbands, T *out, ptrdiff_t stride) {
  int32_t s[32], x[32];
  for (int k = 0; k < 32; k++) s[k] = to_dct(subbands[k]);
  dct<32, 0>(s, x);
  const int32_t *run;
  const unsigned t = store(f, x, &run);
  v8 sum[8];
  sums(run, t, sum);
  size_t clipped = 0;
#pragma GCC unroll 4
  for (int q = 0; q < 4; q++)
    clipped += put8(sum[2 * q], sum[2 * q + 1], out + 8 * q * stride, stride);
  return clipped;
}

// AVX2 in the CPU, and YMM state saved by the OS.
bool supported() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_AVX) || !(c & bit_OSXSAVE)) return false;
  unsigned lo, hi;
  __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  if ((lo & 6) != 6) return false;
  return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX2);
}

}  // namespace

const Kernel kAvx2 = {"avx2", supported, block<int16_t>, block<int32_t>};

}  // namespace synthtab::fixed
