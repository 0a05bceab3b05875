// synthtab: the synthesis filterbank of an MPEG-1 audio decoder, built on the
// tables of tabinit.h, and a direct-form reference to check it against.
//
// Each synthesize() call takes the 32 subband samples of one time slot and
// returns the next 32 output samples. Output j of a block is
//
//   sum over i = 0..15 of U[j + 32 i] D[j + 32 i]
//
// where D is the standard's 512-tap synthesis window and U gathers the
// matrixed subbands of the current and the 15 previous blocks, exactly as the
// standard's direct form does; ReferenceSynthesis spells that form out.
//
// Contract for SynthesisFilterbank:
//   - make_decode_tables() must have been called before the first
//     synthesize(). The output is the direct form's output times the scale of
//     the latest call: 32768 gives 16-bit PCM range, a negative scale flips
//     the polarity.
//   - The tables must not change while instances run: no make_decode_tables()
//     call may overlap a synthesize() call on any thread, and a call between
//     two blocks switches the scale mid-stream (the history is kept unscaled).
//   - One instance per channel. Instances share nothing but the read-only
//     tables, so different instances may run on different threads at once;
//     one instance must not be used from two threads at once.
//   - subbands and out may be the same array.
#ifndef SYNTHTAB_SYNTH_H
#define SYNTHTAB_SYNTH_H

#include <cstddef>
#include <cstdint>

#include "tabinit.h"

namespace synthtab {

// The fast path: a 32-point DCT by recursive halving on the factors in pnts,
// then a 16-tap window per output sample read row by row from decwin.
class SYNTHTAB_API SynthesisFilterbank {
 public:
  SynthesisFilterbank();  // history starts silent
  void reset();           // back to silence

  // 32 subband samples in, 32 output samples out, scaled by the scale of the
  // latest make_decode_tables() call.
  void synthesize(const double subbands[32], double out[32]);

 private:
  // Matrixed values of the last 16 blocks, one contiguous run of 16 per window
  // row, in two sets by parity of the block number (see synth.cpp): runs
  // 0..16 feed outputs 0..16, runs 17..31 outputs 17..31.
  alignas(16) double hist_[2][32][16];
  unsigned t_;  // blocks so far, mod 16
};

// The standard's direct form, step by step: matrixing into a 1024-sample V
// history, U gathered from V, windowed by the full 512-tap D, summed. Output
// is unscaled (scale 1); it does not read the tables and needs no
// make_decode_tables() call. Slow; meant for checking a port or a fast path:
// SynthesisFilterbank's output is scale times this one's. Same threading
// rules as above, apart from the tables.
class SYNTHTAB_API ReferenceSynthesis {
 public:
  ReferenceSynthesis();  // history starts silent
  void reset();          // back to silence
  void synthesize(const double subbands[32], double out[32]);

 private:
  double v_[1024];  // V of the latest block in v_[0..63], older ones after it
};

// Converts n samples to 16-bit PCM: rounds to nearest with halves away from
// zero (2.5 -> 3, -2.5 -> -3), then clips to [-32768, 32767]. Returns how
// many samples were clipped, that is, rounded to a value outside that range.
// NaN is written as 0 and counted as clipped; infinities clip to the rails.
// in and out must not overlap.
SYNTHTAB_API std::size_t to_pcm16(const double *in, std::size_t n, int16_t *out);

}  // namespace synthtab

#endif  // SYNTHTAB_SYNTH_H
