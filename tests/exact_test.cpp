// Every entry of every table, bit for bit against the independent
// construction, over all of its scales. This file is also compiled together
// with the unit at several optimisation levels, and with the integer
// emulation forced where long double is x87.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>

#include "independent.h"

namespace {

using independent::bits;

TEST(Exact, FactorsMatchIndependentCosine) {
  make_decode_tables(32768);
  for (int s = 0; s < 5; s++)
    for (int k = 0; k < (16 >> s); k++)
      EXPECT_EQ(bits(pnts[s][k]), bits(independent::factor(s, k)))
          << "stage " << s << " factor " << k;
}

TEST(Exact, WindowMatchesClosedFormForEveryScale) {
  const independent::Tables &want = independent::expected();
  ASSERT_GT(want.scales.size(), 8000u);
  bool extremes[2] = {};
  size_t compared = 0, differ = 0;
  for (size_t i = 0; i < want.scales.size(); i++) {
    const int32_t scale = want.scales[i];
    extremes[0] |= scale == std::numeric_limits<int32_t>::min();
    extremes[1] |= scale == std::numeric_limits<int32_t>::max();
    make_decode_tables(scale);
    for (int slot = 0; slot < 544; slot++, compared++) {
      const uint64_t expected = want.window[i * independent::kSlots + slot / 32 * 16 + slot % 16];
      if (bits(decwin[slot]) != expected && differ++ < 5)
        ADD_FAILURE() << "scale " << scale << " slot " << slot << ": " << decwin[slot];
    }
  }
  EXPECT_TRUE(extremes[0] && extremes[1]);
  EXPECT_EQ(differ, 0u);
  std::printf("window: %zu entries over %zu scales, %zu differ\n", compared, want.scales.size(),
              differ);
}

}  // namespace
