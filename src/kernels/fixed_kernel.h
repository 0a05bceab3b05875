// The integer filterbank's one algorithm body, shared by its kernels: the
// scheme of the double kernels (kernel.h) in 32-bit fixed point with 64-bit
// sums. fixed.cpp runs it as written on every CPU (the portable kernel, and
// the reference); a SIMD kernel (fixed_avx2.cpp) computes the same integers
// in another order, which integer arithmetic allows: it gives the same bits.
//
// Formats (fraction bits):
//   subbands  SYNTHTAB_FIXED_FRAC_BITS (30)      DCT values   kDct (24)
//   factors   SYNTHTAB_FIXED_COS_BITS + stage    window       SYNTHTAB_FIXED_WIN_BITS (30)
// The DCT runs on the subbands rounded to kDct bits. Every value it forms is
// a linear form of the 32 inputs whose coefficients sum to at most 50.7 in
// magnitude, so with |subband| < 2 none reaches 102 < 2^7: no int32_t of the
// transform can overflow, whatever the input. kDct = 24 is the most that
// leaves; each bit less doubles the error (2^-22.6 of full scale RMS here).
// The window sums are 16 products of such a value (< 2^31) and a window
// value whose 16 magnitudes add up to less than 4 (fixed_tables.cpp checks
// it), so they stay below 2^63. Right shifts of negative values are
// arithmetic, as on every compiler the library supports.
#ifndef SYNTHTAB_FIXED_KERNEL_H
#define SYNTHTAB_FIXED_KERNEL_H

#include <synthtab/fixed.h>

#include <climits>
#include <cstddef>
#include <cstdint>

#include "common.h"  // SYNTHTAB_UNROLL

namespace synthtab::fixed {

constexpr int kIn = SYNTHTAB_FIXED_FRAC_BITS;
constexpr int kDct = 24;

// Right shifts of a window sum to the s16 and s32 formats.
constexpr int kShift16 = kDct + SYNTHTAB_FIXED_WIN_BITS - 15;
constexpr int kShift32 = kDct + SYNTHTAB_FIXED_WIN_BITS - 31;

// x times factor k of the stage, rounded to nearest (halves up).
template <int Stage>
inline int32_t mul(int32_t x, int k) {
  constexpr int q = SYNTHTAB_FIXED_COS_BITS + Stage;
  const int64_t p = int64_t{x} * synthtab_fixed_tab.cos[32 - (32 >> Stage) + k];
  return static_cast<int32_t>((p + (int64_t{1} << (q - 1))) >> q);
}

// x[k] = X[k] of in[0..N-1] by halving, as kernel.h describes: the DCTs of
// the sums and of the scaled differences, interleaved.
template <int N, int Stage>
inline void dct(const int32_t *in, int32_t *x) {
  if constexpr (N == 1) {
    x[0] = in[0];
  } else {
    constexpr int h = N / 2;
    int32_t sum[h], dif[h], u[h], v[h];
    SYNTHTAB_UNROLL(16)
    for (int i = 0; i < h; i++) {
      sum[i] = in[i] + in[N - 1 - i];
      dif[i] = mul<Stage>(in[i] - in[N - 1 - i], i);
    }
    dct<h, Stage + 1>(sum, u);
    dct<h, Stage + 1>(dif, v);
    SYNTHTAB_UNROLL(16)
    for (int k = 0; k < h; k++) {
      x[2 * k] = u[k];
      x[2 * k + 1] = k + 1 < h ? v[k] + v[k + 1] : v[k];
    }
  }
}

// A subband sample rounded to kDct fraction bits, without overflow.
inline int32_t to_dct(int32_t s) { return ((s >> (kIn - kDct - 1)) + 1) >> 1; }

// The history: int32_t h[2][17][16], h[run][row][slot], written as the
// double kernels write theirs (kernel.h), but X[n] rather than -X[n].
// Stores the block's X[0..31] and advances the state; returns the block
// number t (mod 16), the window's first column, and sets *run to the run
// whose rows the window sums read.
inline unsigned store(synthtab_fixed *f, const int32_t *x, const int32_t **run) {
  const unsigned t = f->priv_t & 15, p = t & 1, slot = (16 - t) & 15;
  int32_t *const r = f->priv_hist + p * 17 * 16, *const other = f->priv_hist + (p ^ 1) * 17 * 16;
  other[16 * 16 + slot] = x[0];
  for (int n = 1; n < 16; n++) other[(16 - n) * 16 + slot] = x[n];
  r[slot] = other[slot] = x[16];
  for (int n = 17; n < 32; n++) r[(n - 16) * 16 + slot] = x[n];
  f->priv_t = (t + 1) & 15;
  *run = r;
  return t;
}

// Output j (0..31) of the block sums window row j from column t against
// history row j for j <= 16, row 32 - j for j > 16 (tables in fixed.h).

// A window sum (kDct + SYNTHTAB_FIXED_WIN_BITS fraction bits) to the output
// format: rounded, halves away from zero, and clipped. Returns 1 if clipped.
// 16-bit output takes the top word alone (the shift is 39).
inline int put(int64_t acc, int16_t *out) {
  static_assert(kShift16 > 32, "the top word holds the result");
  const int32_t top =
      static_cast<int32_t>((acc + (int64_t{1} << (kShift16 - 1)) - (acc < 0)) >> 32);
  int32_t r = top >> (kShift16 - 32);
  const int clip = static_cast<uint32_t>(r) + 32768u > 65535u;
  if (clip) r = r < 0 ? -32768 : 32767;
  *out = static_cast<int16_t>(r);
  return clip;
}

inline int put(int64_t acc, int32_t *out) {
  const int64_t r = (acc + (int64_t{1} << (kShift32 - 1)) - (acc < 0)) >> kShift32;
  if (r > INT32_MAX || r < INT32_MIN) {
    *out = r < 0 ? INT32_MIN : INT32_MAX;
    return 1;
  }
  *out = static_cast<int32_t>(r);
  return 0;
}

}  // namespace synthtab::fixed

#endif  // SYNTHTAB_FIXED_KERNEL_H
