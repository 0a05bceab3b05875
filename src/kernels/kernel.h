// The seam between the filterbank's state and dispatch (synth.cpp) and the
// kernels, one file per instruction set. Adding a kernel: a file here
// defining a Kernel, its name in the declaration below and in the list in
// synth.cpp, and a condition in src/CMakeLists.txt.
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
// decwin[32 m + (15 - t - s) mod 16] * h[p][m][s]. Kernels that prefer to
// read that backward window forwards keep mirror rows: row 16 + m of each
// run holds row m in reversed slot order, h[r][16 + m][s] = h[r][m][-s].
//
// Transposed layout (kernels that sum across outputs, Kernel::transposed):
// the same values negated (X[n], the sign moves into the window) and
// slot-major. Row 0 is the same in both runs and is kept once, at
// kTRow0 + slot. Rows 1..16 of run r, slot s are at kTSlot * (r * 16 + s) +
// kTPad + (0..15), kTPad doubles of padding before each slot's rows, so the
// rows a slot contributes to sit side by side and load four at a time. After the history, the
// kernel caches its window for the current decwin: at kTWin 31 columns
// (c = t + s) of 32 doubles, at kTWin0 the 31 values of row 0, and at kTKey
// the decwin[kTKeyAt] they were built from, compared bit for bit: a state
// whose key differs (zero-filled, NaN after a layout change, or a new scale)
// rebuilds them. decwin[kTKeyAt] is -scale times the window's largest value,
// so integer scales that differ give different keys.
// The region holds kState doubles whatever the layout.
#ifndef SYNTHTAB_KERNELS_KERNEL_H
#define SYNTHTAB_KERNELS_KERNEL_H

#include <synthtab/synth.h>

#include <cstddef>
#include <cstdint>

namespace synthtab::kernel {

constexpr int kRows = 32, kSlots = 16, kRun = kRows * kSlots;
constexpr int kTSlot = 20, kTPad = 4, kTRun = kSlots * kTSlot, kTRow0 = 2 * kTRun;
constexpr int kTWin = kTRow0 + kSlots, kTWin0 = kTWin + 31 * 32, kTKey = kTWin0 + 32;
constexpr int kTKeyAt = 8;
constexpr int kState = kTKey + 4;
static_assert(kState >= 2 * kRun, "the region holds either layout");

// One block: reads all 32 subbands, writes the block's values into the
// history h (32-byte aligned, [2][32][16] or transposed) at block number t (mod 16), then
// the 32 output samples to out (contiguous). The argument order follows the
// public calls' (state, subbands, out, stride), so the dispatch moves no
// registers.
using SynthFn = void (*)(double *h, const double *subbands, double *out, unsigned t);

// 32 samples to 16-bit PCM at a stride, as synthtab_synth_s16 defines it;
// returns the number clipped.
using Pcm16Fn = std::size_t (*)(const double *in, int16_t *out, std::ptrdiff_t stride);

// A block as SynthFn, converted as Pcm16Fn; returns the number clipped.
using Synth16Fn = std::size_t (*)(double *h, const double *subbands, int16_t *out,
                                  std::ptrdiff_t stride, unsigned t);

struct Kernel {
  const char *name;
  bool (*supported)();  // whether this CPU runs it
  SynthFn synth;
  Pcm16Fn pcm16;
  bool mirror;                  // reads and keeps the mirror rows
  bool transposed = false;      // the transposed layout with its window cache
  Synth16Fn synth16 = nullptr;  // a block straight to 16-bit PCM, if the kernel has its own
};

// The portable definition of the PCM conversion, for kernels without their own.
std::size_t pcm16_scalar(const double *in, int16_t *out, std::ptrdiff_t stride);

// Every kernel there is; a build defines those its CMake conditions select
// (SYNTHTAB_KERNEL_<NAME>), and synth.cpp lists them in order of preference.
extern const Kernel kScalar, kSse2, kAvx2, kNeon;

}  // namespace synthtab::kernel

#endif  // SYNTHTAB_KERNELS_KERNEL_H
