// synthtab verify --fixed and render --fixed end to end: the rendered audio
// is the library's integer output to the bit, at both widths and in stereo.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <stdlib.h>
#include <synthtab/fixed.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "spawn.h"

namespace {

namespace fs = std::filesystem;

class FixedCli : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "synthtab-fixed-cli-XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string at(const std::string &name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(FixedCli, VerifyReportsBothFigures) {
  const Outcome o = spawn({SYNTHTAB_CLI, "verify", "--fixed", "--blocks", "300"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("fixed s32: error against the reference 2^-2"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("fixed s16: 99."), std::string::npos) << o.out;
}

// Stereo subbands in float64, a little beyond the format's range in places;
// the audio must be what the library gives for them rounded and saturated.
TEST_F(FixedCli, RenderIsTheLibraryOutput) {
  constexpr int kBlocks = 300;
  std::vector<double> sub(kBlocks * 64);
  for (size_t i = 0; i < sub.size(); i++) sub[i] = 2.5 * std::sin(0.37 * i) * std::cos(0.001 * i);
  std::FILE *f = std::fopen(at("in.f64").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  for (double v : sub) {  // little-endian
    uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int b = 0; b < 8; b++) std::fputc(static_cast<int>(u >> (8 * b) & 0xff), f);
  }
  std::fclose(f);

  for (const char *sample : {"s16", "s24"}) {
    const std::string out = at(std::string(sample) + ".wav");
    const Outcome o = spawn({SYNTHTAB_CLI, "render", "--fixed", "--channels", "2", "--format",
                             "wav", "--sample", sample, at("in.f64"), out});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("subband samples beyond +-2 saturated"), std::string::npos) << o.err;
    SF_INFO info{};
    SNDFILE *sf = sf_open(out.c_str(), SFM_READ, &info);
    ASSERT_NE(sf, nullptr);
    std::vector<int> got(kBlocks * 64);
    ASSERT_EQ(sf_readf_int(sf, got.data(), kBlocks * 32), kBlocks * 32);
    sf_close(sf);

    synthtab_fixed bank[2];
    synthtab_fixed_init(&bank[0]);
    synthtab_fixed_init(&bank[1]);
    for (int b = 0; b < kBlocks; b++)
      for (int c = 0; c < 2; c++) {
        int32_t q[32], y[32];
        int16_t y16[32];
        for (int k = 0; k < 32; k++)
          q[k] = static_cast<int32_t>(
              std::fmax(-2147483648.0,
                        std::fmin(2147483647.0, std::round(std::ldexp(sub[64 * b + 32 * c + k],
                                                                      SYNTHTAB_FIXED_FRAC_BITS)))));
        const bool s16 = sample[1] == '1';
        if (s16)
          synthtab_fixed_s16(&bank[c], q, y16, 1);
        else
          synthtab_fixed_s32(&bank[c], q, y, 1);
        for (int j = 0; j < 32; j++) {  // s24: the s32 output rounded to 24 bits
          const int v = got[64 * b + 2 * j + c];
          const int64_t want =
              s16 ? y16[j] : std::min<int64_t>(8388607, (int64_t{y[j]} + 128 - (y[j] < 0)) >> 8);
          ASSERT_EQ(v >> (s16 ? 16 : 8), want) << sample << " block " << b << " channel " << c;
        }
      }
  }

  const Outcome bad = spawn({SYNTHTAB_CLI, "render", "--fixed", "--scale", "5", "--format", "wav",
                             at("in.f64"), at("bad.wav")});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1) << bad.err;
  EXPECT_FALSE(fs::exists(at("bad.wav")));
}

}  // namespace
