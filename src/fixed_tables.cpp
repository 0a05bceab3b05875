// The integer filterbank's constant tables, evaluated by the compiler from
// the values make_decode_tables() stores, with integer arithmetic alone: the
// same bits from every compiler for every CPU, cross builds included, and no
// code at start-up. tabinit.cpp documents the evaluation the factors follow
// (a 64-bit significand for the cosine, the doubling and the reciprocal, then
// a double); its integer emulation is repeated here in constexpr form. The
// tests hold both tables to pnts and decwin, entry by entry.
#include <synthtab/fixed.h>

#include <cstdint>

#include "synthesis_window_nano.h"  // generated from data/synthesis-window.txt

namespace {

// A positive value sig * 2^exp with a 64-bit significand (bit 63 set).
struct Ext {
  uint64_t sig;
  int exp;
};

constexpr int leading_zeros(uint64_t x) {  // x != 0
  int n = 0;
  for (; !(x >> 63); x <<= 1) n++;
  return n;
}

// Rounds (hi * 2^64 + lo) * 2^exp, nonzero, to 64 bits, nearest, ties to
// even; `sticky` says a nonzero tail lies below lo.
constexpr Ext round64(uint64_t hi, uint64_t lo, bool sticky, int exp) {
  if (hi == 0) {
    hi = lo;
    lo = 0;
    exp -= 64;
  }
  const int s = leading_zeros(hi);
  if (s) {
    hi = hi << s | lo >> (64 - s);
    lo <<= s;
  }
  exp += 64 - s;
  const uint64_t half = uint64_t{1} << 63;
  if (lo > half || (lo == half && (sticky || (hi & 1)))) {
    if (++hi == 0) {
      hi = half;
      exp++;
    }
  }
  return {hi, exp};
}

// 1 / x by long division, 127 quotient bits and a sticky remainder.
constexpr Ext reciprocal(Ext x) {
  const uint64_t d = x.sig;
  uint64_t r = uint64_t{1} << 63, hi = 0, lo = 0;
  if (r >= d) {
    r -= d;
    lo = 1;
  }
  for (int n = 0; n < 127; n++) {
    const bool carry = r >> 63;
    r <<= 1;
    const bool bit = carry || r >= d;
    if (bit) r -= d;
    hi = hi << 1 | lo >> 63;
    lo = lo << 1 | bit;
  }
  return round64(hi, lo, r != 0, -(63 + 127) - x.exp);
}

// Unsigned fixed point, 128 fraction bits and 32 integer bits, in
// little-endian 32-bit limbs.
constexpr int kLimbs = 5;
struct Wide {
  uint32_t w[kLimbs];
};

constexpr bool is_zero(const Wide &a) {
  for (uint32_t v : a.w)
    if (v) return false;
  return true;
}

constexpr Wide add(const Wide &a, const Wide &b) {
  Wide c{};
  uint64_t carry = 0;
  for (int j = 0; j < kLimbs; j++) {
    carry += uint64_t{a.w[j]} + b.w[j];
    c.w[j] = static_cast<uint32_t>(carry);
    carry >>= 32;
  }
  return c;
}

constexpr Wide sub(const Wide &a, const Wide &b) {  // a >= b
  Wide c{};
  uint64_t borrow = 0;
  for (int j = 0; j < kLimbs; j++) {
    const uint64_t v = uint64_t{a.w[j]} - b.w[j] - borrow;
    c.w[j] = static_cast<uint32_t>(v);
    borrow = v >> 63;
  }
  return c;
}

constexpr Wide mul(const Wide &a, const Wide &b) {  // truncated to 128 fraction bits
  uint32_t p[2 * kLimbs] = {};
  for (int i = 0; i < kLimbs; i++) {
    uint64_t carry = 0;
    for (int j = 0; j < kLimbs; j++) {
      carry += uint64_t{a.w[i]} * b.w[j] + p[i + j];
      p[i + j] = static_cast<uint32_t>(carry);
      carry >>= 32;
    }
    p[i + kLimbs] = static_cast<uint32_t>(carry);
  }
  Wide c{};
  for (int j = 0; j < kLimbs; j++) c.w[j] = p[j + 4];
  return c;
}

constexpr Wide div(const Wide &a, uint32_t d) {  // truncated
  Wide c{};
  uint64_t r = 0;
  for (int j = kLimbs - 1; j >= 0; j--) {
    r = r << 32 | a.w[j];
    c.w[j] = static_cast<uint32_t>(r / d);
    r %= d;
  }
  return c;
}

// The double nearest to pi is kPiSig * 2^-51.
constexpr uint64_t kPiSig = 0x1921FB54442D18;

// cos((2k + 1) pi / (64 >> stage)) rounded to 64 bits: a Taylor series in
// fixed point on the exact angle, within 2^-122 of the cosine.
constexpr Ext cosine(int stage, int k) {
  const uint64_t angle = (2 * k + 1) * kPiSig;
  const int shift = 128 - 51 - 6 + stage;
  Wide x{};
  for (int b = 0; b < 64; b++) {
    if (angle >> b & 1) {
      const int at = b + shift;
      x.w[at / 32] |= uint32_t{1} << (at % 32);
    }
  }
  const Wide x2 = mul(x, x);
  Wide term{}, plus{}, minus{};
  term.w[4] = 1;
  plus = term;
  for (uint32_t n = 1;; n++) {
    term = div(mul(term, x2), (2 * n - 1) * (2 * n));
    if (is_zero(term)) break;
    if (n % 2)
      minus = add(minus, term);
    else
      plus = add(plus, term);
  }
  const Wide c = sub(plus, minus);
  const uint64_t hi = uint64_t{c.w[3]} << 32 | c.w[2], lo = uint64_t{c.w[1]} << 32 | c.w[0];
  return round64(hi, lo, false, -128);
}

// Factor k of stage i as pnts holds it (1 / (2 cos), the 64-bit value rounded
// to a 53-bit double), then rounded to `bits` fraction bits. The factor lies
// in (0.5, 11), so the double is m * 2^e with e + bits < 0.
constexpr int32_t factor(int stage, int k, int bits) {
  Ext twice = cosine(stage, k);
  twice.exp++;
  const Ext r = reciprocal(twice);
  uint64_t m = r.sig >> 11;
  const uint64_t rest = r.sig & 0x7ff;
  if (rest > 0x400 || (rest == 0x400 && (m & 1))) m++;  // nearest even, to 53 bits
  const int shift = -(r.exp + 11 + bits);
  return static_cast<int32_t>((m + (uint64_t{1} << (shift - 1))) >> shift);
}

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
    for (int k = 0; k < (16 >> i); k++) t.cos[at++] = factor(i, k, SYNTHTAB_FIXED_COS_BITS + i);
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
