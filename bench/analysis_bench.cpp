// Timings of the analysis filterbank in each kernel, at stride 1 and 2, beside
// the FFTW peer (fftw_peer.h, where FFTW is installed) and the direct form
// the tests hold it to. Figures are per block of 32 input samples; items/s is
// input samples per second.
#include <benchmark/benchmark.h>
#include <synthtab/analysis.h>
#include <synthtab/synth.h>

#include <random>
#include <vector>

#include "analysis_helpers.h"  // DirectAnalysis, from tests/
#if defined(SYNTHTAB_HAVE_FFTW)
#include "fftw_peer.h"
#endif

namespace {

// 64 blocks of `stride` interleaved channels, cycled through.
std::vector<double> input(ptrdiff_t stride) {
  std::mt19937_64 gen(1);
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<double> x(64 * 32 * stride);
  for (double &v : x) v = u(gen);
  return x;
}

template <class F>
void run(benchmark::State &state, F &f, ptrdiff_t stride) {
  const std::vector<double> x = input(stride);
  double s[32];
  std::size_t b = 0;
  for (auto _ : state) {
    f.analyze(&x[32 * stride * b], s, stride);
    benchmark::DoNotOptimize(s);
    b = (b + 1) % 64;
  }
  state.SetItemsProcessed(state.iterations() * 32);
}

void BM_Analysis(benchmark::State &state, const char *kernel, ptrdiff_t stride) {
  if (synthtab_use_kernel(kernel) != 0) {
    state.SkipWithError("kernel not supported here");
    return;
  }
  synthtab::AnalysisFilterbank f;
  run(state, f, stride);
}

#define SYNTHTAB_KERNEL_BENCH(k)                      \
  BENCHMARK_CAPTURE(BM_Analysis, k / stride1, #k, 1); \
  BENCHMARK_CAPTURE(BM_Analysis, k / stride2, #k, 2)

SYNTHTAB_KERNEL_BENCH(scalar);
SYNTHTAB_KERNEL_BENCH(sse2);
SYNTHTAB_KERNEL_BENCH(avx2);
SYNTHTAB_KERNEL_BENCH(neon);

template <class F>
void BM_Peer(benchmark::State &state) {
  F f;
  run(state, f, 1);
}
#if defined(SYNTHTAB_HAVE_FFTW)
BENCHMARK(BM_Peer<FftwAnalysis>)->Name("BM_FftwAnalysis");
#endif
BENCHMARK(BM_Peer<DirectAnalysis>)->Name("BM_DirectAnalysis");

}  // namespace
