// Timings of the analysis filterbank and of the direct form the tests hold it
// to. Figures are per block of 32 input samples; items/s is input samples per
// second.
#include <benchmark/benchmark.h>
#include <synthtab/analysis.h>

#include <random>
#include <vector>

#include "analysis_helpers.h"  // DirectAnalysis, from tests/

namespace {

template <class F>
void BM_Analysis(benchmark::State &state) {
  std::mt19937_64 gen(1);
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<double> x(64 * 32);  // 64 blocks, cycled through
  for (double &v : x) v = u(gen);
  F f;
  double s[32];
  std::size_t b = 0;
  for (auto _ : state) {
    f.analyze(&x[32 * b], s);
    benchmark::DoNotOptimize(s);
    b = (b + 1) % 64;
  }
  state.SetItemsProcessed(state.iterations() * 32);
}
BENCHMARK(BM_Analysis<synthtab::AnalysisFilterbank>)->Name("BM_Analysis");
BENCHMARK(BM_Analysis<DirectAnalysis>)->Name("BM_DirectAnalysis");

}  // namespace
