// The tables as static initialisation leaves them, before any call. Runs in a
// process of its own so that no other test has called make_decode_tables.
#include <gtest/gtest.h>
#include <synthtab/tabinit.h>

#include <cmath>

namespace {

TEST(BeforeFirstCall, FactorTablesAreDistinctZeros) {
  const int count[5] = {16, 8, 4, 2, 1};
  for (int s = 0; s < 5; s++) {
    ASSERT_NE(pnts[s], nullptr);
    for (int k = 0; k < count[s]; k++) {
      EXPECT_EQ(pnts[s][k], 0.0);
      EXPECT_FALSE(std::signbit(pnts[s][k]));
    }
    for (int o = 0; o < 5; o++) {  // no table overlaps another
      if (o != s) {
        EXPECT_TRUE(pnts[o] + count[o] <= pnts[s] || pnts[s] + count[s] <= pnts[o]);
      }
    }
  }
}

TEST(BeforeFirstCall, WindowIsZeroAndDewinIsReady) {
  for (int slot = 0; slot < 544; slot++) EXPECT_EQ(decwin[slot], 0.0) << slot;
  EXPECT_EQ(dewin[256], 1.144989014);
  EXPECT_EQ(dewin[64], -0.003250122);
}

}  // namespace
