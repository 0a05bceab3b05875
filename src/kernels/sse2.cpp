// The SSE2 kernel: arithmetic on pairs of doubles through GCC/Clang vector
// extensions (SSE2 registers on x86-64, part of the base ISA). Scheme in
// kernel.h; this kernel keeps the mirror rows, so every output reads its
// history row and its window row forwards, the window from decwin's
// duplicated half at an offset that moves with the block number.
//
// The DCT keeps only negated values: one halving of a DCT into the DCT U of
// the sums and V of the factor-scaled differences gives X[2k] = U[k],
// X[2k + 1] = V[k] + V[k + 1]. So -X halves into -U and -V, and -V is the DCT
// of the differences taken the other way round: the negation moves down the
// chain of sums alone, costing one sign flip at its end.
//
// Each operation is one IEEE operation per lane, and every sum is taken in
// the order written here, so the results do not depend on the compiler.
#include <cpuid.h>
#include <emmintrin.h>

#include <cstring>

#include "kernel.h"

namespace synthtab::kernel {
namespace {

typedef double v2 __attribute__((vector_size(16)));

inline v2 load(const double *p) {  // any alignment
  v2 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline v2 load16(const double *p) {  // p 16-byte aligned: the history
  return load(static_cast<const double *>(__builtin_assume_aligned(p, 16)));
}

inline void store(double *p, v2 v) { std::memcpy(p, &v, sizeof v); }

inline v2 splat(double x) { return v2{x, x}; }

// One halving step of a DCT on every block of n values in z, run on both lanes
// at once: block [z0 .. z(n-1)] becomes
// [z(i) + z(n-1-i) | (z(i) - z(n-1-i)) * f[i]], i = 0..n/2-1,
// except that block 0 takes its differences the other way round (see
// neg_dct32).
template <int n>
inline void halve(v2 *z, const double *f) {
  v2 t[16];
#pragma GCC unroll 16
  for (int b = 0; b < 16; b += n)
#pragma GCC unroll 8
    for (int i = 0; i < n / 2; i++) {
      const v2 lo = z[b + i], hi = z[b + n - 1 - i];
      t[b + i] = lo + hi;
      t[b + n / 2 + i] = (b == 0 ? hi - lo : lo - hi) * splat(f[i]);
    }
#pragma GCC unroll 16
  for (int i = 0; i < 16; i++) z[i] = t[i];
}

// The inverse bookkeeping: a block [U | V] of the halves' DCTs gives
// X[2k] = U[k] and X[2k + 1] = V[k] + V[k + 1], with V[n/2] = 0.
template <int n>
inline void merge(v2 *z) {
  v2 t[16];
#pragma GCC unroll 16
  for (int b = 0; b < 16; b += n) {
#pragma GCC unroll 8
    for (int k = 0; k < n / 2; k++) {
      t[b + 2 * k] = z[b + k];
      t[b + 2 * k + 1] = k + 1 < n / 2 ? z[b + n / 2 + k] + z[b + n / 2 + k + 1] : z[b + n / 2 + k];
    }
  }
#pragma GCC unroll 16
  for (int i = 0; i < 16; i++) z[i] = t[i];
}

// The negated DCT, -X[n] (see the top of this file).
//
// Five halvings (32, 16, 8, 4, 2 points, factors pnts[0..4]) lead to single
// values, their own DCTs; merges lead back. The first halving leaves two
// 16-point DCTs, of the sums and of the differences, both to be negated; they
// run side by side in the two lanes of z. On return z[k] = (-U[k], -V[k]) of
// those two, so -X[2k] = z[k][0] and -X[2k + 1] = z[k][1] + z[k + 1][1].
inline void neg_dct32(const double *s, v2 z[16]) {
  const double *f = pnts[0];
#pragma GCC unroll 8
  for (int i = 0; i < 16; i += 2) {
    const v2 lo = load(s + i), hi = load(s + 30 - i);
    const v2 rev = {hi[1], hi[0]};
    const v2 sum = lo + rev, dif = (lo - rev) * load(f + i);
    z[i] = v2{sum[0], dif[0]};
    z[i + 1] = v2{sum[1], dif[1]};
  }
  halve<16>(z, pnts[1]);
  halve<8>(z, pnts[2]);
  halve<4>(z, pnts[3]);
  halve<2>(z, pnts[4]);
  z[0] = -z[0];
  merge<4>(z);
  merge<8>(z);
  merge<16>(z);
}

// Two lanes of w[i] * h[i], i = 0..15, summed in a fixed tree.
inline v2 dot16(const double *w, const double *h) {
  v2 p[8];
#pragma GCC unroll 8
  for (int i = 0; i < 8; i++) p[i] = load(w + 2 * i) * load16(h + 2 * i);
  return ((p[0] + p[1]) + (p[2] + p[3])) + ((p[4] + p[5]) + (p[6] + p[7]));
}

// The 32 outputs from the window rows and the history runs of this block:
// wf, hf the forward ones (row j at wf + 32 j, hf + 16 j), wb, hb the backward
// ones (row m at wb + 32 m, hb + 16 m). A backward run holds exactly the
// terms its output sums: the output is the sum of the lanes. A forward run
// holds -b where its output needs +b, at the odd ages; those sit in lane 1
// of each pair when the block number is even and in lane 0 when it is odd,
// so the output is the difference of the lanes in that order.
template <bool odd>
inline void window(const double *wf, const double *hf, const double *wb, const double *hb,
                   double *out) {
  const auto fwd = [&](int j) { return dot16(wf + 32 * j, hf + 16 * j); };
  const auto bwd = [&](int m) { return dot16(wb + 32 * m, hb + 16 * m); };
#pragma GCC unroll 8
  for (int j = 0; j < 16; j += 2) {
    const v2 a = fwd(j), b = fwd(j + 1);
    const v2 lane0 = {a[0], b[0]}, lane1 = {a[1], b[1]};
    store(out + j, odd ? lane1 - lane0 : lane0 - lane1);
  }
  const v2 y16 = fwd(16), y17 = bwd(15);
  // One store for the pair, as for the others: 16-bit output reads them back in pairs.
  store(out + 16, v2{odd ? y16[1] - y16[0] : y16[0] - y16[1], y17[0] + y17[1]});
#pragma GCC unroll 8
  for (int j = 18; j < 32; j += 2) {
    const v2 a = bwd(32 - j), b = bwd(31 - j);
    store(out + j, v2{a[0], b[0]} + v2{a[1], b[1]});
  }
}

void synth(double *h, const double *subbands, double *out, unsigned t) {
  v2 z[16];
  neg_dct32(subbands, z);

  // Forward rows 0..16 and mirror rows 17..31 of both runs; block t goes to
  // slot -t of the forward rows and slot t of the mirror rows.
  const std::size_t p = t & 1, sf = (16 - t) & 15, sb = t;
  double *const run = h + p * kRun, *const other = h + (p ^ 1) * kRun;
  const auto put = [&](int n, double v) {  // v = -X[n]
    if (n >= 16) run[16 * (n - 16) + sf] = v;
    if (n > 16) run[16 * n + sb] = v;
    if (n <= 16) other[16 * (16 - n) + sf] = v;
    if (n >= 1 && n < 16) other[16 * (32 - n) + sb] = v;
  };
#pragma GCC unroll 16
  for (int k = 0; k < 16; k++) {
    put(2 * k, z[k][0]);
    put(2 * k + 1, k < 15 ? (z[k] + z[k + 1])[1] : z[k][1]);
  }

  // Slot s of a forward row is age (s + t) mod 16, window column s + t;
  // slot s of a mirror row is age (t - s), column 15 - age = s + 15 - t.
  const double *wf = decwin + t, *wb = decwin + ((15 - t) & 15);
  if (p)
    window<true>(wf, run, wb, run + 16 * 16, out);
  else
    window<false>(wf, run, wb, run + 16 * 16, out);
}

// Round half away from zero as trunc(x + copysign(0.5 - 2^-54, x)), which is
// exact for every double; clamp just inside (-32769, 32768) so truncation
// lands on [-32768, 32767]; a clamped value or NaN counts as clipped, and NaN
// becomes 0. In the usual block every rounded sample fits (nothing clips,
// nothing is NaN) and rounding is all there is to do.
std::size_t pcm16(const double *in, int16_t *out, std::ptrdiff_t stride) {
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
      high = _mm_or_si128(high,
                          _mm_add_epi32(_mm_unpacklo_epi64(q[i - 1], q[i]), _mm_set1_epi32(32768)));
  }
  std::size_t clipped = 0;
  if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_srli_epi32(high, 16), _mm_setzero_si128())) != 0xffff) {
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

bool supported() {
#if defined(__x86_64__)
  return true;  // part of the base ISA
#else
  unsigned a, b, c, d;
  return __get_cpuid(1, &a, &b, &c, &d) && (d & bit_SSE2);
#endif
}

// A block to 16-bit PCM in one call: synth and pcm16 inlined together.
std::size_t synth16(double *h, const double *subbands, int16_t *out, std::ptrdiff_t stride,
                    unsigned t) {
  double y[32];
  synth(h, subbands, y, t);
  return pcm16(y, out, stride);
}

}  // namespace

const Kernel kSse2 = {"sse2", supported, synth, pcm16, true, false, synth16};

}  // namespace synthtab::kernel
