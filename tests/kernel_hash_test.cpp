// Each kernel held to its own bits: fixed input through the synthesis (f64,
// f32 and s16 at several scales and strides) and the analysis, hashed, against
// hashes recorded for that kernel. A kernel gives the same bits on every
// machine that runs it, so the scalar kernel's hashes hold on every CPU and
// neon's on every AArch64; a reordered addition in any kernel changes them.
// After a deliberate change to a kernel's arithmetic, record the new hashes
// this test prints (and say why in the commit).
#include <gtest/gtest.h>
#include <synthtab/analysis.h>
#include <synthtab/synth.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "kernels.h"

namespace {

// FNV-1a over 64-bit words, so the hash does not depend on byte order.
struct Hash {
  uint64_t h = 0xcbf29ce484222325u;
  void add(uint64_t v) {
    for (int i = 0; i < 64; i += 8) h = (h ^ ((v >> i) & 0xff)) * 0x100000001b3u;
  }
  // The bits of a double, float or int16_t as an integer of its width.
  template <class T>
  void add_bits(T x) {
    using Bits = std::conditional_t<sizeof(T) == 8, uint64_t,
                                    std::conditional_t<sizeof(T) == 4, uint32_t, uint16_t>>;
    Bits v;
    std::memcpy(&v, &x, sizeof v);
    add(v);
  }
};

// Input in [-amp, amp) from integer arithmetic alone (the same on every CPU
// and library), with a few exact zeros and values at full scale.
std::vector<double> input(std::size_t n, double amp, uint64_t seed) {
  std::vector<double> x(n);
  uint64_t s = seed;
  for (double &v : x) {
    s = s * 6364136223846793005u + 1442695040888963407u;
    v = amp * (static_cast<double>(static_cast<int64_t>(s) >> 11) * 0x1p-52);
  }
  for (std::size_t i = 0; i < n; i += 97) x[i] = 0;
  for (std::size_t i = 45; i < n; i += 211) x[i] = amp;
  return x;
}

enum Format { kF64, kF32, kS16, kAnalysis };
struct Case {
  Format format;
  int32_t scale;
  ptrdiff_t stride;
  double amp;
};
constexpr int kBlocks = 150;  // well past the 16-block history
const Case kCases[] = {
    {kF64, 32768, 1, 0.5}, {kF64, 1, 2, 2.0},      {kF64, -32768, 3, 0.5}, {kF32, 32768, 1, 0.5},
    {kF32, 7, 2, 1.0},     {kS16, 32768, 1, 0.5},  {kS16, 32768, 2, 1.5},  // 1.5: clips often
    {kS16, -1000, 1, 4.0}, {kAnalysis, 0, 1, 1.0}, {kAnalysis, 0, 2, 1e4},
};

// The hash of one case's output under the kernel in use.
uint64_t run(const Case &c) {
  const std::vector<double> x = input(32 * kBlocks * c.stride, c.amp, c.scale + 3 * c.stride);
  Hash hash;
  if (c.format == kAnalysis) {
    synthtab_analysis a;
    synthtab_analysis_init(&a);
    double s[32];
    for (int b = 0; b < kBlocks; b++) {
      synthtab_analysis_f64(&a, &x[32 * c.stride * b], c.stride, s);
      for (double v : s) hash.add_bits(v);
    }
    return hash.h;
  }
  make_decode_tables(c.scale);
  synthtab_synth f;
  synthtab_synth_init(&f);
  std::vector<double> y(32 * c.stride);
  std::vector<float> y32(32 * c.stride);
  std::vector<int16_t> pcm(32 * c.stride);
  for (int b = 0; b < kBlocks; b++) {
    const double *s = &x[32 * c.stride * b];  // the first 32 of each block's share
    for (int j = 0; j < 32; j++) {
      if (c.format == kF64 && j == 0) synthtab_synth_f64(&f, s, y.data(), c.stride);
      if (c.format == kF32 && j == 0) synthtab_synth_f32(&f, s, y32.data(), c.stride);
      if (c.format == kS16 && j == 0) hash.add(synthtab_synth_s16(&f, s, pcm.data(), c.stride));
      if (c.format == kF64) hash.add_bits(y[j * c.stride]);
      if (c.format == kF32) hash.add_bits(y32[j * c.stride]);
      if (c.format == kS16) hash.add_bits(pcm[j * c.stride]);
    }
  }
  return hash.h;
}

// The two-lane body that sse2 and neon share gives the same bits on both.
const std::vector<uint64_t> kPair = {0x2d2bf6aa517215f3u, 0x3bbe993680b770a0u, 0xa9619219d101fa29u,
                                     0x5291444edee1a20du, 0x719b71f48b9eec6bu, 0x1903581ad64b0f81u,
                                     0x2c15a1eadf6f0f4bu, 0xc51da762f9e58dfau, 0xaf2302253a8d430fu,
                                     0x73272104d5181824u};

// Per kernel, the hash of each of kCases in order.
const std::map<std::string, std::vector<uint64_t>> kExpected = {
    {"scalar",
     {0x094b360fa098eb63u, 0x6ffa31907f7d884cu, 0x9e552f2486d2c87cu, 0x5291444edee1a20du,
      0xaa66ac4db82de4ebu, 0x1903581ad64b0f81u, 0x2c15a1eadf6f0f4bu, 0xc51da762f9e58dfau,
      0x5667b95ac6b48d07u, 0x03ba9e910a5c00f4u}},
    {"sse2", kPair},
    {"neon", kPair},
    {"avx2",
     {0x4ec2bc15aa000a64u, 0x1a00d2eba7c403d6u, 0x94c247fa411b83cau, 0x5291444edee1a20du,
      0xaa66ac4db82de4ebu, 0x1903581ad64b0f81u, 0x2c15a1eadf6f0f4bu, 0xc51da762f9e58dfau,
      0x2e4a17df7eccfb8eu, 0xad43921d8cb40df5u}},
};

class KernelBits : public ::testing::TestWithParam<std::string> {};

TEST_P(KernelBits, MatchTheRecordedHashes) {
  ASSERT_EQ(synthtab_use_kernel(GetParam().c_str()), 0);
  const auto want = kExpected.find(GetParam());
  ASSERT_NE(want, kExpected.end()) << "no hashes recorded for " << GetParam();
  std::string got;
  for (const Case &c : kCases) {
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%016llxu, ", static_cast<unsigned long long>(run(c)));
    got += hex;
  }
  std::string expected;
  for (uint64_t h : want->second) {
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%016llxu, ", static_cast<unsigned long long>(h));
    expected += hex;
  }
  EXPECT_EQ(got, expected) << GetParam() << "'s bits changed; its hashes now: {" << got << "}";
}

INSTANTIATE_TEST_SUITE_P(Kernels, KernelBits, ::testing::ValuesIn(kernels()),
                         [](const auto &info) { return info.param; });

}  // namespace
