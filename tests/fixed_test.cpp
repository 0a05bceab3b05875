// The integer filterbank: its tables against pnts and decwin, its accuracy
// against the direct form and the double filterbank over varied input, and
// its calling contract (clipping, strides, state).
#include <gtest/gtest.h>
#include <synthtab/fixed.h>
#include <synthtab/synth.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <synthtab/analysis.h>

#include "../src/fixed_accuracy.h"
#include "audio_tools.h"

namespace {

using Block = std::array<int32_t, 32>;
using Source = std::function<Block(int)>;  // block number -> subband samples

const double kOne = std::ldexp(1.0, SYNTHTAB_FIXED_FRAC_BITS);

int32_t quantise(double v) {  // to the subband format, saturated
  return static_cast<int32_t>(std::clamp(std::round(v * kOne), -kOne * 2, kOne * 2 - 1));
}

using Accuracy = synthtab::accuracy::Fixed;

// Blocks 0..n-1 of src through every path (fixed_accuracy.h, which verify
// --fixed runs too).
Accuracy measure(const Source &src, int n) {
  return synthtab::accuracy::measure_fixed(
      [&](long b, int32_t *s) {
        const Block x = src(static_cast<int>(b));
        std::copy(x.begin(), x.end(), s);
      },
      n);
}

// Input kinds: name, source, blocks, whether it must clip.
struct Signal {
  std::string name;
  Source src;
  int blocks;
  bool clips = false;
};

void PrintTo(const Signal &s, std::ostream *os) { *os << s.name; }

Block each(const std::function<double(int)> &band) {
  Block s;
  for (int k = 0; k < 32; k++) s[k] = quantise(band(k));
  return s;
}

std::vector<Signal> signals() {
  auto gen = std::make_shared<std::mt19937>(17);
  return {
      {"random",
       [gen](int) {
         std::uniform_real_distribution<double> u(-0.5, 0.5);
         return each([&](int) { return u(*gen); });
       },
       2000},
      {"sines",
       [](int b) {  // a little above 1 in one band, tones in others
         return each([b](int k) {
           return k == 3       ? 1.2 * std::sin(0.07 * b)
                  : k % 5 == 0 ? 0.3 * std::cos(0.013 * b * (k + 1))
                               : 0;
         });
       },
       2000},
      {"impulses",
       [](int b) {  // 1.5 in band b / 20 % 32, every 20th block
         return each([b](int k) { return b % 20 == 0 && k == b / 20 % 32 ? 1.5 : 0.0; });
       },
       1280},
      {"loud_then_silent",
       [gen](int b) {  // clipping, then the tail dies away
         std::uniform_real_distribution<double> u(-1.99, 1.99);
         return each([&](int) { return b < 300 ? u(*gen) : 0.0; });
       },
       600, true},
      {"full_range",  // the format's extremes in every band
       [](int b) { return each([b](int k) { return (k * b) % 3 ? 2.0 : -2.0; }); }, 64, true},
  };
}

void expect_within_bar(const Accuracy &a) {
  EXPECT_LE(a.rms, std::ldexp(1.0, -20));
  EXPECT_LE(a.max, std::ldexp(1.0, -18));
  EXPECT_EQ(a.off, 0);
  EXPECT_GE(a.same, a.n * 0.99) << a.same << " of " << a.n;
  EXPECT_TRUE(a.s32_ok() && a.s16_ok());
  EXPECT_EQ(a.rail_misses, 0) << "s32 samples beyond full scale not at the rail";
  EXPECT_EQ(a.count_misses, 0) << "blocks with a wrong clip count";
  ::testing::Test::RecordProperty("rms_log2", std::to_string(std::log2(a.rms)));
  ::testing::Test::RecordProperty("max_log2", std::to_string(std::log2(a.max)));
  ::testing::Test::RecordProperty("same_percent", std::to_string(a.same * 100.0 / a.n));
}

class Accurate : public ::testing::TestWithParam<Signal> {};

TEST_P(Accurate, AgainstDirectFormAndDoubleOutput) {
  const Accuracy a = measure(GetParam().src, GetParam().blocks);
  expect_within_bar(a);
  EXPECT_TRUE(a.clipped > 0 || !GetParam().clips);
}

INSTANTIATE_TEST_SUITE_P(Fixed, Accurate, ::testing::ValuesIn(signals()),
                         [](const auto &info) { return info.param.name; });

// Real recordings (alsa-utils; CI installs them) through the analysis
// filterbank, quantised to the subband format, back through every path.
TEST(FixedRecording, AnalysedAndQuantised) {
  const ToolAudio info = read_with_tools("/usr/share/sounds/alsa/Front_Center.wav",
                                         ::testing::TempDir());
  if (!info.error.empty()) GTEST_SKIP() << "no alsa-utils recording: " << info.error;
  const std::vector<double> &x = info.x;
  synthtab_analysis an;
  synthtab_analysis_init(&an);
  std::vector<Block> blocks;
  double s[32];
  for (size_t at = 0; at + 32 * info.channels <= x.size(); at += 32 * info.channels) {
    synthtab_analysis_f64(&an, x.data() + at, info.channels, s);
    blocks.push_back(each([&](int k) { return s[k]; }));
  }
  ASSERT_GT(blocks.size(), 1000u);
  expect_within_bar(measure([&](int b) { return blocks[b]; }, static_cast<int>(blocks.size())));
}

// Both tables are pnts and decwin rounded to their formats.
TEST(FixedTables, ArePntsAndDecwinRounded) {
  make_decode_tables(-(1 << SYNTHTAB_FIXED_WIN_BITS));
  const synthtab_fixed_tables &t = synthtab_fixed_tab;
  for (int i = 0, at = 0; i < 5; i++)
    for (int k = 0; k < (16 >> i); k++, at++)
      EXPECT_EQ(t.cos[at], std::llround(std::ldexp(pnts[i][k], SYNTHTAB_FIXED_COS_BITS + i)))
          << "stage " << i << " factor " << k;
  for (int c = 0; c < 32; c++) {
    for (int j = 0; j <= 16; j++)
      EXPECT_EQ(t.win[j][c], (c % 2 ? -1 : 1) * std::llround(decwin[32 * j + c])) << j << "," << c;
    for (int m = 1; m <= 15; m++)
      EXPECT_EQ(t.win[32 - m][c], std::llround(decwin[32 * m + 15 - c % 16])) << m << "," << c;
  }
}

// Any stride, negative ones too, and in place; a zero-filled state is
// silent; a copied state continues like the original.
TEST(FixedContract, StridesInPlaceAndState) {
  synthtab_fixed a, b, c, z;
  synthtab_fixed_init(&a);
  std::memset(&z, 0, sizeof z);
  std::mt19937 gen(5);
  std::uniform_int_distribution<int32_t> u(-(1 << 29), 1 << 29);
  for (int n = 0; n < 40; n++) {
    if (n == 20) c = a;
    Block s;
    for (int32_t &v : s) v = u(gen);
    int32_t want[32], in_place[32], wide[96];
    std::fill(std::begin(wide), std::end(wide), 7);
    std::copy(s.begin(), s.end(), in_place);
    b = a;
    synthtab_fixed_s32(&a, s.data(), want, 1);
    synthtab_fixed_s32(&b, in_place, in_place, 1);
    for (int j = 0; j < 32; j++) ASSERT_EQ(in_place[j], want[j]);
    if (n >= 20) {
      synthtab_fixed_s32(&c, s.data(), wide + 93, -3);
      for (int j = 0; j < 96; j++)
        ASSERT_EQ(wide[j], j % 3 == 0 ? want[31 - j / 3] : 7) << "block " << n << " at " << j;
    }
    int16_t silent[32];
    const Block zero{};
    EXPECT_EQ(synthtab_fixed_s16(&z, zero.data(), silent, 1), 0u);
    for (int16_t v : silent) ASSERT_EQ(v, 0);
  }
}

}  // namespace
