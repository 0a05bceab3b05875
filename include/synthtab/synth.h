/*
 * synthtab: the synthesis filterbank of an MPEG-1 audio decoder, built on the
 * tables of tabinit.h, and a direct-form reference to check it against.
 *
 * Each call takes the 32 subband samples of one time slot of one channel and
 * writes the next 32 output samples. Output j of a block is
 *
 *   sum over i = 0..15 of U[j + 32 i] D[j + 32 i]
 *
 * where D is the standard's 512-tap synthesis window and U gathers the
 * matrixed subbands of the current and the 15 previous blocks, exactly as the
 * standard's direct form does; synthtab_reference spells that form out.
 *
 * Contract:
 *   - make_decode_tables() must have been called before the first block. The
 *     output is the direct form's output times the scale of the latest call:
 *     32768 gives 16-bit PCM range, a negative scale flips the polarity.
 *   - No make_decode_tables() call may overlap a filterbank call on any
 *     thread. A call between two blocks switches the scale from the next
 *     block on (the history is kept unscaled).
 *   - One synthtab_synth per channel. States share nothing but the read-only
 *     tables, so different states may run on different threads at once; one
 *     state must not be used from two threads at once.
 *   - out may overlap subbands (the same array works); it must not overlap
 *     the state. Every kernel reads all 32 subbands before writing.
 *
 * Saving and restoring: a state is plain bytes and holds no pointer. Copied
 * with memcpy or assignment, written to a file and read back, by this
 * process or another one running the same library version, at any address,
 * it continues bit for bit from where it was saved. Under another kernel it
 * continues too, its history converted at the next block (to that kernel's
 * bits from then on). Another library version may lay it out differently:
 * do not carry saved states across versions.
 *
 * What callers must not do (nothing checks it):
 *   - pass NULL for s, subbands or out;
 *   - pass stride 0: every sample would land on out[0], which one is kept
 *     being unspecified. out must reach out[31 * stride] (out itself being
 *     the last of the 32 for a negative stride);
 *   - place a state below its type's alignment (that of a double) other
 *     than as bytes to be copied into a state;
 *   - run a block while an element of pnts is NULL or points at a table
 *     make_decode_tables() has not filled (tabinit.h);
 *   - write decwin by hand and expect the filterbank to follow: the avx2
 *     kernel reads the copy of it the latest make_decode_tables() call made.
 * Garbage in a state (bytes that are no saved state) is not detected: its
 * blocks write garbage samples but never crash, nor read or write outside
 * the state, subbands and out[0 .. 31 * stride]; synthtab_synth_init()
 * makes it silent again.
 *
 * Kernels: the arithmetic (of this filterbank and of analysis.h's) runs in
 * one of several kernels, chosen once per process. "scalar" is portable and
 * exists everywhere; on x86 there are "sse2" and "avx2" (AVX2 with FMA), on
 * AArch64 "neon". By default the fastest one the CPU runs
 * is used; the environment variable SYNTHTAB_KERNEL, read at the first
 * filterbank call, names another one, and synthtab_use_kernel() switches at
 * any time no filterbank call is running on any thread. An unknown or
 * unsupported name in SYNTHTAB_KERNEL is ignored (the default stays).
 * Each kernel gives the same bits for the same input on every machine that
 * runs it; different kernels agree to about 1e-14 relative, not to the bit.
 * A state may continue under another kernel (above).
 *
 * Compiles as C99 and as C++; the names have C linkage. In C++ the classes
 * at the end wrap the same calls.
 */
#ifndef SYNTHTAB_SYNTH_H
#define SYNTHTAB_SYNTH_H

#include <stddef.h>
#include <stdint.h>
#include <synthtab/tabinit.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The state of one channel. A complete type, so it can live anywhere (stack,
 * static, inside a struct of your own) with no allocation and with only the
 * alignment of a double. Its fields are private: reach it only through the
 * functions below. A copy of a state, anywhere and in any process, continues
 * from where the original was (saving and restoring, above); a zero-filled
 * state is silent, as after synthtab_synth_init(). */
typedef struct synthtab_synth {
  double priv_hist[1684 + 3]; /* the history, at any offset: 13.2 KiB in all */
  size_t priv_spare[2];       /* unused, left as found */
  uint32_t priv_t, priv_tag;  /* the block number; the kernel and the history's offset */
} synthtab_synth;

/* Silent history. Use it at start and to reset on a seek. */
SYNTHTAB_API void synthtab_synth_init(synthtab_synth *s);

/* 32 subband samples in; the next 32 output samples to out[0], out[stride],
 * ..., out[31 * stride], scaled by the scale of the latest
 * make_decode_tables() call. Stride 2 writes one channel of an interleaved
 * stereo buffer; any stride works, negative ones too. */
SYNTHTAB_API void synthtab_synth_f64(synthtab_synth *s, const double subbands[32], double *out,
                                     ptrdiff_t stride);

/* As synthtab_synth_f64, each sample rounded to float. */
SYNTHTAB_API void synthtab_synth_f32(synthtab_synth *s, const double subbands[32], float *out,
                                     ptrdiff_t stride);

/* As synthtab_synth_f64, each sample rounded to the nearest integer (halves
 * away from zero) and clipped to [-32768, 32767]; NaN is written as 0 and
 * counts as clipped. Returns how many of the 32 samples were clipped. */
SYNTHTAB_API size_t synthtab_synth_s16(synthtab_synth *s, const double subbands[32], int16_t *out,
                                       ptrdiff_t stride);

/* The standard's direct form, step by step: matrixing into a 1024-sample V
 * history, U gathered from V, windowed by the full 512-tap D, summed. Output
 * is unscaled (scale 1); it does not read the tables and needs no
 * make_decode_tables() call. Slow (and 24 KiB); meant for checking a port:
 * synthtab_synth_f64's output is the scale times this one's. Same threading
 * rules as above, apart from the tables. Fields private. */
typedef struct synthtab_reference {
  double priv_v[1024];    /* V of the latest block in [0..63], older after it */
  double priv_n[64 * 32]; /* the matrixing cosines */
} synthtab_reference;

SYNTHTAB_API void synthtab_reference_init(synthtab_reference *r);
SYNTHTAB_API void synthtab_reference_f64(synthtab_reference *r, const double subbands[32],
                                         double out[32]);

/* The kernel in use: "scalar", "sse2", "avx2" or "neon". */
SYNTHTAB_API const char *synthtab_kernel(void);

/* Makes the named kernel the one in use and returns 0; returns non-zero and
 * changes nothing when the name is unknown or the CPU lacks that kernel.
 * Process-wide: call it only while no filterbank call runs on any thread. */
SYNTHTAB_API int synthtab_use_kernel(const char *name);

#ifdef __cplusplus
}

#include <cmath>
#include <cstddef>

namespace synthtab {

/* One channel of the fast filterbank (synthtab_synth). */
class SynthesisFilterbank {
 public:
  SynthesisFilterbank() { synthtab_synth_init(&s_); }  // history starts silent
  void reset() { synthtab_synth_init(&s_); }           // back to silence

  // 32 subband samples in, 32 output samples out, scaled by the scale of the
  // latest make_decode_tables() call. subbands and out may be the same array.
  void synthesize(const double subbands[32], double out[32]) {
    synthtab_synth_f64(&s_, subbands, out, 1);
  }

 private:
  synthtab_synth s_;
};

/* The direct form (synthtab_reference), unscaled. */
class ReferenceSynthesis {
 public:
  ReferenceSynthesis() { synthtab_reference_init(&r_); }
  void reset() { synthtab_reference_init(&r_); }
  void synthesize(const double subbands[32], double out[32]) {
    synthtab_reference_f64(&r_, subbands, out);
  }

 private:
  synthtab_reference r_;
};

// x rounded to the nearest integer, halves away from zero (2.5 -> 3,
// -2.5 -> -3), then clipped to the range of a signed Bits-bit integer
// (Bits = 16: [-32768, 32767]); NaN gives 0. A sample that rounds outside
// that range, or is NaN, adds 1 to clipped. The one definition of integer
// output: synthtab_synth_s16, to_pcm16 and the tool's 24-bit output use it.
template <int Bits>
inline int32_t round_clip(double x, std::size_t &clipped) {
  static_assert(Bits >= 2 && Bits <= 32, "a signed integer of up to 32 bits");
  constexpr double hi = static_cast<double>((int64_t{1} << (Bits - 1)) - 1), lo = -hi - 1;
  // Halves away from zero, NaN stays NaN. Not std::round: MinGW-w64's gives 1
  // for 0.49999999999999994. x - trunc(x) is exact.
  double r = std::trunc(x);
  if (std::fabs(x - r) >= 0.5) r += std::copysign(1.0, x);
  if (r >= lo && r <= hi) return static_cast<int32_t>(r);
  clipped++;
  return r > 0 ? static_cast<int32_t>(hi) : r < 0 ? static_cast<int32_t>(lo) : 0;  // NaN: 0
}

// Converts n samples to 16-bit PCM as synthtab_synth_s16 does (round_clip<16>).
// Returns how many samples were clipped; infinities clip to the rails. in
// and out must not overlap.
inline std::size_t to_pcm16(const double *in, std::size_t n, int16_t *out) {
  std::size_t clipped = 0;
  for (std::size_t i = 0; i < n; i++) out[i] = static_cast<int16_t>(round_clip<16>(in[i], clipped));
  return clipped;
}

}  // namespace synthtab

#endif /* __cplusplus */

#endif /* SYNTHTAB_SYNTH_H */
