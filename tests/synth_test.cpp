// The fast filterbank against the direct form over long runs of varied input,
// the direct form against the window data, per-instance state, PCM output.
#include <gtest/gtest.h>
#include <synthtab/synth.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using synthtab::ReferenceSynthesis;
using synthtab::SynthesisFilterbank;
using Block = std::array<double, 32>;
using Source = std::function<Block(int)>;  // block number -> subband samples

constexpr int kBlocks = 2400;
const double kPi = std::acos(-1.0);

struct Deviation {
  double dev = 0;   // max |fast / scale - reference|
  double peak = 0;  // max |reference|
};

// Feeds blocks 0..n-1 of src to both paths at the given scale.
Deviation compare(int32_t scale, const Source &src, int n = kBlocks) {
  make_decode_tables(scale);
  SynthesisFilterbank fast;
  ReferenceSynthesis ref;
  Deviation d;
  for (int b = 0; b < n; b++) {
    const Block s = src(b);
    Block y, z;
    fast.synthesize(s.data(), y.data());
    ref.synthesize(s.data(), z.data());
    for (int j = 0; j < 32; j++) {
      d.dev = std::max(d.dev, std::fabs(y[j] / scale - z[j]));
      d.peak = std::max(d.peak, std::fabs(z[j]));
    }
  }
  return d;
}

Source uniform(uint64_t seed, double amplitude = 1.0) {
  auto gen = std::make_shared<std::mt19937_64>(seed);
  return [gen, amplitude](int) {
    std::uniform_real_distribution<double> u(-amplitude, amplitude);
    Block s;
    for (double &v : s) v = u(*gen);
    return s;
  };
}

#define EXPECT_WITHIN_BAR(d)                                                 \
  do {                                                                       \
    const Deviation d_ = (d);                                                \
    EXPECT_GT(d_.peak, 0.0);                                                 \
    EXPECT_LE(d_.dev, 1e-12 * std::max(1.0, d_.peak)) << "peak " << d_.peak; \
  } while (0)

class FastVsReference : public ::testing::TestWithParam<int32_t> {};

TEST_P(FastVsReference, UniformRandomSubbands) {
  EXPECT_WITHIN_BAR(compare(GetParam(), uniform(1)));
}

TEST_P(FastVsReference, SineInOneSubband) {
  // Low, middle and top subband; frequencies from near DC to near Nyquist of
  // the block rate, so every phase of the window sees large values.
  for (int k : {0, 13, 31})
    for (double f : {0.003, 0.21, 0.49}) {
      SCOPED_TRACE("subband " + std::to_string(k) + ", frequency " + std::to_string(f));
      EXPECT_WITHIN_BAR(compare(GetParam(), [k, f](int b) {
        Block s{};
        s[k] = std::sin(2 * kPi * f * b + 0.3);
        return s;
      }));
    }
}

TEST_P(FastVsReference, IsolatedImpulses) {
  // One impulse every 19 blocks, walking through subbands, block parities and
  // history slots, with sign and size varying.
  EXPECT_WITHIN_BAR(compare(GetParam(), [](int b) {
    Block s{};
    if (b % 19 == 0) s[(b / 19 * 7) % 32] = (b % 2 ? -1.0 : 1.0) * (1 + b % 5);
    return s;
  }));
}

TEST_P(FastVsReference, SilenceAfterLoudInput) {
  // 1000 blocks at the edge of what a decoder sees, then silence: within the
  // bar throughout, and exactly zero once the 16-block history has drained.
  const int32_t scale = GetParam();
  EXPECT_WITHIN_BAR(
      compare(scale, [loud = uniform(2, 1e4)](int b) { return b < 1000 ? loud(b) : Block{}; }));

  make_decode_tables(scale);
  SynthesisFilterbank fast;
  ReferenceSynthesis ref;
  const Source loud = uniform(3, 1e4);
  Block y, z;
  for (int b = 0; b < 1000; b++) {
    const Block s = loud(b);
    fast.synthesize(s.data(), y.data());
    ref.synthesize(s.data(), z.data());
  }
  const Block zero{};
  for (int b = 0; b < 17; b++) {
    fast.synthesize(zero.data(), y.data());
    ref.synthesize(zero.data(), z.data());
    const bool drained = b >= 15;  // the last loud block is 16 blocks old
    EXPECT_EQ(drained, std::all_of(y.begin(), y.end(), [](double v) { return v == 0; })) << b;
    EXPECT_EQ(drained, std::all_of(z.begin(), z.end(), [](double v) { return v == 0; })) << b;
  }
}

INSTANTIATE_TEST_SUITE_P(Scales, FastVsReference, ::testing::Values(1, 32768, -32768));

// D[0..511] as printed in the data file.
std::vector<double> window_data() {
  std::ifstream in(SYNTHTAB_WINDOW_DATA);
  std::vector<double> d;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    int i;
    double v;
    fields >> i >> v;
    if (i == static_cast<int>(d.size())) d.push_back(v);
  }
  return d;
}

TEST(ReferenceSynthesis, ImpulseResponseIsCosineTimesWindow) {
  // A unit impulse in subband k reaches output j of the block t blocks later
  // through one product only: V[j + 32 (t % 2)] = cos((16 + j + 32 (t % 2))
  // (2k + 1) pi / 64) of the impulse's block, times D[32 t + j]. That pins
  // the direct form to the window data: every tap, its sign and its place.
  const std::vector<double> d = window_data();
  ASSERT_EQ(d.size(), 512u);
  for (int k : {0, 1, 14, 31}) {
    ReferenceSynthesis ref;
    Block s{}, out;
    s[k] = 1.0;
    for (int t = 0; t < 17; t++) {
      ref.synthesize(s.data(), out.data());
      s[k] = 0.0;
      for (int j = 0; j < 32; j++) {
        const double want =
            t < 16 ? std::cos((16 + j + 32 * (t % 2)) * (2 * k + 1) * kPi / 64) * d[32 * t + j] : 0;
        EXPECT_NEAR(out[j], want, 1e-13) << "subband " << k << ", block " << t << ", sample " << j;
      }
    }
  }
}

// Runs src through a fresh instance of F.
template <class F>
std::vector<Block> run(const Source &src, int n) {
  F f;
  std::vector<Block> out(n);
  for (int b = 0; b < n; b++) f.synthesize(src(b).data(), out[b].data());
  return out;
}

template <class F>
void expect_independent_and_resettable() {
  const int n = 300;
  const std::vector<Block> solo_a = run<F>(uniform(10), n), solo_b = run<F>(uniform(11), n);

  // Two channels interleaved block by block give what each gives alone.
  F a, b;
  const Source src_a = uniform(10), src_b = uniform(11);
  Block y;
  for (int i = 0; i < n; i++) {
    a.synthesize(src_a(i).data(), y.data());
    EXPECT_EQ(y, solo_a[i]) << i;
    b.synthesize(src_b(i).data(), y.data());
    EXPECT_EQ(y, solo_b[i]) << i;
  }

  // After reset() an instance with history (mid-cycle: 300 is not a multiple
  // of 16) behaves as a fresh one.
  a.reset();
  const Source again = uniform(10);
  for (int i = 0; i < n; i++) {
    a.synthesize(again(i).data(), y.data());
    EXPECT_EQ(y, solo_a[i]) << i;
  }
}

TEST(SynthesisFilterbank, InstancesAreIndependentAndResettable) {
  make_decode_tables(32768);
  expect_independent_and_resettable<SynthesisFilterbank>();
}

TEST(ReferenceSynthesis, InstancesAreIndependentAndResettable) {
  expect_independent_and_resettable<ReferenceSynthesis>();
}

TEST(SynthesisFilterbank, InPlaceAndAfterAScaleChange) {
  // Same array for input and output; the scale switched mid-stream applies
  // from the next block on, as the history is kept unscaled.
  make_decode_tables(32768);
  SynthesisFilterbank fast;
  ReferenceSynthesis ref;
  const Source src = uniform(4);
  for (int b = 0; b < 100; b++) {
    if (b == 50) make_decode_tables(-3);
    const double scale = b < 50 ? 32768 : -3;
    Block s = src(b), z;
    ref.synthesize(s.data(), z.data());
    fast.synthesize(s.data(), s.data());
    for (int j = 0; j < 32; j++) EXPECT_NEAR(s[j] / scale, z[j], 1e-12) << b << " " << j;
  }
}

TEST(ToPcm16, RoundsToNearestWithHalvesAwayFromZero) {
  const double in[] = {0.0,  -0.0,  0.49999999999999994, 0.5, -0.5, 1.5, 2.5, -2.5, 2.4999,
                       -7.6, 1234.5};
  const int16_t want[] = {0, 0, 0, 1, -1, 2, 3, -3, 2, -8, 1235};
  int16_t out[std::size(in)];
  EXPECT_EQ(synthtab::to_pcm16(in, std::size(in), out), 0u);
  for (std::size_t i = 0; i < std::size(in); i++) EXPECT_EQ(out[i], want[i]) << in[i];
}

TEST(ToPcm16, ClipsAtBothRailsAndCountsNaN) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Values that round onto a rail are not clipped; those that round past it are.
  const double in[] = {32767.0,  32767.49, -32768.0, -32768.49,  // kept
                       32767.5,  40000.0,  1e300,    inf,        // clipped high
                       -32768.5, -1e300,   -inf,                 // clipped low
                       nan,      -nan};                          // clipped to 0
  const int16_t want[] = {32767, 32767,  -32768, -32768, 32767, 32767, 32767,
                          32767, -32768, -32768, -32768, 0,     0};
  int16_t out[std::size(in)];
  EXPECT_EQ(synthtab::to_pcm16(in, std::size(in), out), 9u);
  for (std::size_t i = 0; i < std::size(in); i++) EXPECT_EQ(out[i], want[i]) << i;
  EXPECT_EQ(synthtab::to_pcm16(in, 0, out), 0u);
}

}  // namespace
