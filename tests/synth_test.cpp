// Every kernel of the fast filterbank against the direct form over long runs
// of varied input, at stride 1 and 2 and in every output format; the direct
// form against the window data; per-state behaviour; the choice of kernel;
// PCM output.
#include <gtest/gtest.h>
#include <synthtab/synth.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "../src/kernels/common.h"
#include "kernels.h"

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

// Feeds blocks 0..n-1 of src to both paths at the given scale. Beside the
// f64 output at stride 1 that is measured, states of their own write f64,
// f32 and s16 at stride 2 into interleaved buffers, which must hold exactly
// the stride-1 output, its rounding to float, and to_pcm16 of it, with the
// other channel untouched.
Deviation compare(int32_t scale, const Source &src, int n = kBlocks) {
  make_decode_tables(scale);
  synthtab_synth fast, f64, f32, s16;
  for (synthtab_synth *f : {&fast, &f64, &f32, &s16}) synthtab_synth_init(f);
  ReferenceSynthesis ref;
  Deviation d;
  for (int b = 0; b < n; b++) {
    const Block s = src(b);
    Block y, z;
    synthtab_synth_f64(&fast, s.data(), y.data(), 1);
    ref.synthesize(s.data(), z.data());
    for (int j = 0; j < 32; j++) {
      d.dev = std::max(d.dev, std::fabs(y[j] / scale - z[j]));
      d.peak = std::max(d.peak, std::fabs(z[j]));
    }

    double y2[64];
    float y32[64];
    int16_t pcm[64], want[32];
    std::fill(std::begin(y2), std::end(y2), 7.0);
    std::fill(std::begin(y32), std::end(y32), 7.0f);
    std::fill(std::begin(pcm), std::end(pcm), 7);
    synthtab_synth_f64(&f64, s.data(), y2, 2);
    synthtab_synth_f32(&f32, s.data(), y32, 2);
    const std::size_t clipped = synthtab_synth_s16(&s16, s.data(), pcm, 2);
    EXPECT_EQ(clipped, synthtab::to_pcm16(y.data(), 32, want)) << "block " << b;
    for (int j = 0; j < 32; j++) {
      EXPECT_EQ(y2[2 * j], y[j]) << "block " << b << ", sample " << j;
      EXPECT_EQ(y32[2 * j], static_cast<float>(y[j])) << "block " << b << ", sample " << j;
      EXPECT_EQ(pcm[2 * j], want[j]) << "block " << b << ", sample " << j << ": " << y[j];
      EXPECT_TRUE(y2[2 * j + 1] == 7.0 && y32[2 * j + 1] == 7.0f && pcm[2 * j + 1] == 7);
    }
    if (::testing::Test::HasFailure()) break;
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

// Each test runs under one kernel at one scale.
class FastVsReference : public ::testing::TestWithParam<std::tuple<std::string, int32_t>> {
 protected:
  void SetUp() override { ASSERT_EQ(synthtab_use_kernel(kernel().c_str()), 0); }
  static const std::string &kernel() { return std::get<0>(GetParam()); }
  static int32_t scale() { return std::get<1>(GetParam()); }
};

TEST_P(FastVsReference, UniformRandomSubbands) { EXPECT_WITHIN_BAR(compare(scale(), uniform(1))); }

TEST_P(FastVsReference, SineInOneSubband) {
  // Low, middle and top subband; frequencies from near DC to near Nyquist of
  // the block rate, so every phase of the window sees large values.
  for (int k : {0, 13, 31})
    for (double f : {0.003, 0.21, 0.49}) {
      SCOPED_TRACE("subband " + std::to_string(k) + ", frequency " + std::to_string(f));
      EXPECT_WITHIN_BAR(compare(scale(), [k, f](int b) {
        Block s{};
        s[k] = std::sin(2 * kPi * f * b + 0.3);
        return s;
      }));
    }
}

TEST_P(FastVsReference, IsolatedImpulses) {
  // One impulse every 19 blocks, walking through subbands, block parities and
  // history slots, with sign and size varying.
  EXPECT_WITHIN_BAR(compare(scale(), [](int b) {
    Block s{};
    if (b % 19 == 0) s[(b / 19 * 7) % 32] = (b % 2 ? -1.0 : 1.0) * (1 + b % 5);
    return s;
  }));
}

TEST_P(FastVsReference, SilenceAfterLoudInput) {
  // 1000 blocks at the edge of what a decoder sees, then silence: within the
  // bar throughout, and exactly zero once the 16-block history has drained.
  const int32_t scale = this->scale();
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

INSTANTIATE_TEST_SUITE_P(KernelsAndScales, FastVsReference,
                         ::testing::Combine(::testing::ValuesIn(kernels()),
                                            ::testing::Values(1, 32768, -32768)),
                         [](const auto &info) {
                           const int32_t s = std::get<1>(info.param);
                           return std::get<0>(info.param) + "_" + (s < 0 ? "minus" : "") +
                                  std::to_string(s < 0 ? -s : s);
                         });

TEST_P(FastVsReference, NaNBecomesSilenceCountedAsClipped) {
  // A NaN subband reaches every output but 16 (whose matrixed value is 0).
  make_decode_tables(scale());
  synthtab_synth a, b;
  synthtab_synth_init(&a);
  synthtab_synth_init(&b);
  Block in{}, y;
  in[5] = std::numeric_limits<double>::quiet_NaN();
  int16_t pcm[32], want[32];
  synthtab_synth_f64(&a, in.data(), y.data(), 1);
  EXPECT_EQ(synthtab_synth_s16(&b, in.data(), pcm, 1), synthtab::to_pcm16(y.data(), 32, want));
  EXPECT_EQ(std::count(std::begin(pcm), std::end(pcm), 0), 32);
  EXPECT_EQ(std::count_if(y.begin(), y.end(), [](double v) { return std::isnan(v); }), 31);
}

TEST_P(FastVsReference, StateContinuesAfterACopyToAnotherAlignment) {
  // A copied state carries on exactly as the original, wherever it lands.
  make_decode_tables(scale());
  synthtab_synth a;
  synthtab_synth_init(&a);
  const Source src = uniform(5);
  Block y, z;
  for (int b = 0; b < 21; b++) synthtab_synth_f64(&a, src(b).data(), y.data(), 1);
  for (std::size_t shift = 1; shift < 4; shift++) {
    alignas(32) unsigned char raw[sizeof(synthtab_synth) + 32];
    auto *copy = reinterpret_cast<synthtab_synth *>(raw + 8 * shift);
    std::memcpy(copy, &a, sizeof a);
    synthtab_synth orig = a;
    for (int b = 21; b < 60; b++) {
      const Block s = src(b);
      synthtab_synth_f64(&orig, s.data(), y.data(), 1);
      synthtab_synth_f64(copy, s.data(), z.data(), 1);
      ASSERT_EQ(y, z) << "shift " << shift << ", block " << b;
    }
  }
}

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

  // The kernels' own copy of the definition (src/kernels/common.h) agrees,
  // at 16 bits and at the tool's 24.
  for (double x : in) {
    std::size_t a = 0, b = 0, c = 0, d = 0;
    EXPECT_EQ(synthtab::round_clip<16>(x, a), synthtab::kernel::round_clip<16>(x, b)) << x;
    EXPECT_EQ(synthtab::round_clip<24>(x * 256, c), synthtab::kernel::round_clip<24>(x * 256, d));
    EXPECT_EQ(a, b);
    EXPECT_EQ(c, d);
  }
}

TEST(Kernels, UseKernelSwitchesOnlyToKernelsThisCpuRuns) {
  const std::vector<std::string> ok = kernels();
  ASSERT_FALSE(ok.empty());
  EXPECT_EQ(ok.front(), "scalar");  // everywhere
  for (const std::string &k : ok) {
    EXPECT_EQ(synthtab_use_kernel(k.c_str()), 0);
    EXPECT_EQ(synthtab_kernel(), k);
    for (const char *bad : {"", "AVX2", "avx", "sse2 ", "fastest", "neon2"}) {
      EXPECT_NE(synthtab_use_kernel(bad), 0) << bad;
      EXPECT_EQ(synthtab_kernel(), k) << "after refusing '" << bad << "'";
    }
    EXPECT_NE(synthtab_use_kernel(nullptr), 0);
    EXPECT_EQ(synthtab_kernel(), k);
  }
}

TEST(Kernels, StateCarriesOverASwitchBetweenBlocks) {
  // A different kernel each block, on the same state: still the direct form.
  const std::vector<std::string> ok = kernels();
  std::size_t b = 0;
  const Deviation d = compare(
      32768,
      [&ok, &b, src = uniform(6)](int i) {
        synthtab_use_kernel(ok[(b++ * 7 / 3) % ok.size()].c_str());
        return src(i);
      },
      200);
  EXPECT_LE(d.dev, 1e-12 * std::max(1.0, d.peak));
}

}  // namespace
