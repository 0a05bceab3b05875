// Runs one filterbank kernel for a fixed number of blocks on random subbands;
// callgrind.sh counts the instructions spent in the synthtab_synth_* call.
// Prints a checksum so the work cannot be optimised away.
//   synth_driver [BLOCKS [KERNEL [f64|s16 [STRIDE]]]]
#include <synthtab/synth.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

int main(int argc, char **argv) {
  const long blocks = argc > 1 ? std::atol(argv[1]) : 10000;
  const char *kernel = argc > 2 && *argv[2] ? argv[2] : nullptr;
  const std::string format = argc > 3 ? argv[3] : "f64";
  const long stride = argc > 4 ? std::atol(argv[4]) : 1;
  if (blocks <= 0 || (format != "f64" && format != "s16") || stride < 1 || stride > 8) {
    std::fprintf(stderr, "usage: synth_driver [BLOCKS > 0 [KERNEL [f64|s16 [STRIDE 1..8]]]]\n");
    return 2;
  }
  if (kernel && synthtab_use_kernel(kernel) != 0) {
    std::fprintf(stderr, "synth_driver: kernel '%s' is not available here\n", kernel);
    return 2;
  }
  make_decode_tables(32768);
  std::mt19937_64 gen(1);
  std::uniform_real_distribution<double> u(-0.0625, 0.0625);  // output mostly in 16-bit range
  std::vector<double> s(64 * 32);
  for (double &v : s) v = u(gen);

  synthtab_synth f;
  synthtab_synth_init(&f);
  std::vector<double> out(32 * stride);
  std::vector<int16_t> pcm(32 * stride);
  double sum = 0;
  for (long b = 0; b < blocks; b++) {
    const double *in = &s[32 * (b % 64)];
    if (format == "f64") {
      synthtab_synth_f64(&f, in, out.data(), stride);
      sum += out[(b % 32) * stride];
    } else {
      sum += static_cast<double>(synthtab_synth_s16(&f, in, pcm.data(), stride));
      sum += pcm[(b % 32) * stride];
    }
  }
  std::printf("%s: %ld blocks, checksum %.17g\n", synthtab_kernel(), blocks, sum);
  return 0;
}
