// The fast synthesis filterbank: a 32-point DCT on the factors in pnts, and
// the window read from decwin. Contract in synth.h.
//
// Matrixing. With X[n] = sum over k of S[k] cos(n (2k + 1) pi / 64), the
// standard's 64 matrixed values V[0..63] of a block are, by the symmetries of
// the cosine,
//   V[j]      =  X[16 + j]  (j = 0..15),   V[16] = 0,
//   V[32 + j] = -X[16 - j]  (j = 0..16),
//   V[32 - j] = -V[j],  V[64 - j] = V[32 + j]  (j = 1..15),
// so a 32-point DCT gives all of them.
//
// Windowing. Output j sums D[32 g + j] times V[j] of the block g blocks old
// (g even) or V[32 + j] of it (g odd), g = 0..15. For j = 0..16 the 16 window
// values are row j of decwin, which holds -scale * D[32 g + j] in column g.
// For j = 32 - m, m = 1..15, D[32 g + j] = -D[32 (15 - g) + m]: row m read
// backwards.
//
// History. Which of V[m] and V[32 + m] a block contributes to row m flips
// with its age, so each row keeps two runs of 16 values, one read at even
// block numbers and one at odd ones: run P holds a[m] = -V[m] of the blocks
// whose number has parity P and -b[m] = V[32 + m] of the others (the minus
// absorbs decwin's). All of these are -X[n] for some n, so the DCT computes
// -X outright. Outputs 17..31 read their rows backwards, so they get runs of
// their own stored in the opposite slot order: every output then reads its
// history run and its window row forwards, the window from decwin's
// duplicated half at an offset that moves with the block number.
//
// Arithmetic runs on pairs of doubles (SSE2 registers on x86-64). Each
// operation is one IEEE operation per lane, and every sum is taken in the
// order written here, so the results do not depend on the compiler.
#include "synth.h"

#include <cmath>
#include <cstring>

#if !defined(__GNUC__)
#error "synth.cpp uses GCC/Clang vector extensions"
#endif

namespace synthtab {
namespace {

typedef double v2 __attribute__((vector_size(16)));

inline v2 load(const double *p) {  // any alignment
  v2 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline v2 load16(const double *p) {  // p 16-byte aligned
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

// The negated DCT, -X[n] = -sum over k of s[k] cos(n (2k + 1) pi / 64): the
// history keeps only negated values. One halving of a DCT into the DCT U of
// the sums and V of the factor-scaled differences gives X[2k] = U[k],
// X[2k + 1] = V[k] + V[k + 1]. So -X halves into -U and -V, and -V is the DCT
// of the differences taken the other way round: the negation moves down the
// chain of sums alone, costing one sign flip at its end.
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
  out[16] = odd ? y16[1] - y16[0] : y16[0] - y16[1];
  out[17] = y17[0] + y17[1];
#pragma GCC unroll 8
  for (int j = 18; j < 32; j += 2) {
    const v2 a = bwd(32 - j), b = bwd(31 - j);
    store(out + j, v2{a[0], b[0]} + v2{a[1], b[1]});
  }
}

}  // namespace

SynthesisFilterbank::SynthesisFilterbank() { reset(); }

void SynthesisFilterbank::reset() {
  std::memset(hist_, 0, sizeof hist_);
  t_ = 0;
}

void SynthesisFilterbank::synthesize(const double subbands[32], double out[32]) {
  v2 z[16];
  neg_dct32(subbands, z);

  // Runs: hist_[P][m] forward for window row m = 0..16, hist_[P][16 + m]
  // backward for row m = 1..15. Block t goes to slot -t of the forward runs
  // and slot t of the backward ones: age g sits at slot (g - t) mod 16 of a
  // forward run and (t - g) mod 16 of a backward one. Run P holds a[m] = -V[m] = -X[16 + m] of the
  // blocks of parity P and -b[m] = V[32 + m] = -X[16 - m] of the others.
  const std::size_t t = t_, p = t & 1, sf = (16 - t) & 15, sb = t;
  double *const run = hist_[p][0], *const other = hist_[p ^ 1][0];
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
  // Forward row 16 of run P stays 0 at the slots of parity P: a[16] = -V[16] = 0.

  // Slot s of a forward run is age (s - t) mod 16, window column s + t;
  // slot s of a backward run is age (t - s), column 15 - age = s + 15 - t.
  const double *wf = decwin + t, *wb = decwin + ((15 - t) & 15);
  if (p)
    window<true>(wf, run, wb, run + 16 * 16, out);
  else
    window<false>(wf, run, wb, run + 16 * 16, out);

  t_ = (t + 1) & 15;
}

std::size_t to_pcm16(const double *in, std::size_t n, int16_t *out) {
  std::size_t clipped = 0;
  for (std::size_t i = 0; i < n; i++) {
    const double r = std::round(in[i]);  // halves away from zero; NaN stays NaN
    if (r >= -32768.0 && r <= 32767.0) {
      out[i] = static_cast<int16_t>(r);
    } else {
      out[i] = r > 0 ? 32767 : r < 0 ? -32768 : 0;  // NaN compares false both ways
      clipped++;
    }
  }
  return clipped;
}

}  // namespace synthtab
