// Every entry of every table, bit for bit against the independent
// construction, over thousands of scales. This file is also compiled together
// with the unit at several optimisation levels.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "independent.h"

namespace {

std::vector<int32_t> scales() {
  std::vector<int32_t> s;
  for (int32_t v = -2048; v <= 2048; v++) s.push_back(v);
  for (int k = 0; k < 31; k++) {
    s.push_back(int32_t{1} << k);
    s.push_back(-(int32_t{1} << k));
    s.push_back((int32_t{1} << k) - 1);
  }
  s.push_back(std::numeric_limits<int32_t>::min());
  s.push_back(std::numeric_limits<int32_t>::max());
  uint64_t x = 0x9e3779b97f4a7c15u;  // xorshift: fixed, portable sequence
  for (int n = 0; n < 4000; n++) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    s.push_back(static_cast<int32_t>(static_cast<uint32_t>(x)));
  }
  return s;
}

TEST(Exact, FactorsMatchIndependentCosine) {
  make_decode_tables(32768);
  for (int s = 0; s < 5; s++)
    for (int k = 0; k < (16 >> s); k++)
      ASSERT_EQ(independent::bits(pnts[s][k]), independent::bits(independent::factor(s, k)))
          << "stage " << s << " factor " << k;
}

TEST(Exact, WindowMatchesClosedFormForEveryScale) {
  const std::vector<int32_t> all = scales();
  ASSERT_GT(all.size(), 8000u);
  for (int32_t scale : all) {
    make_decode_tables(scale);
    for (int slot = 0; slot < 544; slot++)
      ASSERT_EQ(independent::bits(decwin[slot]),
                independent::bits(independent::window(scale, slot)))
          << "scale " << scale << " slot " << slot;
  }
}

}  // namespace
