// The AVX2 kernel: four doubles per register and fused multiply-adds, chosen
// at run time on CPUs with AVX2 and FMA. Only the functions marked TARGET use
// those instructions, so the file builds for the base ISA and its CPU check
// runs anywhere. Scheme in kernel.h; this kernel keeps the transposed
// layout and sums across outputs, four at a time: each output's sum is one
// chain of fused multiply-adds over the 16 slots, against a window
// transposed to match, so no sum crosses lanes (bar output 0's): one
// process-wide copy that make_decode_tables() builds (kernel.h).
//
// The analysis (also here) takes four f at a time through its window, and
// its DCT-III runs as four 8-point ones side by side in the lanes.
//
// Every operation, fused ones included, is one IEEE operation per lane in the
// order written, so the results depend on the source alone. The file is
// built with -mno-avx512f: whatever -march a build uses, this kernel
// executes AVX2 and FMA, no more (src/CMakeLists.txt).
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "dispatch.h"

#define TARGET __attribute__((target("avx2,fma")))
#define INLINE TARGET inline __attribute__((always_inline))

namespace synthtab::kernel::avx2 {
namespace {

using v4 = __m256d;
using v2 = __m128d;

TARGET inline v4 rev(v4 x) { return _mm256_permute4x64_pd(x, 0x1b); }
TARGET inline v4 bcast(const double *p) { return _mm256_broadcast_sd(p); }

// One halving of a 2n-point DCT on the four lanes at once: lo[i], hi[i] are
// z[i] and z[2n-1-i]; sums to s, factor-scaled differences to d.
template <int n>
TARGET inline void halve(const v4 *z, v4 *s, v4 *d, const double *f) {
#pragma GCC unroll 4
  for (int i = 0; i < n; i++) {
    const v4 lo = z[i], hi = z[2 * n - 1 - i];
    s[i] = _mm256_add_pd(lo, hi);
    d[i] = _mm256_mul_pd(_mm256_sub_pd(lo, hi), bcast(f + i));
  }
}

// The 8-point DCT of each lane of z[0..7], in place.
INLINE void dct8(v4 *z) {
  v4 a[8], b[8];
  halve<4>(z, a, a + 4, pnts[2]);  // a: [sums | differences]
  halve<2>(a, b, b + 2, pnts[3]);
  halve<2>(a + 4, b + 4, b + 6, pnts[3]);
  halve<1>(b, a, a + 1, pnts[4]);  // 2-point blocks: [sum, difference]
#pragma GCC unroll 4
  for (int k = 2; k < 8; k += 2) {
    halve<1>(b + k, a + k, a + k + 1, pnts[4]);
  }
  // Merge the 2-point DCTs into 4-point ones, then those into the 8-point one:
  // X[2k] = U[k], X[2k + 1] = V[k] + V[k + 1].
#pragma GCC unroll 2
  for (int k = 0; k < 8; k += 4) {
    b[k] = a[k];
    b[k + 1] = _mm256_add_pd(a[k + 2], a[k + 3]);
    b[k + 2] = a[k + 1];
    b[k + 3] = a[k + 3];
  }
#pragma GCC unroll 4
  for (int k = 0; k < 4; k++) {
    z[2 * k] = b[k];
    z[2 * k + 1] = k < 3 ? _mm256_add_pd(b[4 + k], b[5 + k]) : b[7];
  }
}

// 4x4 transpose: lane l of r[i] = lane i of c[l].
TARGET inline void transpose(const v4 *c, v4 *r) {
  const v4 t0 = _mm256_unpacklo_pd(c[0], c[1]), t1 = _mm256_unpackhi_pd(c[0], c[1]);
  const v4 t2 = _mm256_unpacklo_pd(c[2], c[3]), t3 = _mm256_unpackhi_pd(c[2], c[3]);
  r[0] = _mm256_permute2f128_pd(t0, t2, 0x20);
  r[1] = _mm256_permute2f128_pd(t1, t3, 0x20);
  r[2] = _mm256_permute2f128_pd(t0, t2, 0x31);
  r[3] = _mm256_permute2f128_pd(t1, t3, 0x31);
}

// The block's X[n] into slot `slot` of the history (table in kernel.h; this
// layout keeps X, not -X), transposed: fwd and back point at the slot's rows
// 1..16 in run p and run p ^ 1, row0 at its shared row 0. Run p gets rows
// 1..15 = X[17..31] (row 16 keeps its 0; the store of X[16] before row 1
// lands in the slot's padding), run p ^ 1 rows 1..16 = X[15..0], row 0 X[16].
// The 32-point DCT: two plain halvings leave four 8-point DCTs, of
// aa = sums of sums, ad, da and dd, which run side by side in the
// lanes of z[i] = (aa[i], ad[i], da[i], dd[i]); the merges back up cross lanes.
INLINE void dct_store(const double *s, double *fwd, double *back, double *row0) {
  const double *f0 = pnts[0], *f1 = pnts[1];
  v4 a[4], d[4], q[8], z[8];
#pragma GCC unroll 4
  for (int v = 0; v < 4; v++) {
    const v4 lo = _mm256_loadu_pd(s + 4 * v), hi = rev(_mm256_loadu_pd(s + 28 - 4 * v));
    a[v] = _mm256_add_pd(lo, hi);
    d[v] = _mm256_mul_pd(_mm256_sub_pd(lo, hi), _mm256_loadu_pd(f0 + 4 * v));
  }
#pragma GCC unroll 2
  for (int v = 0; v < 2; v++) {
    const v4 ah = rev(a[3 - v]), dh = rev(d[3 - v]), f = _mm256_loadu_pd(f1 + 4 * v);
    q[v] = _mm256_add_pd(a[v], ah);                        // aa
    q[2 + v] = _mm256_mul_pd(_mm256_sub_pd(a[v], ah), f);  // ad
    q[4 + v] = _mm256_add_pd(d[v], dh);                    // da
    q[6 + v] = _mm256_mul_pd(_mm256_sub_pd(d[v], dh), f);  // dd
  }
  const v4 c0[4] = {q[0], q[2], q[4], q[6]}, c1[4] = {q[1], q[3], q[5], q[7]};
  transpose(c0, z);
  transpose(c1, z + 4);
  dct8(z);

  // g[k] = (A[2k], A[2k + 1], D[2k], D[2k + 1]) for the 16-point DCTs A of
  // the sums and D of the differences; then X[4k] = A[2k],
  // X[4k + 2] = A[2k + 1], X[4k + 1] = D[2k] + D[2k + 1],
  // X[4k + 3] = D[2k + 1] + D[2k + 2]: lanes 2, 3 of g + (., ., g[3], g'[2]).
  v4 g[9];
#pragma GCC unroll 8
  for (int k = 0; k < 8; k++)
    g[k] = k < 7 ? _mm256_blend_pd(z[k], _mm256_add_pd(z[k], z[k + 1]), 0xa) : z[k];
  g[8] = _mm256_setzero_pd();
#pragma GCC unroll 8
  for (int k = 7; k >= 0; k--) {
    const v4 x = _mm256_blend_pd(g[k], _mm256_add_pd(g[k], _mm256_shuffle_pd(g[k], g[k + 1], 4)),
                                 0xc);  // 4k, +2, +1, +3
    if (k >= 4) {
      const v4 y = _mm256_permute4x64_pd(x, 0xd8);  // X[4k .. 4k + 3]
      _mm256_storeu_pd(fwd - 1 + 4 * (k - 4), y);
      if (k == 4) _mm_storel_pd(row0, _mm256_castpd256_pd128(y));
    } else {
      _mm256_storeu_pd(back + 4 * (3 - k), _mm256_permute4x64_pd(x, 0x27));  // reversed
    }
  }
}

// Output groups: window() leaves outputs kGroup[i][0..3] in lanes of x[i].
constexpr int kGroup[8][4] = {{1, 2, 3, 4},     {5, 6, 7, 8},     {9, 10, 11, 12},
                              {13, 14, 15, 16}, {20, 21, 22, 23}, {24, 25, 26, 27},
                              {28, 29, 30, 31}, {0, 17, 18, 19}};

INLINE std::size_t to_pcm16(v4 *x, int16_t *out, std::ptrdiff_t stride);
template <class Out>
INLINE void store_groups(const v4 *x, Out *out, std::ptrdiff_t stride);

// The four doubles of x as floats in the even lanes, in order or reversed.
INLINE __m256 spread(v4 x) {
  return _mm256_castsi256_ps(_mm256_cvtepu32_epi64(_mm_castps_si128(_mm256_cvtpd_ps(x))));
}
INLINE __m256 spread_reversed(v4 x, __m256i order) {
  return _mm256_permutevar8x32_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(x)), order);
}

// Interleaved stereo, every other double or float, by masked stores of the
// window's sums as they are: acc[q] holds outputs 1 + 4q .. 4 + 4q, acc[4 + q]
// outputs 31 - 4q down to 28 - 4q (acc[7]: 19, 18, 17, unused), o0 output 0.
template <class Out>
INLINE void store2(const v4 *acc, v2 o0, Out *out) {
  if constexpr (sizeof(Out) == sizeof(float)) {
    // Each group's four floats spread to the even lanes of a register, in
    // output order, and written by one masked store. Group 7 (19, 18, 17,
    // unused) writes the unused one over output 16, which group 3 rewrites.
    const __m256i even = _mm256_set_epi32(0, -1, 0, -1, 0, -1, 0, -1);
    const __m256i down = _mm256_set_epi32(0, 0, 1, 1, 2, 2, 3, 3);
    _mm256_maskstore_ps(out + 32, even, spread_reversed(acc[7], down));
#pragma GCC unroll 4
    for (int q = 0; q < 4; q++) {
      _mm256_maskstore_ps(out + 2 * (1 + 4 * q), even, spread(acc[q]));
      if (q < 3)
        _mm256_maskstore_ps(out + 2 * (28 - 4 * q), even, spread_reversed(acc[4 + q], down));
    }
    _mm_store_ss(out, _mm_cvtsd_ss(_mm_setzero_ps(), o0));
  } else {
    const __m256i even = _mm256_set_epi64x(0, -1, 0, -1);
#pragma GCC unroll 4
    for (int q = 0; q < 4; q++) {
      _mm256_maskstore_pd(out + 2 * (1 + 4 * q), even, _mm256_permute4x64_pd(acc[q], 0x50));
      _mm256_maskstore_pd(out + 2 * (3 + 4 * q), even, _mm256_permute4x64_pd(acc[q], 0xfa));
      const v4 b = acc[4 + q];
      if (q < 3) {
        _mm256_maskstore_pd(out + 2 * (28 - 4 * q), even,
                            _mm256_permute4x64_pd(b, 0xaf));  // 3, 3, 2, 2
        _mm256_maskstore_pd(out + 2 * (30 - 4 * q), even,
                            _mm256_permute4x64_pd(b, 0x05));  // 1, 1, 0, 0
      } else {
        _mm256_maskstore_pd(out + 34, even, _mm256_permute4x64_pd(b, 0x5a));
        _mm_store_sd(out + 38, _mm256_castpd256_pd128(b));
      }
    }
    _mm_store_sd(out, o0);
  }
}

// The 32 outputs of block t, to out as doubles or (with Out = int16_t) as
// 16-bit PCM at the stride, returning the number clipped. Each slot's rows
// 1..16 are four loads, each used by two fused chains (in slot order):
// forward for outputs 1..16, backward for outputs 31..17, reversed at the
// end. Output 0 reads row 0 alone, four slots per chain, summed at the end.
template <class Out>
INLINE std::size_t window(const double *run, const double *w, const double *w0, const double *row0,
                          Out *out, std::ptrdiff_t stride) {
  v4 acc[8];
#pragma GCC unroll 4
  for (int q = 0; q < 4; q++) {
    const v4 x = _mm256_load_pd(run + 4 * q);
    acc[q] = _mm256_mul_pd(x, _mm256_load_pd(w + 4 * q));
    acc[4 + q] = _mm256_mul_pd(x, _mm256_load_pd(w + 16 + 4 * q));
  }
#pragma GCC unroll 16
  for (int s = 1; s < kSlots; s++) {
#pragma GCC unroll 4
    for (int q = 0; q < 4; q++) {
      const v4 x = _mm256_load_pd(run + kTSlot * s + 4 * q);
      acc[q] = _mm256_fmadd_pd(x, _mm256_load_pd(w + 32 * s + 4 * q), acc[q]);
      acc[4 + q] = _mm256_fmadd_pd(x, _mm256_load_pd(w + 32 * s + 16 + 4 * q), acc[4 + q]);
    }
  }
  v4 a0 = _mm256_mul_pd(_mm256_load_pd(row0), _mm256_loadu_pd(w0));
#pragma GCC unroll 4
  for (int i = 1; i < 4; i++)
    a0 = _mm256_fmadd_pd(_mm256_load_pd(row0 + 4 * i), _mm256_loadu_pd(w0 + 4 * i), a0);
  const v2 a2 = _mm_add_pd(_mm256_castpd256_pd128(a0), _mm256_extractf128_pd(a0, 1));
  const v2 o0 = _mm_add_sd(a2, _mm_unpackhi_pd(a2, a2));
  if constexpr (sizeof(Out) == sizeof(double)) {
    if (stride == 1) {
#pragma GCC unroll 4
      for (int q = 3; q >= 0; q--) _mm256_storeu_pd(out + 28 - 4 * q, rev(acc[4 + q]));
#pragma GCC unroll 4
      for (int q = 3; q >= 0; q--) _mm256_storeu_pd(out + 1 + 4 * q, acc[q]);  // over out[16]
      _mm_store_sd(out, o0);
      return 0;
    }
  }
  if constexpr (sizeof(Out) != sizeof(int16_t)) {
    if (stride == 2) return store2(acc, o0, out), 0;
  }
  v4 x[8] = {acc[0],      acc[1],
             acc[2],      acc[3],
             rev(acc[6]), rev(acc[5]),
             rev(acc[4]), _mm256_blend_pd(rev(acc[7]), _mm256_castpd128_pd256(o0), 1)};
  if constexpr (sizeof(Out) == sizeof(int16_t)) {
    return to_pcm16(x, out, stride);
  } else {
    store_groups(x, out, stride);
    return 0;
  }
}

// The history, then the sums of block t, written in the format of Out.
template <class Out>
INLINE std::size_t block(double *h, const double *subbands, Out *out, std::ptrdiff_t stride,
                         unsigned t) {
  const unsigned p = t & 1, slot = (16 - t) & 15;
  double *const run = h + p * kTRun + kTPad, *const row0 = h + kTRow0;
  dct_store(subbands, run + kTSlot * slot, h + (p ^ 1) * kTRun + kTPad + kTSlot * slot,
            row0 + slot);
  const TransposedWindow &win = g_transposed_window;
  return window(run, win.w + 32 * t, win.w0 + t, row0, out, stride);
}

// Stride 1 inlined; stride 2 (interleaved stereo) and any other each in a
// function of its own, so that each is compiled as if alone and stride 2
// with its offsets known.
template <class Out>
TARGET __attribute__((noinline)) std::size_t stereo(double *h, const double *subbands, Out *out,
                                                    unsigned t) {
  return block(h, subbands, out, 2, t);
}

template <class Out>
TARGET __attribute__((noinline)) std::size_t strided(double *h, const double *subbands, Out *out,
                                                     std::ptrdiff_t stride, unsigned t) {
  return block(h, subbands, out, stride, t);
}

template <class Out>
INLINE std::size_t entry(double *h, const double *subbands, Out *out, std::ptrdiff_t stride,
                         unsigned t) {
  if (stride == 1) return block(h, subbands, out, 1, t);
  if (stride == 2) return stereo(h, subbands, out, t);
  return strided(h, subbands, out, stride, t);
}

}  // namespace

TARGET void f64(double *h, const double *subbands, double *out, std::ptrdiff_t stride, unsigned t) {
  entry(h, subbands, out, stride, t);
}

TARGET void f32(double *h, const double *subbands, float *out, std::ptrdiff_t stride, unsigned t) {
  entry(h, subbands, out, stride, t);
}

TARGET std::size_t s16(double *h, const double *subbands, int16_t *out, std::ptrdiff_t stride,
                       unsigned t) {
  return entry(h, subbands, out, stride, t);
}

namespace {

// Outputs other than doubles at stride 1 leave window() in groups of four
// (outputs 1 + 4q .. 4 + 4q, 20 + 4q .. 23 + 4q, and 0 with 17..19). 16-bit
// output converts as the SSE2 kernel's conversion (see there), four samples
// at a time, with a shortcut for the usual block where every rounded sample
// fits (nothing clips, nothing is NaN).
// Doubles or floats, group by group, to out at the stride.
template <class Out>
INLINE void store_groups(const v4 *x, Out *out, std::ptrdiff_t stride) {
  if constexpr (sizeof(Out) == sizeof(float)) {
    if (stride == 1) {
      // Group 7's 17..19 first: its store at 16 is rewritten by group 3's.
      _mm_storeu_ps(out + 16, _mm256_cvtpd_ps(x[7]));
#pragma GCC unroll 7
      for (int i = 0; i < 7; i++) _mm_storeu_ps(out + kGroup[i][0], _mm256_cvtpd_ps(x[i]));
      _mm_store_ss(out, _mm256_cvtpd_ps(x[7]));
      return;
    }
#pragma GCC unroll 8
    for (int i = 0; i < 8; i++) {
      const __m128 f = _mm256_cvtpd_ps(x[i]);
#pragma GCC unroll 4
      for (int l = 0; l < 4; l++) out[kGroup[i][l] * stride] = f[l];
    }
  } else {
#pragma GCC unroll 8
    for (int i = 0; i < 8; i++) {
      const v2 lo = _mm256_castpd256_pd128(x[i]), hi = _mm256_extractf128_pd(x[i], 1);
      _mm_storel_pd(out + kGroup[i][0] * stride, lo);
      _mm_storeh_pd(out + kGroup[i][1] * stride, lo);
      _mm_storel_pd(out + kGroup[i][2] * stride, hi);
      _mm_storeh_pd(out + kGroup[i][3] * stride, hi);
    }
  }
}

// The 32 rounded samples q (group by group) to out.
INLINE void store16(const __m128i *q, int16_t *out, std::ptrdiff_t stride) {
  if (stride == 1) {
    // Group 7's 17..19 first: its 8-byte store runs into 20, rewritten next.
    const __m128i g = _mm_packs_epi32(q[7], q[7]);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out + 17), _mm_srli_si128(g, 2));
    out[0] = static_cast<int16_t>(_mm_cvtsi128_si32(g));
#pragma GCC unroll 7
    for (int i = 0; i < 7; i++)
      _mm_storel_epi64(reinterpret_cast<__m128i *>(out + kGroup[i][0]),
                       _mm_packs_epi32(q[i], q[i]));
  } else if (stride == 2) {
    // Two groups a register, each sample stored straight from it at an
    // offset known here.
#pragma GCC unroll 4
    for (int i = 0; i < 8; i += 2) {
      const __m128i g = _mm_packs_epi32(q[i], q[i + 1]);
      out[2 * kGroup[i][0]] = static_cast<int16_t>(_mm_extract_epi16(g, 0));
      out[2 * kGroup[i][1]] = static_cast<int16_t>(_mm_extract_epi16(g, 1));
      out[2 * kGroup[i][2]] = static_cast<int16_t>(_mm_extract_epi16(g, 2));
      out[2 * kGroup[i][3]] = static_cast<int16_t>(_mm_extract_epi16(g, 3));
      out[2 * kGroup[i + 1][0]] = static_cast<int16_t>(_mm_extract_epi16(g, 4));
      out[2 * kGroup[i + 1][1]] = static_cast<int16_t>(_mm_extract_epi16(g, 5));
      out[2 * kGroup[i + 1][2]] = static_cast<int16_t>(_mm_extract_epi16(g, 6));
      out[2 * kGroup[i + 1][3]] = static_cast<int16_t>(_mm_extract_epi16(g, 7));
    }
  } else {
#pragma GCC unroll 8
    for (int i = 0; i < 8; i++) {
      const __m128i g = _mm_packs_epi32(q[i], q[i]);
      out[kGroup[i][0] * stride] = static_cast<int16_t>(_mm_extract_epi16(g, 0));
      out[kGroup[i][1] * stride] = static_cast<int16_t>(_mm_extract_epi16(g, 1));
      out[kGroup[i][2] * stride] = static_cast<int16_t>(_mm_extract_epi16(g, 2));
      out[kGroup[i][3] * stride] = static_cast<int16_t>(_mm_extract_epi16(g, 3));
    }
  }
}

// The general case: clamp just inside (-32769, 32768), NaN to 0, and count.
TARGET __attribute__((noinline)) std::size_t clip16(const v4 *x, int16_t *out,
                                                    std::ptrdiff_t stride) {
  const v4 sign = _mm256_set1_pd(-0.0), half = _mm256_set1_pd(0.49999999999999994);
  const v4 lo = _mm256_set1_pd(-32768.99999999999), hi = _mm256_set1_pd(32767.999999999996);
  __m256i kept = _mm256_setzero_si256();
  __m128i q[8];
#pragma GCC unroll 8
  for (int i = 0; i < 8; i++) {
    const v4 y = _mm256_add_pd(x[i], _mm256_or_pd(_mm256_and_pd(x[i], sign), half));
    const v4 c =
        _mm256_min_pd(_mm256_max_pd(_mm256_and_pd(y, _mm256_cmp_pd(y, y, _CMP_ORD_Q)), lo), hi);
    kept = _mm256_sub_epi64(kept, _mm256_castpd_si256(_mm256_cmp_pd(c, y, _CMP_EQ_OQ)));
    q[i] = _mm256_cvttpd_epi32(c);
  }
  store16(q, out, stride);
  alignas(32) int64_t n[4];
  _mm256_store_si256(reinterpret_cast<__m256i *>(n), kept);
  return static_cast<std::size_t>(32 - (n[0] + n[1] + n[2] + n[3]));
}

INLINE std::size_t to_pcm16(v4 *x, int16_t *out, std::ptrdiff_t stride) {
  // x + copysign(half, x): the sign bit of x picks -half
  const v4 half = _mm256_set1_pd(0.49999999999999994);
  const v4 nhalf = _mm256_set1_pd(-0.49999999999999994);
  __m128i q[8];
  // Round all, then see whether every result fits 16 bits: q + 32768 has no
  // high bits (NaN and overflow give INT32_MIN, which fails too).
  __m256i high = _mm256_setzero_si256();
#pragma GCC unroll 8
  for (int i = 0; i < 8; i++) {
    q[i] = _mm256_cvttpd_epi32(_mm256_add_pd(x[i], _mm256_blendv_pd(half, nhalf, x[i])));
    if (i % 2)
      high = _mm256_or_si256(
          high, _mm256_add_epi32(_mm256_set_m128i(q[i], q[i - 1]), _mm256_set1_epi32(32768)));
  }
  if (!_mm256_testz_si256(high, _mm256_set1_epi32(static_cast<int>(0xffff0000u))))
    return clip16(x, out, stride);
  store16(q, out, stride);
  return 0;
}

// The analysis (kernel.h). Four f at a time: each row's 32 products are 8
// fused multiply-adds, each with one history load and its weights from
// memory, into the four f of its age's parity; then the DCT-III.

// 4-wide copies of the 8-, 4- and 2-point factors, for the DCT-IIIs that run
// in lanes, and the 32-point factors 8..15 in reversed groups of four.
struct AFactors {
  alignas(32) double f8[4][4], f4[2][4], f2[4], r32[8];
};
constexpr AFactors afactors() {
  AFactors a{};
  for (int l = 0; l < 4; l++) {
    for (int i = 0; i < 4; i++) a.f8[i][l] = kFactors8[i];
    for (int i = 0; i < 2; i++) a.f4[i][l] = kFactors4[i];
    a.f2[l] = kFactors2[0];
    a.r32[l] = kFactors32[11 - l];
    a.r32[4 + l] = kFactors32[15 - l];
  }
  return a;
}
constexpr AFactors kAF = afactors();

// The n-point DCT-III (kernel.h's dct3) of each lane of a, with fused
// butterflies: s[i], s[n-1-i] = e[i] +- o[i] factor[i].
template <int n>
INLINE void dct3_lanes(const v4 *a, v4 *s) {
  if constexpr (n == 1) {
    s[0] = a[0];
  } else {
    constexpr int h = n / 2;
    v4 even[h], odd[h], e[h], o[h];
#pragma GCC unroll 4
    for (int p = 0; p < h; p++) even[p] = a[2 * p];
    odd[0] = a[1];
#pragma GCC unroll 4
    for (int q = 1; q < h; q++) odd[q] = _mm256_add_pd(a[2 * q - 1], a[2 * q + 1]);
    dct3_lanes<h>(even, e);
    dct3_lanes<h>(odd, o);
#pragma GCC unroll 4
    for (int i = 0; i < h; i++) {
      const v4 f = _mm256_load_pd(n == 8 ? kAF.f8[i] : n == 4 ? kAF.f4[i] : kAF.f2);
      s[i] = _mm256_fmadd_pd(o[i], f, e[i]);
      s[n - 1 - i] = _mm256_fnmadd_pd(o[i], f, e[i]);
    }
  }
}

// (0, a0, a1, a2) and (a3, b0, b1, b2): the sequence a, b moved up one.
TARGET inline void shift1(v4 a, v4 b, v4 *sa, v4 *sb) {
  const v4 pa = _mm256_permute4x64_pd(a, 0x93), pb = _mm256_permute4x64_pd(b, 0x93);
  *sa = _mm256_blend_pd(pa, _mm256_setzero_pd(), 1);
  *sb = _mm256_blend_pd(pb, pa, 1);
}

template <bool odd_t, bool unit>
INLINE void analyze(double *history, const double *in, std::ptrdiff_t stride, double *out,
                    unsigned t) {
  double *const rows = history + kAPad, *const row = rows + kARow * t;
  v4 last;
#pragma GCC unroll 8
  for (int v = 0; v < 8; v++) {
    const double *p = in + 4 * v * (unit ? 1 : stride);
    const v4 x =
        unit ? _mm256_loadu_pd(p) : _mm256_set_pd(p[3 * stride], p[2 * stride], p[stride], p[0]);
    _mm256_storeu_pd(row + 4 * v, x);
    last = rev(x);
    _mm256_storeu_pd(row + 32 + 28 - 4 * v, last);
  }
  _mm_store_sd(row + 48, _mm256_castpd256_pd128(last));  // R[16] = x[31]

  // lo[g] = f[4g .. 4g + 3], hi[g] = f[16 + 4g .. 19 + 4g]; e holds f[16]'s
  // even ages in lane 0 and f[1..3]'s second terms in lanes 1..3.
  v4 lo[4], hi[4], e;
  const double *w = kAnalysisWindow.w + kARow * (16 - t);
  __asm__("" : "+r"(w));  // one register for all rows, which sit at offsets from it
#pragma GCC unroll 16
  for (int k = 0; k < 16; k++) {
    const double *x = rows + kARow * k, *c = w + kARow * k;
    const bool first = k < 2;
    if ((k & 1) == odd_t) {  // even age
#pragma GCC unroll 4
      for (int g = 0; g < 4; g++) {
        const v4 a = _mm256_loadu_pd(x + 15 + 4 * g), ca = _mm256_load_pd(c + 8 * g);
        lo[g] = first ? _mm256_mul_pd(a, ca) : _mm256_fmadd_pd(a, ca, lo[g]);
        const v4 b = _mm256_loadu_pd(x + 48 + 4 * g), cb = _mm256_load_pd(c + 8 * g + 4);
        if (g == 0)
          e = first ? _mm256_mul_pd(b, cb) : _mm256_fmadd_pd(b, cb, e);
        else
          lo[g] = _mm256_fmadd_pd(b, cb, lo[g]);
      }
    } else {
#pragma GCC unroll 4
      for (int g = 0; g < 4; g++) {
        const v4 a = _mm256_loadu_pd(x + 32 + 4 * g), ca = _mm256_load_pd(c + 8 * g);
        const v4 b = _mm256_loadu_pd(x - 1 + 4 * g), cb = _mm256_load_pd(c + 8 * g + 4);
        hi[g] =
            _mm256_fmadd_pd(b, cb, first ? _mm256_mul_pd(a, ca) : _mm256_fmadd_pd(a, ca, hi[g]));
      }
    }
  }
  const v4 zero = _mm256_setzero_pd();
  lo[0] = _mm256_add_pd(lo[0], _mm256_blend_pd(e, zero, 1));
  hi[0] = _mm256_add_pd(hi[0], _mm256_blend_pd(zero, e, 1));

  // The DCT-III. Transposed, S[l] (lo half) and S[4 + l] (hi half) hold the
  // sequence f[4p + l], p = 0..7; two halvings give the four 8-point inputs
  // ee[p] = f[4p], eo[p] = f[4p - 2] + f[4p + 2], oe[p] = f[4p - 1] + f[4p + 1]
  // and oo[p] = u[p - 1] + u[p] with u[p] = f[4p + 1] + f[4p + 3] (terms
  // before f[0] being 0), which the next transposition puts side by side in
  // the lanes of z[p].
  v4 S[8], sh[2], q[8], z[8];
  transpose(lo, S);
  transpose(hi, S + 4);
  q[0] = S[0];
  q[4] = S[4];
  shift1(S[2], S[6], &sh[0], &sh[1]);
  q[1] = _mm256_add_pd(S[2], sh[0]);
  q[5] = _mm256_add_pd(S[6], sh[1]);
  shift1(S[3], S[7], &sh[0], &sh[1]);
  q[2] = _mm256_add_pd(S[1], sh[0]);
  q[6] = _mm256_add_pd(S[5], sh[1]);
  const v4 u0 = _mm256_add_pd(S[1], S[3]), u1 = _mm256_add_pd(S[5], S[7]);
  shift1(u0, u1, &sh[0], &sh[1]);
  q[3] = _mm256_add_pd(u0, sh[0]);
  q[7] = _mm256_add_pd(u1, sh[1]);
  transpose(q, z);
  transpose(q + 4, z + 4);
  v4 Z[8];
  dct3_lanes<8>(z, Z);

  // Back to sequences: Q[0..3] = EE, EO, OE, OO at 0..3, Q[4..7] at 4..7;
  // the 16-point butterflies, their upper halves in reversed order; then the
  // 32-point ones.
  v4 Q[8];
  transpose(Z, Q);
  transpose(Z + 4, Q + 4);
  const v4 f16a = _mm256_loadu_pd(kFactors16), f16b = _mm256_loadu_pd(kFactors16 + 4);
  const v4 E0 = _mm256_fmadd_pd(Q[1], f16a, Q[0]), E1 = _mm256_fmadd_pd(Q[5], f16b, Q[4]);
  const v4 E3r = _mm256_fnmadd_pd(Q[1], f16a, Q[0]), E2r = _mm256_fnmadd_pd(Q[5], f16b, Q[4]);
  const v4 O0 = _mm256_fmadd_pd(Q[3], f16a, Q[2]), O1 = _mm256_fmadd_pd(Q[7], f16b, Q[6]);
  const v4 O3r = _mm256_fnmadd_pd(Q[3], f16a, Q[2]), O2r = _mm256_fnmadd_pd(Q[7], f16b, Q[6]);
  const v4 f0 = _mm256_loadu_pd(kFactors32), f1 = _mm256_loadu_pd(kFactors32 + 4);
  const v4 f2r = _mm256_load_pd(kAF.r32), f3r = _mm256_load_pd(kAF.r32 + 4);
  _mm256_storeu_pd(out, _mm256_fmadd_pd(O0, f0, E0));
  _mm256_storeu_pd(out + 28, rev(_mm256_fnmadd_pd(O0, f0, E0)));
  _mm256_storeu_pd(out + 4, _mm256_fmadd_pd(O1, f1, E1));
  _mm256_storeu_pd(out + 24, rev(_mm256_fnmadd_pd(O1, f1, E1)));
  _mm256_storeu_pd(out + 8, rev(_mm256_fmadd_pd(O2r, f2r, E2r)));
  _mm256_storeu_pd(out + 20, _mm256_fnmadd_pd(O2r, f2r, E2r));
  _mm256_storeu_pd(out + 12, rev(_mm256_fmadd_pd(O3r, f3r, E3r)));
  _mm256_storeu_pd(out + 16, _mm256_fnmadd_pd(O3r, f3r, E3r));
}

}  // namespace

TARGET void analysis(double *history, const double *in, std::ptrdiff_t stride, double *out,
                     unsigned t) {
  if (stride == 1) {
    if (t & 1)
      analyze<true, true>(history, in, stride, out, t);
    else
      analyze<false, true>(history, in, stride, out, t);
  } else {
    if (t & 1)
      analyze<true, false>(history, in, stride, out, t);
    else
      analyze<false, false>(history, in, stride, out, t);
  }
}

}  // namespace synthtab::kernel::avx2
