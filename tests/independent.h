// An independent construction of the tables, for checking the unit bit for
// bit: cosines from a Taylor series in binary128 rather than the platform's
// cosl, and the window from the closed form of rows and columns rather than
// the cursor walk. Only the final roundings (to a 64-bit significand, then
// to double) follow the unit's evaluation rules.
#pragma once

#include <synthtab/tabinit.h>

#include <cstdint>
#include <cstring>

namespace independent {

using quad = __float128;

// Converges to full binary128 precision for |x| < pi/2.
inline quad cos_series(quad x) {
  quad sum = 1, term = 1;
  for (int n = 2; term != 0; n += 2) {
    term = -term * x * x / (n * (n - 1));
    sum += term;
  }
  return sum;
}

// Factor k of stage s: 1 / (2 cos((2k + 1) pi / (64 >> s))), pi as a double.
inline double factor(int s, int k) {
  const quad angle = quad(2 * k + 1) * quad(3.141592653589793) / (64 >> s);
  const long double c = static_cast<long double>(cos_series(angle));
  return static_cast<double>(1.0L / (2.0L * c));
}

// Slot of decwin for a scale: row m, column g (mod 16) holds window position
// 32g + m, sign -1 in columns 0, 1, 4, 5, ... The product is exact in
// binary128 (53 + 32 bits) and then rounded as the unit rounds it.
inline double window(int32_t scale, int slot) {
  const int m = slot / 32, g = slot % 16;
  const double e = g < 8 ? dewin[32 * g + m] : dewin[512 - 32 * g - m];
  const int64_t signed_scale = (g % 4 < 2 ? -1 : 1) * static_cast<int64_t>(scale);
  const quad exact = quad(e) * quad(signed_scale);
  return static_cast<double>(static_cast<long double>(exact));
}

inline uint64_t bits(double x) {
  uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

}  // namespace independent
