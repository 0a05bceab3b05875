// Behaviour of make_decode_tables and the tables it fills.
#include <gtest/gtest.h>
#include <synthtab/tabinit.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>

#include "independent.h"

namespace {

using independent::bits;

constexpr int kCount[5] = {16, 8, 4, 2, 1};

// The standard's window, D[0..511], from the data file.
std::map<int, double> standard_window() {
  std::ifstream in(SYNTHTAB_WINDOW_DATA);
  std::map<int, double> d;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    int i;
    double v;
    if (fields >> i >> v) d[i] = v;
  }
  return d;
}

// ---- Factor tables ---------------------------------------------------------

TEST(Factors, TellingValues) {
  make_decode_tables(32768);
  // Just below 1/sqrt(2): pi enters as the double below the true pi.
  EXPECT_EQ(pnts[4][0], 0.7071067811865475);
  EXPECT_NE(pnts[4][0], 0.7071067811865476);
  EXPECT_NEAR(pnts[3][0], 0.5411961001, 1e-10);
  EXPECT_NEAR(pnts[3][1], 1.306562965, 1e-9);
  EXPECT_NEAR(pnts[2][0], 0.5097955791, 1e-10);
  EXPECT_NEAR(pnts[2][1], 0.6013448869, 1e-10);
  EXPECT_NEAR(pnts[2][2], 0.8999762231, 1e-10);
  EXPECT_NEAR(pnts[2][3], 2.562915448, 1e-9);
  EXPECT_NEAR(pnts[1][0], 0.5024192862, 1e-10);
  EXPECT_NEAR(pnts[1][7], 5.101148619, 1e-9);
  EXPECT_NEAR(pnts[0][0], 0.5006029982, 1e-10);
  EXPECT_NEAR(pnts[0][15], 10.19000812, 1e-8);
}

TEST(Factors, RiseStrictlyAboveOneHalf) {
  make_decode_tables(1);
  for (int s = 0; s < 5; s++) {
    EXPECT_GT(pnts[s][0], 0.5);
    for (int k = 1; k < kCount[s]; k++) EXPECT_LT(pnts[s][k - 1], pnts[s][k]) << s << "," << k;
  }
  for (int s = 1; s < 5; s++) {  // stage 0 holds the smallest and the largest factor
    EXPECT_LT(pnts[0][0], pnts[s][0]);
    EXPECT_GT(pnts[0][15], pnts[s][kCount[s] - 1]);
  }
}

// The extended evaluation is what makes the tables what they are: a plain
// double evaluation moves the last factor of stage 0, among others. Every
// CPU evaluates in 64 bits, emulated where long double is not x87.
TEST(Factors, EvaluatedInExtendedPrecision) {
  make_decode_tables(1);
  const double plain = 1.0 / (2.0 * std::cos(31 * 3.141592653589793 / 64));
  EXPECT_NE(bits(pnts[0][15]), bits(plain));
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
// Under 53- or 24-bit x87 precision control (where Windows starts its
// threads, or where a program sets it) the tables are those of 64 bits, and
// the caller's setting is back after the call.
TEST(Factors, SameUnderAnyX87PrecisionControl) {
  make_decode_tables(32767);
  double factors[16], window[544];
  std::memcpy(factors, pnts[0], sizeof factors);
  std::memcpy(window, decwin, sizeof window);
  unsigned short saved, after;
  __asm__ volatile("fnstcw %0" : "=m"(saved));
  for (const unsigned short pc : {0x200, 0x000}) {
    const unsigned short cw = (saved & ~0x300) | pc;
    __asm__ volatile("fldcw %0" : : "m"(cw) : "memory");
    make_decode_tables(32767);
    __asm__ volatile("fnstcw %0" : "=m"(after) : : "memory");
    __asm__ volatile("fldcw %0" : : "m"(saved) : "memory");
    EXPECT_EQ(after, cw);
    EXPECT_EQ(std::memcmp(factors, pnts[0], sizeof factors), 0) << "precision control " << pc;
    EXPECT_EQ(std::memcmp(window, decwin, sizeof window), 0) << "precision control " << pc;
  }
}
#endif

TEST(Factors, IndependentOfScale) {
  double first[5][16];
  make_decode_tables(32768);
  for (int s = 0; s < 5; s++) std::memcpy(first[s], pnts[s], kCount[s] * sizeof(double));
  for (int32_t scale : {0, -1, 1, -32768, std::numeric_limits<int32_t>::min()}) {
    make_decode_tables(scale);
    for (int s = 0; s < 5; s++)
      EXPECT_EQ(std::memcmp(first[s], pnts[s], kCount[s] * sizeof(double)), 0) << scale;
  }
}

// A caller may point pnts at tables of its own; the call fills exactly the
// stage's entry count there and leaves the unit's own table alone.
TEST(Factors, FillRedirectedTable) {
  make_decode_tables(1);
  double *const own = pnts[2];
  const double before[4] = {own[0], own[1], own[2], own[3]};
  double mine[6] = {-7, -7, -7, -7, -7, -7};
  pnts[2] = mine + 1;
  make_decode_tables(1);
  pnts[2] = own;
  EXPECT_EQ(mine[0], -7);
  EXPECT_EQ(mine[5], -7);
  for (int k = 0; k < 4; k++) {
    EXPECT_EQ(bits(mine[k + 1]), bits(independent::factor(2, k)));
    EXPECT_EQ(bits(own[k]), bits(before[k]));
  }
  pnts[2] = nullptr;  // back to the library's own table, filled
  make_decode_tables(1);
  EXPECT_EQ(pnts[2], own);
  EXPECT_EQ(bits(own[3]), bits(independent::factor(2, 3)));
}

// ---- The constant window ---------------------------------------------------

TEST(Dewin, IsTheStandardWindowWithAlternatingBlockSigns) {
  const std::map<int, double> d = standard_window();
  ASSERT_EQ(d.size(), 512u);
  for (int i = 0; i <= 256; i++) {
    const double expected = (i / 64) % 2 ? -d.at(i) : d.at(i);
    EXPECT_EQ(bits(dewin[i]), bits(expected)) << "slot " << i;
  }
  for (int i = 257; i < 512; i++) EXPECT_EQ(bits(dewin[i]), bits(0.0)) << "slot " << i;
}

TEST(Dewin, TellingEntries) {
  EXPECT_EQ(bits(dewin[0]), bits(0.0));
  for (int i = 1; i <= 6; i++) EXPECT_EQ(dewin[i], -0.000015259);
  for (int i = 7; i <= 10; i++) EXPECT_EQ(dewin[i], -0.000030518);
  EXPECT_EQ(dewin[32], -0.000442505);
  EXPECT_EQ(dewin[64], -0.003250122);
  EXPECT_EQ(dewin[128], 0.031082153);
  EXPECT_EQ(dewin[192], -0.100311279);
  EXPECT_EQ(dewin[196], -0.057617187);  // the standard rounds this tie down
  EXPECT_EQ(dewin[224], 0.572036743);
  EXPECT_EQ(dewin[255], 1.144287109);
  double lo = 0, hi = 0;
  for (int i = 1; i <= 256; i++) {
    const bool negative = i <= 85 || (i >= 144 && i <= 200);
    EXPECT_EQ(dewin[i] < 0, negative) << "slot " << i;
    lo = std::fmin(lo, dewin[i]);
    hi = std::fmax(hi, dewin[i]);
  }
  EXPECT_EQ(lo, dewin[180]);
  EXPECT_EQ(lo, -0.152069092);
  EXPECT_EQ(hi, dewin[256]);
  EXPECT_EQ(hi, 1.144989014);
}

// ---- The scaled window -----------------------------------------------------

TEST(Decwin, TellingSlotsAtScaleOne) {
  make_decode_tables(1);
  EXPECT_EQ(decwin[8], -1.144989014);  // position 256
  EXPECT_EQ(decwin[24], -1.144989014);
  EXPECT_EQ(decwin[1], 0.000442505);  // position 32
  EXPECT_EQ(decwin[17], 0.000442505);
  EXPECT_EQ(decwin[9], -0.572036743);    // position 288, from dewin[224]
  EXPECT_EQ(decwin[527], -0.000076294);  // position 496, the last pair written
  EXPECT_EQ(decwin[543], -0.000076294);
}

TEST(Decwin, RowsHoldTheirColumnsTwice) {
  for (int32_t scale : {1, 32768, -12345, std::numeric_limits<int32_t>::max()}) {
    make_decode_tables(scale);
    for (int m = 0; m < 17; m++)
      EXPECT_EQ(std::memcmp(&decwin[32 * m], &decwin[32 * m + 16], 16 * sizeof(double)), 0)
          << "scale " << scale << " row " << m;
  }
}

// Rows 0 and 16 name the dewin elements their columns take.
TEST(Decwin, FirstAndLastRowTakeTheRightElements) {
  const int row0[16] = {0, 32, 64, 96, 128, 160, 192, 224, 256, 224, 192, 160, 128, 96, 64, 32};
  const int row16[16] = {16, 48, 80, 112, 144, 176, 208, 240, 240, 208, 176, 144, 112, 80, 48, 16};
  make_decode_tables(1);
  for (int g = 0; g < 16; g++) {
    const double sign = g % 4 < 2 ? -1 : 1;
    EXPECT_EQ(decwin[g], sign * dewin[row0[g]]) << g;
    EXPECT_EQ(decwin[512 + g], sign * dewin[row16[g]]) << g;
  }
}

TEST(Decwin, ZeroSlotIsNegativeZeroForPositiveScales) {
  make_decode_tables(32768);
  EXPECT_EQ(decwin[0], 0.0);
  EXPECT_TRUE(std::signbit(decwin[0]));
  EXPECT_TRUE(std::signbit(decwin[16]));
  make_decode_tables(-32768);
  EXPECT_FALSE(std::signbit(decwin[0]));
}

TEST(Decwin, ScaleZeroGivesZeros) {
  make_decode_tables(32768);
  make_decode_tables(0);
  for (int slot = 0; slot < 544; slot++) EXPECT_EQ(decwin[slot], 0.0) << slot;
}

TEST(Decwin, NegatingTheScaleNegatesEverySlot) {
  double pos[544];
  for (int32_t scale : {1, 3, 32768, 1000001, std::numeric_limits<int32_t>::max()}) {
    make_decode_tables(scale);
    std::memcpy(pos, decwin, sizeof pos);
    make_decode_tables(-scale);
    for (int slot = 0; slot < 544; slot++)
      ASSERT_EQ(bits(decwin[slot]), bits(-pos[slot])) << "scale " << scale << " slot " << slot;
  }
}

// Every call rewrites all 544 slots: nothing of an earlier scale survives.
TEST(Decwin, SecondCallLeavesNothingOfTheFirst) {
  double once[544];
  make_decode_tables(7);
  std::memcpy(once, decwin, sizeof once);
  make_decode_tables(-99999);
  make_decode_tables(7);
  EXPECT_EQ(std::memcmp(once, decwin, sizeof once), 0);
  make_decode_tables(2);
  for (int slot = 0; slot < 544; slot++) {
    if (once[slot] != 0) {
      EXPECT_NE(decwin[slot], once[slot]) << slot;
    }
  }
}

// INT32_MIN cannot be negated in 32 bits; it must give the tables of its
// exact negation, 2^31, which are twice those of -2^30 to the bit.
TEST(Decwin, MostNegativeScaleIsExact) {
  double half[544];
  make_decode_tables(-(int32_t{1} << 30));
  std::memcpy(half, decwin, sizeof half);
  make_decode_tables(std::numeric_limits<int32_t>::min());
  for (int slot = 0; slot < 544; slot++) {
    ASSERT_EQ(bits(decwin[slot]), bits(2 * half[slot])) << slot;
    ASSERT_EQ(bits(decwin[slot]), bits(independent::window(INT32_MIN, slot))) << slot;
  }
  EXPECT_EQ(decwin[8], 2147483648.0 * 1.144989014);
}

}  // namespace
