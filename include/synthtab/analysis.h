/*
 * synthtab: the analysis filterbank of an MPEG-1 audio encoder, the
 * synthesis filterbank's companion. It turns audio into the 32 subband
 * samples per block that the synthesis turns back into audio: analysis
 * followed by synthesis at scale 1 rebuilds the input 481 samples late, at
 * 80 dB SNR or better (the window is close to, not exactly, a perfect-
 * reconstruction one).
 *
 * For each block of 32 new input samples x (full scale 1), the standard's
 * analysis:
 *   shift the 512-sample history X by 32 and insert the new samples newest
 *   first, X[i] = x[31 - i] for i = 0..31;
 *   Z[i] = C[i] X[i], with the analysis window C[i] = D[i] / 32, D being the
 *   synthesis window the tables are built from;
 *   Y[i] = sum over j = 0..7 of Z[i + 64 j], i = 0..63;
 *   S[i] = sum over k = 0..63 of cos((2i + 1)(k - 16) pi / 64) Y[k],
 *   i = 0..31, the subband samples.
 * The matrixing runs through a fast 32-point transform; the result is within
 * 1e-12 of the direct form above. It reads none of the decoder tables, so it
 * needs no make_decode_tables() call and does not depend on its scale. It
 * runs in the kernel the synthesis uses (synth.h: synthtab_kernel(),
 * synthtab_use_kernel(), SYNTHTAB_KERNEL), with the same guarantees: each
 * kernel gives the same bits on every machine, and a state carries over a
 * switch between blocks.
 *
 * Contract:
 *   - synthtab_analysis_init() before the first block; it also resets a
 *     filterbank to silence. The state is a plain struct: no allocation, no
 *     clean-up, and it may be copied to fork a stream.
 *   - One instance per channel. Instances share nothing, so different
 *     instances may run on different threads at once.
 *   - in and subbands may overlap: the input is read before any output is
 *     written.
 *   - Saving and restoring: the state is plain bytes and holds no pointer;
 *     copied, or written to a file and read back by any process running the
 *     same library version, it continues bit for bit, under any kernel.
 *   - Callers must not pass NULL for a, in or subbands, nor stride 0 (every
 *     input sample would be in[0]); in must reach in[31 * stride]. Garbage
 *     in a state is not detected: it gives garbage subbands but never
 *     crashes, nor reads or writes outside the state and the caller's
 *     buffers; synthtab_analysis_init() makes it silent again.
 *
 * Compiles as C99 and as C++; the names have C linkage. C++ callers may use
 * synthtab::AnalysisFilterbank below.
 */
#ifndef SYNTHTAB_ANALYSIS_H
#define SYNTHTAB_ANALYSIS_H

#include <stddef.h>
#include <synthtab/export.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The state of one channel. Its fields are private: use the functions. */
typedef struct synthtab_analysis {
  double priv_history[4 + 16 * 64]; /* the last 16 input blocks, each also reversed */
  unsigned priv_newest;             /* the row of priv_history holding the latest block */
} synthtab_analysis;

/* Sets a to silence: before first use, or to restart a stream. */
SYNTHTAB_API void synthtab_analysis_init(synthtab_analysis *a);

/* Reads the next 32 input samples in[0], in[stride], ..., in[31 * stride]
 * (stride 1 for a mono buffer, the channel count for one channel of an
 * interleaved one) and writes their 32 subband samples, lowest band first. */
SYNTHTAB_API void synthtab_analysis_f64(synthtab_analysis *a, const double *in, ptrdiff_t stride,
                                        double subbands[32]);

#ifdef __cplusplus
} /* extern "C" */

namespace synthtab {

// The C API in a class: one instance per channel, silent when constructed.
class AnalysisFilterbank {
 public:
  AnalysisFilterbank() { synthtab_analysis_init(&a_); }
  void reset() { synthtab_analysis_init(&a_); }

  // 32 samples in (in[0], in[stride], ...), 32 subband samples out.
  void analyze(const double *in, double subbands[32], ptrdiff_t stride = 1) {
    synthtab_analysis_f64(&a_, in, stride, subbands);
  }

 private:
  synthtab_analysis a_;
};

}  // namespace synthtab
#endif /* __cplusplus */

#endif /* SYNTHTAB_ANALYSIS_H */
