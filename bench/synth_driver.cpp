// Runs the fast filterbank for a fixed number of blocks (default 10000) on
// random subbands; callgrind.sh counts the instructions it spends in
// synthesize(). Prints a checksum so the work cannot be optimised away.
#include <synthtab/synth.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

int main(int argc, char **argv) {
  const long blocks = argc > 1 ? std::atol(argv[1]) : 10000;
  if (blocks <= 0) {
    std::fprintf(stderr, "usage: synth_driver [BLOCKS > 0]\n");
    return 2;
  }
  make_decode_tables(32768);
  std::mt19937_64 gen(1);
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<double> s(64 * 32);
  for (double &v : s) v = u(gen);

  synthtab::SynthesisFilterbank f;
  double out[32], sum = 0;
  for (long b = 0; b < blocks; b++) {
    f.synthesize(&s[32 * (b % 64)], out);
    sum += out[b % 32];
  }
  std::printf("%ld blocks, checksum %.17g\n", blocks, sum);
  return 0;
}
