// The analysis filterbank in every kernel against its direct form, also
// across kernel switches, and analysis + synthesis rebuilding synthetic input
// 481 samples late.
#include <gtest/gtest.h>
#include <synthtab/analysis.h>

#include <cmath>
#include <random>
#include <vector>

#include "analysis_helpers.h"
#include "kernels.h"

namespace {

const double kPi = std::acos(-1.0);

std::vector<double> noise(std::size_t n, unsigned seed, double amp = 1.0) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(-amp, amp);
  std::vector<double> x(n);
  for (double &v : x) v = u(gen);
  return x;
}

std::vector<double> sine(std::size_t n, double cycles_per_sample, double amp = 0.9) {
  std::vector<double> x(n);
  for (std::size_t i = 0; i < n; i++) x[i] = amp * std::sin(2 * kPi * cycles_per_sample * i + 0.4);
  return x;
}

// The fast path's deviation from the direct form on interleaved x.
double fast_deviation(const std::vector<double> &x, int channels = 1) {
  return deviation(subbands<synthtab::AnalysisFilterbank>(x, channels),
                   subbands<DirectAnalysis>(x, channels));
}

class AnalysisKernel : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { ASSERT_EQ(synthtab_use_kernel(GetParam().c_str()), 0); }
};

TEST_P(AnalysisKernel, MatchesTheDirectForm) {
  EXPECT_LE(fast_deviation(noise(32 * 1000 + 5, 1)), 1e-12);
  EXPECT_LE(fast_deviation(noise(2 * 32 * 300, 2, 1e4), 2), 1e-12);  // far beyond full scale
  for (double f : {0.0005, 0.1, 0.2499, 0.4999})
    EXPECT_LE(fast_deviation(sine(32 * 300, f)), 1e-12) << f;
  std::vector<double> impulses(32 * 300);
  for (std::size_t n = 0; n < impulses.size(); n += 37) impulses[n] = n % 2 ? -1 : 1;
  EXPECT_LE(fast_deviation(impulses), 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Kernels, AnalysisKernel, ::testing::ValuesIn(kernels()),
                         [](const auto &info) { return info.param; });

// Switches kernel before every block, on each of two channels' states.
struct SwitchingAnalysis {
  synthtab::AnalysisFilterbank f;
  std::size_t n = 0;
  void analyze(const double *in, double *s, std::ptrdiff_t stride = 1) {
    static const std::vector<std::string> ok = kernels();
    synthtab_use_kernel(ok[(n++ * 7 / 3) % ok.size()].c_str());
    f.analyze(in, s, stride);
  }
};

TEST(Analysis, StateCarriesOverAKernelSwitchBetweenBlocks) {
  const std::vector<double> x = noise(2 * 32 * 200, 5);
  EXPECT_LE(deviation(subbands<SwitchingAnalysis>(x, 2), subbands<DirectAnalysis>(x, 2)), 1e-12);
}

TEST(Analysis, ReadsOneChannelOfInterleavedInputInPlace) {
  // Two channels through one buffer with stride 2, the subbands written over
  // the input they came from, give what each channel gives alone.
  const std::vector<double> a = noise(32 * 50, 3), b = sine(32 * 50, 0.03);
  synthtab::AnalysisFilterbank solo_a, solo_b, left, right;
  for (std::size_t n = 0; n < a.size(); n += 32) {
    double both[64], want_a[32], want_b[32], got_b[32];
    for (int i = 0; i < 32; i++) both[2 * i] = a[n + i], both[2 * i + 1] = b[n + i];
    solo_a.analyze(&a[n], want_a);
    solo_b.analyze(&b[n], want_b);
    right.analyze(both + 1, got_b, 2);
    left.analyze(both, both, 2);
    for (int i = 0; i < 32; i++) {
      ASSERT_EQ(both[i], want_a[i]) << n << " " << i;
      ASSERT_EQ(got_b[i], want_b[i]) << n << " " << i;
    }
  }
}

TEST(RoundTrip, RebuildsNoise481SamplesLate) {
  const std::vector<double> x = noise(32 * 400, 4, 0.5), y = round_trip(x, 1);
  EXPECT_GE(snr_db(x, y, 1), 80);
  // Only that delay: one sample either way leaves the noise nearly unrelated.
  EXPECT_LT(snr_db(x, y, 1, 0, kRoundTripDelay - 1), 10);
  EXPECT_LT(snr_db(x, y, 1, 0, kRoundTripDelay + 1), 10);
}

TEST(RoundTrip, RebuildsSinesAcrossTheBand) {
  // Band centres and edges from near DC to near the top, in 44.1 kHz terms
  // from 20 Hz to 21.9 kHz.
  for (double f : {20 / 44100.0, 1 / 128.0, 1 / 64.0, 0.05, 7.5 / 64, 0.2, 16 / 64.0, 0.3, 0.37,
                   24.5 / 64, 0.45, 31.5 / 64, 0.4966})
    EXPECT_GE(snr_db(sine(32 * 400, f), round_trip(sine(32 * 400, f), 1), 1), 80) << f;
}

}  // namespace
