// synthtab verify --fixed and render --fixed end to end: the rendered audio
// is the library's integer output to the bit, in stereo at both widths.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <synthtab/fixed.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio_tools.h"
#include "spawn.h"

namespace {

namespace fs = std::filesystem;

TEST(FixedCli, VerifyReportsBothFigures) {
  const Outcome o = spawn({SYNTHTAB_CLI, "verify", "--fixed", "--blocks", "300"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("fixed s32: error against the reference 2^-2"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("fixed s16: 99."), std::string::npos) << o.out;
}

// Stereo subbands reaching past the format's range (+-2.5): the audio must be
// what the library gives for them rounded and saturated; --scale is refused.
TEST(FixedCli, RenderIsTheLibraryOutput) {
  std::string templ = (fs::temp_directory_path() / "synthtab-fixed-cli-XXXXXX").string();
  ASSERT_NE(mkdtemp(templ.data()), nullptr);
  const fs::path dir = templ, in = dir / "in.f64";
  constexpr int kBlocks = 300;
  std::vector<double> sub(kBlocks * 64);
  std::string bytes;
  for (size_t i = 0; i < sub.size(); i++) {
    sub[i] = 2.5 * std::sin(0.37 * i) * std::cos(0.001 * i);
    uint64_t u;
    std::memcpy(&u, &sub[i], 8);
    for (int b = 0; b < 8; b++) bytes += static_cast<char>(u >> (8 * b) & 0xff);  // little-endian
  }
  std::ofstream(in, std::ios::binary) << bytes;

  for (const std::string sample : {"s16", "s24"}) {
    const fs::path out = dir / (sample + ".wav");
    const Outcome o = spawn({SYNTHTAB_CLI, "render", "--fixed", "--channels", "2", "--format",
                             "wav", "--sample", sample, in.string(), out.string()});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("subband samples beyond +-2 saturated"), std::string::npos) << o.err;
    const ToolAudio a = read_with_tools(out.string(), dir.string());  // Python's wave
    if (a.error.rfind("SKIP", 0) == 0) GTEST_SKIP() << a.error;
    ASSERT_EQ(a.error, "");
    ASSERT_EQ(a.x.size(), std::size_t{kBlocks} * 64);
    std::vector<int> got;  // as a 32-bit integer at full scale, as before
    for (double v : a.x) got.push_back(static_cast<int>(std::ldexp(v, 31)));

    synthtab_fixed bank[2];
    synthtab_fixed_init(&bank[0]);
    synthtab_fixed_init(&bank[1]);
    for (int b = 0; b < kBlocks; b++)
      for (int c = 0; c < 2; c++) {
        int32_t q[32], y[32];
        int16_t y16[32];
        for (int k = 0; k < 32; k++)
          q[k] = static_cast<int32_t>(
              std::clamp(std::round(std::ldexp(sub[64 * b + 32 * c + k], SYNTHTAB_FIXED_FRAC_BITS)),
                         -2147483648.0, 2147483647.0));
        const bool s16 = sample == "s16";
        s16 ? synthtab_fixed_s16(&bank[c], q, y16, 1) : synthtab_fixed_s32(&bank[c], q, y, 1);
        for (int j = 0; j < 32; j++) {  // s24: the s32 output rounded to 24 bits
          const int64_t want =
              s16 ? y16[j] : std::min<int64_t>(8388607, (y[j] + 128LL - (y[j] < 0)) >> 8);
          ASSERT_EQ(got[64 * b + 2 * j + c] >> (s16 ? 16 : 8), want) << sample << " block " << b;
        }
      }
  }

  const Outcome bad = spawn({SYNTHTAB_CLI, "render", "--fixed", "--scale", "5", "--format", "wav",
                             in.string(), (dir / "bad.wav").string()});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1) << bad.err;
  EXPECT_FALSE(fs::exists(dir / "bad.wav"));
  fs::remove_all(dir);
}

}  // namespace
