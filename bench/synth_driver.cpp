// Runs one filterbank kernel for a fixed number of blocks on random input;
// callgrind.sh counts the instructions spent in the filterbank call alone.
// Prints a checksum so the work cannot be optimised away.
//   synth_driver [BLOCKS [KERNEL [f64|f32|s16|analysis|fftw [STRIDE]]]]
// analysis runs synthtab_analysis_f64; fftw the FFTW peer (fftw_peer.h),
// where FFTW is installed.
#include <synthtab/analysis.h>
#include <synthtab/synth.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#if defined(SYNTHTAB_HAVE_FFTW)
#include "fftw_peer.h"
#endif

int main(int argc, char **argv) {
  const long blocks = argc > 1 ? std::atol(argv[1]) : 10000;
  const char *kernel = argc > 2 && *argv[2] ? argv[2] : nullptr;
  const std::string format = argc > 3 ? argv[3] : "f64";
  const long stride = argc > 4 ? std::atol(argv[4]) : 1;
  bool known = format == "f64" || format == "f32" || format == "s16" || format == "analysis";
#if defined(SYNTHTAB_HAVE_FFTW)
  known = known || format == "fftw";
#endif
  if (blocks <= 0 || !known || stride < 1 || stride > 8) {
    std::fprintf(stderr,
                 "usage: synth_driver [BLOCKS > 0 [KERNEL [f64|f32|s16|analysis|fftw "
                 "[STRIDE 1..8]]]]\n");
    return 2;
  }
  if (kernel && synthtab_use_kernel(kernel) != 0) {
    std::fprintf(stderr, "synth_driver: kernel '%s' is not available here\n", kernel);
    return 2;
  }
  make_decode_tables(32768);
  std::mt19937_64 gen(1);
  const bool analysis = format == "analysis" || format == "fftw";
  // Subbands at a level where 16-bit output rarely clips; audio at full scale.
  std::uniform_real_distribution<double> u(analysis ? -1 : -0.0625, analysis ? 1 : 0.0625);
  std::vector<double> s(64 * 32 * stride);
  for (double &v : s) v = u(gen);

  synthtab_synth f;
  synthtab_synth_init(&f);
  synthtab_analysis a;
  synthtab_analysis_init(&a);
#if defined(SYNTHTAB_HAVE_FFTW)
  FftwAnalysis peer;
#endif
  std::vector<double> out(32 * stride);
  std::vector<float> out32(32 * stride);
  std::vector<int16_t> pcm(32 * stride);
  double sum = 0;
  for (long b = 0; b < blocks; b++) {
    const double *in = &s[32 * (b % 64)];
    if (format == "f64") {
      synthtab_synth_f64(&f, in, out.data(), stride);
      sum += out[(b % 32) * stride];
    } else if (format == "f32") {
      synthtab_synth_f32(&f, in, out32.data(), stride);
      sum += out32[(b % 32) * stride];
    } else if (format == "s16") {
      sum += static_cast<double>(synthtab_synth_s16(&f, in, pcm.data(), stride));
      sum += pcm[(b % 32) * stride];
    } else if (format == "analysis") {
      synthtab_analysis_f64(&a, &s[32 * stride * (b % 64)], stride, out.data());
      sum += out[b % 32];
    } else {
#if defined(SYNTHTAB_HAVE_FFTW)
      peer.analyze(&s[32 * stride * (b % 64)], out.data(), stride);
      sum += out[b % 32];
#endif
    }
  }
  std::printf("%s: %ld blocks, checksum %.17g\n", format == "fftw" ? "fftw" : synthtab_kernel(),
              blocks, sum);
  return 0;
}
