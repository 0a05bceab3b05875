// The integer filterbank's AVX2 kernel, run where the library's kernel
// choice is avx2 (so on CPUs with AVX2 alone). Built with -mno-avx512f, as
// avx2.cpp is. Only the functions marked
// TARGET use it, so the file builds for the base ISA. The same integers as the
// portable body (fixed_kernel.h), summed in another order: the same bits.
// vpmuldq multiplies the low signed 32 bits of each 64-bit lane, so a 64-bit
// lane carries an int32_t in its low half and the high half is ignored.
#include <immintrin.h>

#include "dispatch.h"
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

// The DCT as the portable body runs it (fixed_kernel.h), its first two
// halvings on eight lanes, then the four 8-point DCTs that remain side by
// side, one per 64-bit lane, and the merges back up across lanes.

INLINE v8 rev(v8 x) {
  return _mm256_permutevar8x32_epi32(x, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0));
}

// mul<Stage>() of eight lanes against factors f[0..7]: the even lanes' and
// the odd lanes' products, each rounded and shifted into its own half.
template <int Stage>
INLINE v8 mul8(v8 x, const int32_t *f) {
  constexpr int q = SYNTHTAB_FIXED_COS_BITS + Stage;
  const v8 half = _mm256_set1_epi64x(int64_t{1} << (q - 1));
  const v8 even = _mm256_mul_epi32(x, load(f)),
           odd = _mm256_mul_epi32(_mm256_srli_epi64(x, 32), load(f + 1));
  return _mm256_blend_epi32(_mm256_srli_epi64(_mm256_add_epi64(even, half), q),
                            _mm256_slli_epi64(_mm256_add_epi64(odd, half), 32 - q), 0xaa);
}

// mul<Stage>(x, k) of the low half of each 64-bit lane (the high half is
// left holding other bits; nothing reads it).
template <int Stage>
INLINE v8 mul4(v8 x, int k) {
  constexpr int q = SYNTHTAB_FIXED_COS_BITS + Stage;
  const v8 p =
      _mm256_mul_epi32(x, _mm256_set1_epi32(synthtab_fixed_tab.cos[32 - (32 >> Stage) + k]));
  return _mm256_srli_epi64(_mm256_add_epi64(p, _mm256_set1_epi64x(int64_t{1} << (q - 1))), q);
}

// dct<N, Stage>() of fixed_kernel.h in each 64-bit lane.
template <int N, int Stage>
INLINE void dct4(const v8 *in, v8 *x) {
  if constexpr (N == 1) {
    x[0] = in[0];
  } else {
    constexpr int h = N / 2;
    v8 sum[h], dif[h], u[h], v[h];
#pragma GCC unroll 4
    for (int i = 0; i < h; i++) {
      sum[i] = _mm256_add_epi32(in[i], in[N - 1 - i]);
      dif[i] = mul4<Stage>(_mm256_sub_epi32(in[i], in[N - 1 - i]), i);
    }
    dct4<h, Stage + 1>(sum, u);
    dct4<h, Stage + 1>(dif, v);
#pragma GCC unroll 4
    for (int k = 0; k < h; k++) {
      x[2 * k] = u[k];
      x[2 * k + 1] = k + 1 < h ? _mm256_add_epi32(v[k], v[k + 1]) : v[k];
    }
  }
}

// dct<32, 0>() of the subbands rounded to kDct bits, into x[0..31].
INLINE void dct32(const int32_t *subbands, int32_t *x) {
  const int32_t *const f = synthtab_fixed_tab.cos;
  v8 in[4], a[2], d[2];
#pragma GCC unroll 4
  for (int v = 0; v < 4; v++) {  // to_dct()
    const v8 s = _mm256_srai_epi32(load(subbands + 8 * v), kIn - kDct - 1);
    in[v] = _mm256_srai_epi32(_mm256_add_epi32(s, _mm256_set1_epi32(1)), 1);
  }
#pragma GCC unroll 2
  for (int v = 0; v < 2; v++) {  // 32 -> 2 x 16
    const v8 hi = rev(in[3 - v]);
    a[v] = _mm256_add_epi32(in[v], hi);
    d[v] = mul8<0>(_mm256_sub_epi32(in[v], hi), f + 8 * v);
  }
  // 16 -> 4 x 8: aa, ad of the sums, da, dd of the differences.
  const v8 ah = rev(a[1]), dh = rev(d[1]);
  const v8 aa = _mm256_add_epi32(a[0], ah), ad = mul8<1>(_mm256_sub_epi32(a[0], ah), f + 16);
  const v8 da = _mm256_add_epi32(d[0], dh), dd = mul8<1>(_mm256_sub_epi32(d[0], dh), f + 16);
  // z[i] = (aa[i], ad[i], da[i], dd[i]), one per 64-bit lane.
  const v8 t0 = _mm256_unpacklo_epi32(aa, ad), t1 = _mm256_unpackhi_epi32(aa, ad);
  const v8 t2 = _mm256_unpacklo_epi32(da, dd), t3 = _mm256_unpackhi_epi32(da, dd);
  const v8 u[4] = {_mm256_unpacklo_epi64(t0, t2), _mm256_unpackhi_epi64(t0, t2),
                   _mm256_unpacklo_epi64(t1, t3), _mm256_unpackhi_epi64(t1, t3)};
  v8 z[8], y[8];
#pragma GCC unroll 4
  for (int i = 0; i < 4; i++) {
    z[i] = _mm256_cvtepu32_epi64(_mm256_castsi256_si128(u[i]));
    z[i + 4] = _mm256_cvtepu32_epi64(_mm256_extracti128_si256(u[i], 1));
  }
  dct4<8, 2>(z, y);

  // g[k] = (A[2k], A[2k + 1], D[2k], D[2k + 1]) for the 16-point DCTs A of
  // the sums and D of the differences; then X[4k] = A[2k],
  // X[4k + 1] = D[2k] + D[2k + 1], X[4k + 2] = A[2k + 1],
  // X[4k + 3] = D[2k + 1] + D[2k + 2].
  v8 g[9], w[8];
#pragma GCC unroll 8
  for (int k = 0; k < 8; k++)
    g[k] = k < 7 ? _mm256_blend_epi32(y[k], _mm256_add_epi32(y[k], y[k + 1]), 0xcc) : y[k];
  g[8] = _mm256_setzero_si256();
#pragma GCC unroll 8
  for (int k = 0; k < 8; k++) {
    const v8 abcd = _mm256_permute4x64_epi64(g[k], 0xd8);  // A[2k], D[2k], A[2k + 1], D[2k + 1]
    const v8 next = _mm256_permute4x64_epi64(_mm256_blend_epi32(g[k], g[k + 1], 0x30), 0xaf);
    w[k] = _mm256_blend_epi32(abcd, _mm256_add_epi32(abcd, next), 0xcc);
  }
#pragma GCC unroll 4
  for (int m = 0; m < 4; m++)
    _mm256_storeu_si256(reinterpret_cast<v8 *>(x + 8 * m), lows(w[2 * m], w[2 * m + 1]));
}

template <typename T>
TARGET size_t block(synthtab_fixed *f, const int32_t *subbands, T *out, ptrdiff_t stride) {
  int32_t x[32];
  dct32(subbands, x);
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

}  // namespace
}  // namespace synthtab::fixed

// Its entries (dispatch.h).
namespace synthtab::kernel::avx2 {

TARGET std::size_t fixed_s16(synthtab_fixed *f, const int32_t *subbands, int16_t *out,
                             std::ptrdiff_t stride) {
  return fixed::block(f, subbands, out, stride);
}

TARGET std::size_t fixed_s32(synthtab_fixed *f, const int32_t *subbands, int32_t *out,
                             std::ptrdiff_t stride) {
  return fixed::block(f, subbands, out, stride);
}

}  // namespace synthtab::kernel::avx2
