// The factors' evaluation with integers alone: the cosine, the doubling and
// the reciprocal, each rounded to a 64-bit significand (nearest, ties to
// even), as an x87 long double gives them. All constexpr, so one body serves
// tabinit.cpp, which runs it where long double is not the x87 format, and
// fixed_tables.cpp, whose tables the compiler evaluates with it.
#ifndef SYNTHTAB_SRC_EXTENDED_H
#define SYNTHTAB_SRC_EXTENDED_H

#include <cstdint>

namespace synthtab::extended {

// A positive value sig * 2^exp with a 64-bit significand (bit 63 set).
struct Ext {
  uint64_t sig;
  int exp;
};

constexpr int leading_zeros(uint64_t x) {  // x != 0
#if defined(__GNUC__)
  return __builtin_clzll(x);
#else
  int n = 0;
  for (; !(x >> 63); x <<= 1) n++;
  return n;
#endif
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

// The second rounding, 64 bits to 53 (nearest, ties to even): the double
// m * 2^e, m in [2^52, 2^53] (2^53 when the rounding carries out).
struct Dbl {
  uint64_t m;
  int e;
};

constexpr Dbl round53(Ext x) {
  uint64_t m = x.sig >> 11;
  const uint64_t rest = x.sig & 0x7ff;
  if (rest > 0x400 || (rest == 0x400 && (m & 1))) m++;
  return {m, x.exp + 11};
}

// 1 / x by long division: 127 quotient bits and the remainder's sticky bit
// leave far more than the rounding needs.
constexpr Ext reciprocal(Ext x) {
  const uint64_t d = x.sig;
  uint64_t r = uint64_t{1} << 63, hi = 0, lo = 0;
  if (r >= d) {  // d == 2^63
    r -= d;
    lo = 1;
  }
  for (int n = 0; n < 127; n++) {
    const bool carry = r >> 63;
    r <<= 1;
    const bool bit = carry || r >= d;
    if (bit) r -= d;  // wraps to the right value when carry is set
    hi = hi << 1 | lo >> 63;
    lo = lo << 1 | bit;
  }
  return round64(hi, lo, r != 0, -(63 + 127) - x.exp);
}

// Unsigned fixed point with 128 fraction bits and 32 integer bits, in
// little-endian 32-bit limbs (no 128-bit integer type needed).
constexpr int kLimbs = 5;
struct Fixed {
  uint32_t w[kLimbs];
};

constexpr bool is_zero(const Fixed &a) {
  for (uint32_t v : a.w)
    if (v) return false;
  return true;
}

constexpr Fixed add(const Fixed &a, const Fixed &b) {
  Fixed c{};
  uint64_t carry = 0;
  for (int j = 0; j < kLimbs; j++) {
    carry += uint64_t{a.w[j]} + b.w[j];
    c.w[j] = static_cast<uint32_t>(carry);
    carry >>= 32;
  }
  return c;
}

constexpr Fixed sub(const Fixed &a, const Fixed &b) {  // a >= b
  Fixed c{};
  uint64_t borrow = 0;
  for (int j = 0; j < kLimbs; j++) {
    const uint64_t v = uint64_t{a.w[j]} - b.w[j] - borrow;
    c.w[j] = static_cast<uint32_t>(v);
    borrow = v >> 63;
  }
  return c;
}

// a * b, truncated to 128 fraction bits.
constexpr Fixed mul(const Fixed &a, const Fixed &b) {
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
  Fixed c{};
  for (int j = 0; j < kLimbs; j++) c.w[j] = p[j + 4];
  return c;
}

// a / d for a small d, truncated.
constexpr Fixed div(const Fixed &a, uint32_t d) {
  Fixed c{};
  uint64_t r = 0;
  for (int j = kLimbs - 1; j >= 0; j--) {
    r = r << 32 | a.w[j];
    c.w[j] = static_cast<uint32_t>(r / d);
    r %= d;
  }
  return c;
}

// The double nearest to pi, 3.141592653589793, is kPiSig * 2^-51.
constexpr uint64_t kPiSig = 0x1921FB54442D18;
constexpr int kPiExp = -51;

// cos((2k + 1) * pi / (64 >> stage)) rounded to 64 bits. The angle is exact
// in fixed point; the Taylor series is summed to the last fraction bit, its
// terms each truncated twice, so the sum is within 2^-122 of the cosine.
// The smallest cosine is above 2^-5, so 53 bits below its 64-bit
// significand are right and the rounding is decided by them.
constexpr Ext cosine(const Fixed &x);

constexpr Ext cosine(int stage, int k) {
  const uint64_t angle = (2 * k + 1) * kPiSig;
  // angle * 2^(kPiExp - (6 - stage)) as 128 fraction bits: a left shift.
  const int shift = 128 + kPiExp - 6 + stage;
  Fixed x{};
  for (int b = 0; b < 64; b++) {
    if (angle >> b & 1) {
      const int at = b + shift;
      x.w[at / 32] |= uint32_t{1} << (at % 32);
    }
  }
  return cosine(x);
}

// cos(x) rounded to 64 bits, for 0 < x < pi / 2 in fixed point.
constexpr Ext cosine(const Fixed &x) {
  const Fixed x2 = mul(x, x);
  Fixed term{}, plus{}, minus{};
  term.w[4] = 1;  // 1.0
  plus = term;
  for (uint32_t n = 1;; n++) {
    term = div(mul(term, x2), (2 * n - 1) * (2 * n));
    if (is_zero(term)) break;
    if (n % 2)
      minus = add(minus, term);
    else
      plus = add(plus, term);
  }
  const Fixed c = sub(plus, minus);  // in (0, 1): limb 4 is zero
  const uint64_t hi = uint64_t{c.w[3]} << 32 | c.w[2], lo = uint64_t{c.w[1]} << 32 | c.w[0];
  return round64(hi, lo, false, -128);
}

// Factor k of stage i, 1 / (2 cos), before its rounding to double.
constexpr Ext factor(int stage, int k) {
  Ext twice = cosine(stage, k);
  twice.exp++;  // doubling is exact
  return reciprocal(twice);
}

// The same factor with pi itself in place of the double nearest to it (pi
// to 128 fraction bits, truncated), for the constants the kernels write as
// literals: the true value rounded to 64 bits.
constexpr Ext true_factor(int stage, int k) {
  constexpr Fixed kPi128 = {{0x03707344, 0x13198a2e, 0x85a308d3, 0x243f6a88, 3}};
  Fixed odd{};
  odd.w[4] = static_cast<uint32_t>(2 * k + 1);
  Ext twice = cosine(div(mul(kPi128, odd), static_cast<uint32_t>(64 >> stage)));
  twice.exp++;
  return reciprocal(twice);
}

}  // namespace synthtab::extended

#endif  // SYNTHTAB_SRC_EXTENDED_H
