// What the double kernels compute and how they keep their history: the
// schemes below, the shared constants and the entry point types. One file
// per instruction set; pair.h holds the two-lane body that sse2 and neon
// share; dispatch.h registers them.
//
// Matrixing. With X[n] = sum over k of S[k] cos(n (2k + 1) pi / 64), the
// standard's 64 matrixed values V[0..63] of a block are, by the symmetries of
// the cosine,
//   V[j]      =  X[16 + j]  (j = 0..15),   V[16] = 0,
//   V[32 + j] = -X[16 - j]  (j = 0..16),
//   V[32 - j] = -V[j],  V[64 - j] = V[32 + j]  (j = 1..15),
// so a 32-point DCT gives all of them. Every kernel computes it by halving:
// the sums s[i] + s[n-1-i] and the differences (s[i] - s[n-1-i]) * pnts[k][i]
// have DCTs U and V with X[2k] = U[k], X[2k + 1] = V[k] + V[k + 1].
//
// Windowing. Output j sums D[32 g + j] times V[j] of the block g blocks old
// (g even) or V[32 + j] of it (g odd), g = 0..15. For j = 0..16 the 16 window
// values are row j of decwin, which holds -scale * D[32 g + j] in column g.
// For j = 32 - m, m = 1..15, D[32 g + j] = -D[32 (15 - g) + m]: row m read
// backwards.
//
// History: double h[2][32][16], h[run][row][slot]; block t (mod 16) of
// parity p = t & 1 writes slot -t mod 16 and reads run p. Which of V[m] and
// V[32 + m] a block contributes to row m flips with its age, so each row
// keeps two runs, one read at even block numbers and one at odd ones. Every
// stored value is -X[n] of a block (the minus absorbs decwin's):
//
//   DCT output   run      row      slot   -X[n] is
//   n = 0        p ^ 1    16       -t     V[48]
//   n = 1..15    p ^ 1    16 - n   -t     V[48 - n]
//   n = 16       p, p^1   0        -t     -V[0] = V[32]
//   n = 17..31   p        n - 16   -t     -V[n - 16]
//
// (Row 16 of run p keeps 0 at the slots of parity p: V[16] = 0.) At block t,
// slot s of run p, row m holds the block of age g = (s + t) mod 16. Output
// j = 0..16 is then the sum over s of decwin[32 j + t + s] * h[p][j][s] with
// the odd ages negated, and output 32 - m the plain sum over s of
// decwin[32 m + (15 - t - s) mod 16] * h[p][m][s] (Layout::rows). Kernels
// that prefer to read that backward window forwards keep mirror rows
// (Layout::mirrored): row 16 + m of each run holds row m in reversed slot
// order, h[r][16 + m][s] = h[r][m][-s].
//
// Transposed layout (kernels that sum across outputs, Layout::transposed):
// the same values negated (X[n], the sign moves into the window) and
// slot-major. Row 0 is the same in both runs and is kept once, at
// kTRow0 + slot. Rows 1..16 of run r, slot s are at kTSlot * (r * 16 + s) +
// kTPad + (0..15), kTPad doubles of padding before each slot's rows, so the
// rows a slot contributes to sit side by side and load four at a time, kTEnd
// doubles in all. Its window, transposed to match, is one process-wide copy
// of decwin, g_transposed_window, that make_decode_tables() rebuilds with it
// (transposed_window.cpp): no state holds a copy, and a fresh state runs at
// full speed from its first block.
//
// Every layout holds the same values, so a state converts between them
// (synth.cpp). The history takes kRegion doubles whatever the layout.
#ifndef SYNTHTAB_KERNELS_KERNEL_H
#define SYNTHTAB_KERNELS_KERNEL_H

#include <synthtab/tabinit.h>  // decwin, pnts

#include <cstddef>
#include <cstdint>

#include "common.h"

SYNTHTAB_HIDDEN_BEGIN
namespace synthtab::kernel {

constexpr int kRows = 32, kSlots = 16, kRun = kRows * kSlots;
constexpr int kTSlot = 20, kTPad = 4, kTRun = kSlots * kTSlot, kTRow0 = 2 * kTRun;
constexpr int kTEnd = kTRow0 + kSlots;
constexpr int kRegion = 2 * kRun;
static_assert(kRegion >= kTEnd, "the region holds either layout");

// The transposed layout's window. Column c = t + s (slot s at block t)
// holds, against history rows 1..16, lanes 0..15 for outputs 1..16 and
// lanes 16 + i for outputs 31 - i (lane 31 unused, 0); w0 holds the column
// of row 0, for output 0.
struct alignas(32) TransposedWindow {
  double w[31 * 32];
  double w0[32];
};
extern TransposedWindow g_transposed_window;
void transpose_window();  // from decwin, by make_decode_tables()

// How a kernel keeps the synthesis history (above).
enum class Layout { rows, mirrored, transposed };

// One synthesis block: reads all 32 subbands, writes the block's values into
// the history h (32-byte aligned, in the kernel's layout) at block number t
// (mod 16), then the 32 output samples to out[0], out[stride], ...; the
// 16-bit form rounds and clips as synthtab_synth_s16 defines it and returns
// the number clipped. The argument order follows the public calls' (state,
// subbands, out, stride), so the dispatch moves no registers.
using SynthF64 = void (*)(double *h, const double *subbands, double *out, std::ptrdiff_t stride,
                          unsigned t);
using SynthF32 = void (*)(double *h, const double *subbands, float *out, std::ptrdiff_t stride,
                          unsigned t);
using SynthS16 = std::size_t (*)(double *h, const double *subbands, int16_t *out,
                                 std::ptrdiff_t stride, unsigned t);

// The analysis. History: 16 rows of kARow doubles after kAPad doubles of
// zeros that no kernel writes. Row k holds a block of 32 input samples x in
// its first 32 doubles in input order, and from double 32 on the same
// reversed, R[c] = x[31 - c], except R[16] = x[31]. The newest block is row
// t; a block of age b (b = 0..15) is row (t - b) mod 16.
//
// With the fold of the 64 windowed sums Y into the 32 inputs f of a DCT-III
// (analysis.cpp), each f[m] is a sum over even ages (m <= 16) or odd ages
// (m >= 16) of two products per block: the sums of a block of even age are
// f[m] += w x[15 + m] + w' x[15 - m] (m = 0..15; f[0] has no second term) and
// f[16] += w x[31]; of odd age f[16 + m] += w x[31 - m] - w' x[m - 1]
// (m = 0..15; f[16] has no second term). So a kernel reads, for 4 f at a
// time (group g, f[4g + l] or f[16 + 4g + l], l = 0..3), four doubles of the
// row in order and four of its reversed copy: even ages x[15 + 4g + l] and
// R[16 + 4g + l] (R[16] being x[31], which belongs to f[16], not f[0]), odd
// ages R[4g + l] and x[4g + l - 1] (x[-1] is the double before the row,
// weighed 0). kAnalysisWindow holds those weights, C = D / 32 (a power of
// two, so exact), in that order: for age b, 64 doubles, group g's 4 weights
// for the first read and then its 4 for the second. It holds 32 such ages,
// age (-j) mod 16 at row j, so that at newest row t the history's row k
// finds its weights at row k + 16 - t.
constexpr int kARow = 64, kAPad = 4;
struct alignas(32) AnalysisWindow {
  double w[32 * 64];
};
extern const AnalysisWindow kAnalysisWindow;

// The 32-point DCT-III s[i] = sum over m = 0..n-1 of a[m] cos((2i + 1) m pi /
// (2n)), on doubles or on lanes of them. The even terms form the same
// transform of half the length on a[2p], symmetric about the middle (E). For
// the odd ones, 2 cos(x) cos((2p + 1) x) = cos((2p + 2) x) + cos(2p x) with
// x = (2i + 1) pi / (2n) turns them into the half-length transform of
// b[q] = a[2q - 1] + a[2q + 1] divided by 2 cos(x), antisymmetric about the
// middle (O). Then s[i] = E + O, s[n-1-i] = E - O. factors<n>()[i] is
// 1 / (2 cos((2i + 1) pi / (2n))), correctly rounded: within a few units in
// the last place of pnts[stage][i] (32 >> stage = n), which takes pi as a
// double. analysis_window.cpp checks both at build time.
inline constexpr double kFactors32[16] = {
    0x1.004f09436640ep-1, 0x1.02cd16f3ace41p-1, 0x1.07e8b5b5db921p-1, 0x1.0fe4d0830706dp-1,
    0x1.1b306f118428cp-1, 0x1.2a7673c047c11p-1, 0x1.3eb8dc44206e3p-1, 0x1.59807a9b3c085p-1,
    0x1.7d33dbad48054p-1, 0x1.adbf3c99f011bp-1, 0x1.f1f476cd7dae4p-1, 0x1.2b606a5cbb0c6p+0,
    0x1.7bf23658f321ap+0, 0x1.07655e3e0a356p+1, 0x1.b42c833d72df0p+1, 0x1.46148bea939f9p+3};
inline constexpr double kFactors16[8] = {
    0x1.013d19c61d971p-1, 0x1.0b84f03ebe15ep-1, 0x1.22467d1065a74p-1, 0x1.4b2c398bbe3c6p-1,
    0x1.938900b7d4210p-1, 0x1.0f8892a4eced9p+0, 0x1.b8f24b0406141p+0, 0x1.4679380e538dep+2};
inline constexpr double kFactors8[4] = {0x1.0503ed17cba53p-1, 0x1.33e37a1e0173ep-1,
                                        0x1.ccc9aefb18d58p-1, 0x1.480d9d073b428p+1};
inline constexpr double kFactors4[2] = {0x1.1517a7bdb3895p-1, 0x1.4e7ae9144f0fcp+0};
inline constexpr double kFactors2[1] = {0x1.6a09e667f3bcdp-1};

template <int n>
constexpr const double *factors() {
  if constexpr (n == 32) return kFactors32;
  if constexpr (n == 16) return kFactors16;
  if constexpr (n == 8) return kFactors8;
  if constexpr (n == 4) return kFactors4;
  return kFactors2;
}

template <int n, class T>
SYNTHTAB_INLINE void dct3(const T *a, T *s) {
  if constexpr (n == 1) {
    s[0] = a[0];
  } else {
    constexpr int h = n / 2;
    T even[h], odd[h], e[h], o[h];
    SYNTHTAB_UNROLL(16)
    for (int p = 0; p < h; p++) even[p] = a[2 * p];
    odd[0] = a[1];
    SYNTHTAB_UNROLL(16)
    for (int q = 1; q < h; q++) odd[q] = a[2 * q - 1] + a[2 * q + 1];
    dct3<h>(even, e);
    dct3<h>(odd, o);
    SYNTHTAB_UNROLL(16)
    for (int i = 0; i < h; i++) {
      const T t = o[i] * factors<n>()[i];
      s[i] = e[i] + t;
      s[n - 1 - i] = e[i] - t;
    }
  }
}

// The 32 subband samples of the block in[0], in[stride], ..., in[31 * stride]
// into a history at newest row t (after the block is stored as row t).
using AnalysisF64 = void (*)(double *history, const double *in, std::ptrdiff_t stride,
                             double *subbands, unsigned t);

}  // namespace synthtab::kernel
SYNTHTAB_HIDDEN_END

#endif  // SYNTHTAB_KERNELS_KERNEL_H
