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
// History. Block T keeps, per window row, a[m] = -V[m] and b[m] = -V[32 + m]
// (the minus absorbs decwin's). Which one an output needs flips with the
// block's age, so each row keeps two runs of 16, one per parity of the
// current block: run P holds a of the blocks with T = P mod 2 and b of the
// others. Outputs 17..31 read their rows backwards and with the opposite sign
// on b, so they get runs of their own (bwd_) stored in the opposite slot
// order: both then read history and window as forward runs of 16, the
// window from decwin's duplicated half at an offset that moves with T.
#include "synth.h"

#include <cmath>
#include <cstring>

namespace synthtab {
namespace {

// One halving step of the DCT on every block of n values in x: block
// [x0 .. x(n-1)] becomes [x(i) + x(n-1-i) | (x(i) - x(n-1-i)) * f[i]],
// i = 0..n/2-1. The halves' DCTs then give the block's even and odd outputs.
template <int n>
inline void halve(const double *x, double *y, const double *f) {
  for (int b = 0; b < 32; b += n)
    for (int i = 0; i < n / 2; i++) {
      const double lo = x[b + i], hi = x[b + n - 1 - i];
      y[b + i] = lo + hi;
      y[b + n / 2 + i] = (lo - hi) * f[i];
    }
}

// The inverse bookkeeping: a block [U | V] of the halves' DCTs gives
// X[2k] = U[k] and X[2k + 1] = V[k] + V[k + 1], with V[n/2] = 0.
template <int n>
inline void merge(const double *x, double *y) {
  for (int b = 0; b < 32; b += n) {
    for (int k = 0; k < n / 2; k++) y[b + 2 * k] = x[b + k];
    for (int k = 0; k < n / 2 - 1; k++) y[b + 2 * k + 1] = x[b + n / 2 + k] + x[b + n / 2 + k + 1];
    y[b + n - 1] = x[b + n - 1];
  }
}

// X[n] = sum over k of s[k] cos(n (2k + 1) pi / 64), n = 0..31: five
// halvings (32, 16, 8, 4, 2 points, factors pnts[0..4]) down to single
// values, which are their own DCTs, then four merges back up (a block of 2
// needs none: [U | V] is already [X0 | X1]).
inline void dct32(const double *s, double *x) {
  double t[32];
  halve<32>(s, t, pnts[0]);
  halve<16>(t, x, pnts[1]);
  halve<8>(x, t, pnts[2]);
  halve<4>(t, x, pnts[3]);
  halve<2>(x, t, pnts[4]);
  merge<4>(t, x);
  merge<8>(x, t);
  merge<16>(t, x);
  merge<32>(x, t);
  std::memcpy(x, t, sizeof t);
}

// Sum of w[i] * h[i], i = 0..15, in two interleaved partial sums added at the
// end: a fixed order the compiler can run as packed pairs.
inline double dot16(const double *w, const double *h) {
  double acc[2] = {0.0, 0.0};
  for (int i = 0; i < 16; i += 2) {
    acc[0] += w[i] * h[i];
    acc[1] += w[i + 1] * h[i + 1];
  }
  return acc[0] + acc[1];
}

}  // namespace

SynthesisFilterbank::SynthesisFilterbank() { reset(); }

void SynthesisFilterbank::reset() {
  std::memset(fwd_, 0, sizeof fwd_);
  std::memset(bwd_, 0, sizeof bwd_);
  t_ = 0;
}

void SynthesisFilterbank::synthesize(const double subbands[32], double out[32]) {
  double x[32];
  dct32(subbands, x);

  // Block t_ goes to slot -t_ of the forward runs and slot t_ of the backward
  // ones, so age g sits at slot (g - t_) and (t_ - g) mod 16 respectively.
  const unsigned p = t_ & 1, q = p ^ 1;
  const unsigned sf = (16 - t_) & 15, sb = t_;
  for (int m = 0; m < 17; m++) {
    const double a = m < 16 ? -x[16 + m] : 0.0, b = x[16 - m];
    fwd_[p][m][sf] = a;
    fwd_[q][m][sf] = b;
    if (m > 0 && m < 16) {
      bwd_[p][m - 1][sb] = a;
      bwd_[q][m - 1][sb] = -b;
    }
  }

  // Slot s of a forward run is age (s - t_) mod 16, window column s + t_;
  // slot s of a backward run is age (t_ - s), column 15 - age = s + 15 - t_.
  const double *w = decwin + t_;
  for (int j = 0; j < 17; j++) out[j] = dot16(w + 32 * j, fwd_[p][j]);
  w = decwin + ((15 - t_) & 15);
  for (int m = 1; m < 16; m++) out[32 - m] = dot16(w + 32 * m, bwd_[p][m - 1]);

  t_ = (t_ + 1) & 15;
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
