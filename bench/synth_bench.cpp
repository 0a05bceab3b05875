// Timings of the table build, the fast filterbank and the direct form.
// Filterbank figures are per block of 32 output samples; items/s is output
// samples per second.
#include <benchmark/benchmark.h>
#include <synthtab/synth.h>

#include <random>
#include <vector>

namespace {

// 64 blocks of random subbands, cycled through so the input is not constant.
std::vector<double> input() {
  std::mt19937_64 gen(1);
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<double> s(64 * 32);
  for (double &v : s) v = u(gen);
  return s;
}

void BM_MakeDecodeTables(benchmark::State &state) {
  int32_t scale = 32768;
  for (auto _ : state) {
    make_decode_tables(scale);
    benchmark::DoNotOptimize(decwin);
    scale ^= 1;  // a different scale each call
  }
}
BENCHMARK(BM_MakeDecodeTables);

template <class F>
void BM_Synthesis(benchmark::State &state) {
  make_decode_tables(32768);
  const std::vector<double> s = input();
  F f;
  double out[32];
  std::size_t b = 0;
  for (auto _ : state) {
    f.synthesize(&s[32 * b], out);
    benchmark::DoNotOptimize(out);
    b = (b + 1) % 64;
  }
  state.SetItemsProcessed(state.iterations() * 32);
}
BENCHMARK(BM_Synthesis<synthtab::SynthesisFilterbank>)->Name("BM_FastFilterbank");
BENCHMARK(BM_Synthesis<synthtab::ReferenceSynthesis>)->Name("BM_ReferenceSynthesis");

}  // namespace
