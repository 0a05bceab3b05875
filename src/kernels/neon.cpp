// The NEON kernel: AArch64's Advanced SIMD on pairs of doubles, part of the
// base ISA. Scheme in kernel.h; like sse2 it keeps the mirror rows, so every
// output reads its history row and its window row forwards, the window from
// decwin's duplicated half at an offset that moves with the block number.
//
// The DCT keeps only negated values: -X halves into -U and -V, and -V is the
// DCT of the differences taken the other way round, so the negation moves
// down the chain of sums alone and costs one sign flip at its end.
//
// Each intrinsic is one IEEE operation per lane (multiplies and adds stay
// apart: no fused multiply-add), and every sum is taken in the order written
// here, so the results do not depend on the compiler.
#include <arm_neon.h>

#include "kernel.h"

namespace synthtab::kernel {
namespace {

using v2 = float64x2_t;

// One halving step of a DCT on every block of n values in z, both lanes at
// once: block [z0 .. z(n-1)] becomes
// [z(i) + z(n-1-i) | (z(i) - z(n-1-i)) * f[i]], i = 0..n/2-1,
// except that block 0 takes its differences the other way round.
template <int n>
inline void halve(v2 *z, const double *f) {
  v2 t[16];
  for (int b = 0; b < 16; b += n)
    for (int i = 0; i < n / 2; i++) {
      const v2 lo = z[b + i], hi = z[b + n - 1 - i];
      t[b + i] = vaddq_f64(lo, hi);
      t[b + n / 2 + i] =
          vmulq_f64(b == 0 ? vsubq_f64(hi, lo) : vsubq_f64(lo, hi), vdupq_n_f64(f[i]));
    }
  for (int i = 0; i < 16; i++) z[i] = t[i];
}

// A block [U | V] of the halves' DCTs gives X[2k] = U[k] and
// X[2k + 1] = V[k] + V[k + 1], with V[n/2] = 0.
template <int n>
inline void merge(v2 *z) {
  v2 t[16];
  for (int b = 0; b < 16; b += n)
    for (int k = 0; k < n / 2; k++) {
      t[b + 2 * k] = z[b + k];
      t[b + 2 * k + 1] =
          k + 1 < n / 2 ? vaddq_f64(z[b + n / 2 + k], z[b + n / 2 + k + 1]) : z[b + n / 2 + k];
    }
  for (int i = 0; i < 16; i++) z[i] = t[i];
}

// The negated DCT: the first halving leaves two 16-point DCTs, of the sums
// and of the differences, which run side by side in the two lanes of z. On
// return z[k] = (-U[k], -V[k]), so -X[2k] = z[k][0] and
// -X[2k + 1] = z[k][1] + z[k + 1][1].
inline void neg_dct32(const double *s, v2 z[16]) {
  const double *f = pnts[0];
  for (int i = 0; i < 16; i += 2) {
    const v2 lo = vld1q_f64(s + i), hi = vld1q_f64(s + 30 - i);
    const v2 rev = vextq_f64(hi, hi, 1);  // (s[31 - i], s[30 - i])
    const v2 sum = vaddq_f64(lo, rev), dif = vmulq_f64(vsubq_f64(lo, rev), vld1q_f64(f + i));
    z[i] = vzip1q_f64(sum, dif);
    z[i + 1] = vzip2q_f64(sum, dif);
  }
  halve<16>(z, pnts[1]);
  halve<8>(z, pnts[2]);
  halve<4>(z, pnts[3]);
  halve<2>(z, pnts[4]);
  z[0] = vnegq_f64(z[0]);
  merge<4>(z);
  merge<8>(z);
  merge<16>(z);
}

// Two lanes of w[i] * h[i], i = 0..15, summed in a fixed tree.
inline v2 dot16(const double *w, const double *h) {
  v2 p[8];
  for (int i = 0; i < 8; i++) p[i] = vmulq_f64(vld1q_f64(w + 2 * i), vld1q_f64(h + 2 * i));
  return vaddq_f64(vaddq_f64(vaddq_f64(p[0], p[1]), vaddq_f64(p[2], p[3])),
                   vaddq_f64(vaddq_f64(p[4], p[5]), vaddq_f64(p[6], p[7])));
}

// The 32 outputs from the window rows and history runs of this block (see
// sse2.cpp's window for the lanes): a backward output is the sum of its two
// lanes; a forward one the difference, odd ages sitting in lane 1 at even
// block numbers and in lane 0 at odd ones.
template <bool odd>
inline void window(const double *wf, const double *hf, const double *wb, const double *hb,
                   double *out) {
  const auto fwd = [&](int j) { return dot16(wf + 32 * j, hf + 16 * j); };
  const auto bwd = [&](int m) { return dot16(wb + 32 * m, hb + 16 * m); };
  for (int j = 0; j < 16; j += 2) {
    const v2 a = fwd(j), b = fwd(j + 1);
    const v2 lane0 = vzip1q_f64(a, b), lane1 = vzip2q_f64(a, b);
    vst1q_f64(out + j, odd ? vsubq_f64(lane1, lane0) : vsubq_f64(lane0, lane1));
  }
  const v2 y16 = fwd(16), y17 = bwd(15);
  const double y16_0 = vgetq_lane_f64(y16, 0), y16_1 = vgetq_lane_f64(y16, 1);
  out[16] = odd ? y16_1 - y16_0 : y16_0 - y16_1;
  out[17] = vgetq_lane_f64(y17, 0) + vgetq_lane_f64(y17, 1);
  for (int j = 18; j < 32; j += 2) vst1q_f64(out + j, vpaddq_f64(bwd(32 - j), bwd(31 - j)));
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
  for (int k = 0; k < 16; k++) {
    put(2 * k, vgetq_lane_f64(z[k], 0));
    put(2 * k + 1, k < 15 ? vgetq_lane_f64(vaddq_f64(z[k], z[k + 1]), 1) : vgetq_lane_f64(z[k], 1));
  }

  // Slot s of a forward row is age (s + t) mod 16, window column s + t;
  // slot s of a mirror row is age (t - s), column 15 - age = s + 15 - t.
  const double *wf = decwin + t, *wb = decwin + ((15 - t) & 15);
  if (p)
    window<true>(wf, run, wb, run + 16 * 16, out);
  else
    window<false>(wf, run, wb, run + 16 * 16, out);
}

bool always() { return true; }  // Advanced SIMD is part of every AArch64 CPU

}  // namespace

const Kernel kNeon = {"neon", always, synth, pcm16_scalar, true};

}  // namespace synthtab::kernel
