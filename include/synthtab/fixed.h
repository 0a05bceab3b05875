/*
 * synthtab: the synthesis filterbank in integer arithmetic, for CPUs without
 * a double-precision FPU (Cortex-M0/M3/M4F/M7, DSPs, soft-float Linux).
 *
 * Each call takes the 32 subband samples of one time slot of one channel, as
 * signed fixed point with SYNTHTAB_FIXED_FRAC_BITS fraction bits, and writes
 * the next 32 output samples. The output approximates the double filterbank
 * (synth.h) at scale 32768 for s16 and 2^31 for s32, fed the subbands
 * value / 2^SYNTHTAB_FIXED_FRAC_BITS: rounded to the nearest integer, halves
 * away from zero, and clipped.
 *
 * Formats:
 *   - Subbands: int32_t with 30 fraction bits, values in [-2, 2): headroom
 *     for subband values above 1. Every input is safe: no intermediate value
 *     can overflow for any int32_t, and output beyond full scale is clipped
 *     and counted.
 *   - s16: full scale 32768. s32: full scale 2^31.
 *
 * Accuracy against the exact direct form (synthtab_reference): s32 output
 * within 2^-20 of full scale RMS and 2^-18 at most; s16 output at most one
 * step from the rounded double output, and equal to it for nearly every
 * sample (README, "Embedded decoders").
 *
 * Arithmetic: integers only, at start-up and at run time: 32-bit tables and
 * values, 32 x 32 -> 64-bit products and 64-bit sums. The output is the same
 * bits on every CPU and compiler, from every kernel: a portable one, and an
 * AVX2 one on x86, which runs whenever the library's kernel choice is "avx2"
 * (synthtab_kernel() in synth.h; SYNTHTAB_KERNEL and synthtab_use_kernel()
 * choose another, and every other choice runs the portable one).
 *
 * Tables: synthtab_fixed_tab is constant data (ROM), computed when the
 * library is built from the same values make_decode_tables() stores in pnts
 * and decwin, each rounded to its fixed-point format; nothing runs at
 * start-up and make_decode_tables() is not needed. `synthtab --format
 * c-fixed` prints them as C99 source.
 *
 * Threading: one synthtab_fixed per channel; states share nothing but the
 * constant tables, so different states may run on different threads at once.
 *
 * Saving and restoring: the state is plain bytes and holds no pointer; copied,
 * or written to a file and read back by any process running the same library
 * version, it continues bit for bit, under any kernel. Callers must not pass
 * NULL for f, subbands or out, nor stride 0 (every sample would land on
 * out[0]); out must reach out[31 * stride]. Garbage in a state is not
 * detected: it gives garbage samples but never crashes, nor reads or writes
 * outside the state and the caller's buffers; synthtab_fixed_init() makes it
 * silent again.
 *
 * Compiles as C99 and as C++; the names have C linkage.
 */
#ifndef SYNTHTAB_FIXED_H
#define SYNTHTAB_FIXED_H

#include <stddef.h>
#include <stdint.h>
#include <synthtab/export.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Fraction bits of the subband samples: 1.0 is 1 << 30. */
#define SYNTHTAB_FIXED_FRAC_BITS 30

/* Fraction bits of the tables: factor k of stage i is held with 27 + i
 * fraction bits (the largest factors, about 10.2, 5.1, 2.6, 1.3 and 0.71,
 * then just fit), the window with 30. */
#define SYNTHTAB_FIXED_COS_BITS 27
#define SYNTHTAB_FIXED_WIN_BITS 30

/* The constant tables.
 *   cos[16 + 8 + ... ]: the 31 factors of pnts, stage 0 first (stage i starts
 *     at 32 - (32 >> i)), factor k of stage i as round(pnts[i][k] * 2^(27 + i)).
 *   win[k][c]: the window as output k reads it at column c = t + s, slot s
 *     of the history at block number t (mod 16); from decwin at scale
 *     -2^30 (that is, D[32g + m] * 2^30 rounded, D the standard's window).
 *     Rows 0..16 hold decwin's rows 0..16 with every odd column negated,
 *     rows 17..31 decwin's rows 15..1 with columns 0..15 reversed. */
typedef struct synthtab_fixed_tables {
  int32_t cos[31];
  int32_t win[32][32];
} synthtab_fixed_tables;

SYNTHTAB_API extern const synthtab_fixed_tables synthtab_fixed_tab;

/* The state of one channel: 2.1 KiB, a complete type, no allocation. Fields
 * private. A zero-filled state is silent, as after synthtab_fixed_init(); a
 * copy continues where the original was. */
typedef struct synthtab_fixed {
  int32_t priv_hist[2 * 17 * 16];
  uint32_t priv_t;
} synthtab_fixed;

/* Silent history. Use it at start and to reset on a seek. */
SYNTHTAB_API void synthtab_fixed_init(synthtab_fixed *f);

/* 32 subband samples in (SYNTHTAB_FIXED_FRAC_BITS fraction bits); the next
 * 32 output samples to out[0], out[stride], ..., out[31 * stride], full
 * scale 32768, rounded and clipped to [-32768, 32767]. Any stride works,
 * negative ones too. Returns how many of the 32 were clipped. out may
 * overlap subbands; it must not overlap the state. */
SYNTHTAB_API size_t synthtab_fixed_s16(synthtab_fixed *f, const int32_t subbands[32], int16_t *out,
                                       ptrdiff_t stride);

/* As synthtab_fixed_s16 at full scale 2^31, clipped to the int32_t range. */
SYNTHTAB_API size_t synthtab_fixed_s32(synthtab_fixed *f, const int32_t subbands[32], int32_t *out,
                                       ptrdiff_t stride);

#ifdef __cplusplus
}
#endif

#endif /* SYNTHTAB_FIXED_H */
