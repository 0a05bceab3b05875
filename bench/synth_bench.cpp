// Timings of the table build, each filterbank kernel at each output format,
// and the direct form. Filterbank figures are per block of 32 output samples;
// items/s is output samples per second.
#include <benchmark/benchmark.h>
#include <synthtab/synth.h>

#include <random>
#include <vector>

namespace {

// 64 blocks of random subbands, cycled through so the input is not constant,
// at a level where 16-bit output rarely clips, as in a decoder.
std::vector<double> input() {
  std::mt19937_64 gen(1);
  std::uniform_real_distribution<double> u(-0.0625, 0.0625);  // output mostly in 16-bit range
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

// One block per iteration of the given kernel, writing channel 0 of a buffer
// of `stride` interleaved channels through `write`.
template <class T, class Write>
void run(benchmark::State &state, const char *kernel, ptrdiff_t stride, Write write) {
  if (synthtab_use_kernel(kernel) != 0) {
    state.SkipWithError("kernel not supported here");
    return;
  }
  make_decode_tables(32768);
  const std::vector<double> s = input();
  synthtab_synth f;
  synthtab_synth_init(&f);
  std::vector<T> out(32 * stride);
  std::size_t b = 0;
  for (auto _ : state) {
    write(&f, &s[32 * b], out.data(), stride);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
    b = (b + 1) % 64;
  }
  state.SetItemsProcessed(state.iterations() * 32);
}

void BM_F64(benchmark::State &state, const char *kernel, ptrdiff_t stride) {
  run<double>(state, kernel, stride, synthtab_synth_f64);
}
void BM_F32(benchmark::State &state, const char *kernel, ptrdiff_t stride) {
  run<float>(state, kernel, stride, synthtab_synth_f32);
}
void BM_S16(benchmark::State &state, const char *kernel, ptrdiff_t stride) {
  run<int16_t>(state, kernel, stride, synthtab_synth_s16);
}

#define SYNTHTAB_KERNEL_BENCH(k)                 \
  BENCHMARK_CAPTURE(BM_F64, k / stride1, #k, 1); \
  BENCHMARK_CAPTURE(BM_F64, k / stride2, #k, 2); \
  BENCHMARK_CAPTURE(BM_S16, k / stride1, #k, 1); \
  BENCHMARK_CAPTURE(BM_S16, k / stride2, #k, 2); \
  BENCHMARK_CAPTURE(BM_F32, k / stride1, #k, 1); \
  BENCHMARK_CAPTURE(BM_F32, k / stride2, #k, 2)

SYNTHTAB_KERNEL_BENCH(scalar);
SYNTHTAB_KERNEL_BENCH(sse2);
SYNTHTAB_KERNEL_BENCH(avx2);
SYNTHTAB_KERNEL_BENCH(neon);

void BM_ReferenceSynthesis(benchmark::State &state) {
  const std::vector<double> s = input();
  synthtab::ReferenceSynthesis f;
  double out[32];
  std::size_t b = 0;
  for (auto _ : state) {
    f.synthesize(&s[32 * b], out);
    benchmark::DoNotOptimize(out);
    b = (b + 1) % 64;
  }
  state.SetItemsProcessed(state.iterations() * 32);
}
BENCHMARK(BM_ReferenceSynthesis);

}  // namespace
