// The integer filterbank's constant tables, evaluated by the compiler from
// the values make_decode_tables() stores, with integer arithmetic alone: the
// same bits from every compiler for every CPU, cross builds included, and no
// code at start-up. The factors follow the evaluation pnts has (a 64-bit
// significand for the cosine, the doubling and the reciprocal, then a
// double), in the integer form tabinit.cpp runs where long double is not the
// x87 format (extended.h). The tests hold both tables to pnts and decwin,
// entry by entry.
#include <synthtab/fixed.h>

#include <cstdint>

#include "kernels/fixed_kernel.h"   // Thumb1Tables
#include "synthesis_window_nano.h"  // generated from data/synthesis-window.txt

namespace {

// D[i] * 2^bits to the nearest integer, from the printed decimal; never a
// tie (2^bits / 10^9 has 5^9 in its denominator), so it is also the rounding
// of the double nearest to the decimal, which decwin holds scaled.
constexpr int32_t window(int i, int bits) {
  const long long n = synthtab::detail::kSynthesisWindowNano[i];
  const long long a = ((n < 0 ? -n : n) * (1LL << bits) + 500000000) / 1000000000;
  return static_cast<int32_t>(n < 0 ? -a : a);
}

constexpr synthtab_fixed_tables make() {
  synthtab_fixed_tables t{};
  for (int i = 0, at = 0; i < 5; i++)
    for (int k = 0; k < (16 >> i); k++)
      t.cos[at++] = synthtab::fixed::factor(i, k, SYNTHTAB_FIXED_COS_BITS + i);
  // The window rows as fixed.cpp reads them (kernel.h has the scheme). Row
  // j = 0..16, column c = t + s: D[32g + j] for the block of age g = c mod 16,
  // negated for odd ages. Row 32 - m (m = 1..15): D[32 (15 - c mod 16) + m],
  // window row m read backwards. The history keeps X[n] where the double
  // kernels keep -X[n], so these are decwin's values at scale -2^30.
  for (int c = 0; c < 32; c++) {
    for (int j = 0; j <= 16; j++) {
      const int32_t w = window(32 * (c % 16) + j, SYNTHTAB_FIXED_WIN_BITS);
      t.win[j][c] = c % 2 ? -w : w;
    }
    for (int m = 1; m <= 15; m++)
      t.win[32 - m][c] = window(32 * (15 - c % 16) + m, SYNTHTAB_FIXED_WIN_BITS);
  }
  return t;
}

}  // namespace

constexpr synthtab_fixed_tables synthtab_fixed_tab = make();

namespace {

// fixed.cpp's window sums cannot overflow: any 16 consecutive window values
// of a row add up to less than 4 in magnitude, so 16 products with values
// below 2^31 stay below 2^(31 + 30 + 2) = 2^63.
constexpr bool window_sums_below_4() {
  for (const auto &row : synthtab_fixed_tab.win) {
    for (int t = 0; t < 16; t++) {
      int64_t sum = 0;
      for (int s = 0; s < 16; s++) sum += row[t + s] < 0 ? -int64_t{row[t + s]} : row[t + s];
      if (sum >= int64_t{4} << SYNTHTAB_FIXED_WIN_BITS) return false;
    }
  }
  return true;
}
static_assert(window_sums_below_4(), "a window sum could overflow 64 bits");

}  // namespace

#if defined(SYNTHTAB_FIXED_MUL32)
// The tables of the window sums built from 32-bit products (fixed_kernel.h),
// from synthtab_fixed_tab: the factors, each window value w as k, its nearest
// multiple of 2^14 over 2^14, and where w is not that multiple (the window's
// decimals are multiples of 2^-16, but nine decimals round 40 of them to
// 2^14 k +- 1 at this scale) the difference.
namespace synthtab::fixed {
namespace {

constexpr Thumb1Tables make_thumb1() {
  Thumb1Tables r{};
  for (int i = 0; i < 31; i++) r.cos[i] = synthtab_fixed_tab.cos[i];
  unsigned n = 2;
  for (int sign = 1; sign >= -1; sign -= 2) {
    for (int j = 0; j < 32; j++) {
      for (int c = 0; c < 32; c++) {
        const int32_t w = synthtab_fixed_tab.win[j][c], k = (w + (1 << 13)) >> 14;
        const int32_t d = w - k * (1 << 14);
        r.k[j][c] = k;
        if (d != sign || c >= 16) continue;
        if (n + 3 > sizeof r.rest / sizeof r.rest[0]) return Thumb1Tables{};
        const uint32_t h = j <= 16 ? j : 32 - j;
        r.rest[n++] = 4u * c;
        r.rest[n++] = 64 * h;
        r.rest[n++] = 8u * j;
      }
    }
    r.rest[sign > 0 ? 0 : 1] = 4 * (n - 2) - (sign > 0 ? 0 : r.rest[0]);
  }
  // Every value within 1 of its multiple of 2^14: none left out.
  for (const auto &row : synthtab_fixed_tab.win)
    for (const int32_t w : row)
      if (const int32_t d = w - ((w + (1 << 13)) >> 14) * (1 << 14); d < -1 || d > 1)
        return Thumb1Tables{};
  return r;
}

}  // namespace

constexpr Thumb1Tables kThumb1 = make_thumb1();
static_assert(kThumb1.rest[0] != 0, "window values too far from multiples of 2^14");

}  // namespace synthtab::fixed
#endif

#if defined(SYNTHTAB_FIXED_V7M)
// The window as ARMv7-M's window sums read it (fixed_kernel.h).
namespace synthtab::fixed {
namespace {

constexpr V7mWindow make_v7m() {
  V7mWindow r{};
  for (int c = 0; c < 32; c++) {
    for (int j = 1; j < 16; j++) {
      r.pairs[j - 1][c][0] = synthtab_fixed_tab.win[j][c];
      r.pairs[j - 1][c][1] = synthtab_fixed_tab.win[32 - j][c];
    }
    r.single[0][c] = synthtab_fixed_tab.win[0][c];
    r.single[1][c] = synthtab_fixed_tab.win[16][c];
  }
  return r;
}

}  // namespace

constexpr V7mWindow kV7mWin = make_v7m();

}  // namespace synthtab::fixed
#endif
