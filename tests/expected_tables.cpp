// Writes the tables every build must reproduce, evaluated independently of
// the unit and of the platform's long double: MPFR at 64-bit precision,
// rounding to nearest at each step (cosine, doubling, reciprocal, product
// with the scale), then to double. The window comes from the closed form of
// rows and columns rather than the unit's cursor walk. Runs on the build
// host; cross-built tests read its file.
//
//   expected_tables OUT
//
// OUT, all little-endian: u32 scale count; 31 factors (stage 0 first) as
// u64 bit patterns; then per scale an i32 scale and the 17 x 16 distinct
// window slots (row m, column g) as u64 bit patterns.
#include <mpfr.h>
#include <synthtab/tabinit.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// Thousands of scales: every small one, the powers of two and their
// neighbours, both extremes, and a fixed pseudo-random spread.
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

void put(std::vector<unsigned char> &out, uint64_t v, int bytes) {
  for (int b = 0; b < bytes; b++) out.push_back(static_cast<unsigned char>(v >> (8 * b)));
}

void put_double(std::vector<unsigned char> &out, double d) {
  uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  put(out, u, 8);
}

// How close the cosine comes to a point where its rounding to 64 bits
// changes (the midpoints either side of c64): n for a distance of at least
// 2^-n, at 256-bit precision. The unit's own cosine is within 2^-120 of the
// true one, so n below 119 means its rounding is decided.
double rounding_margin(mpfr_t angle, mpfr_t c64) {
  mpfr_t c, mid;
  mpfr_inits2(256, c, mid, static_cast<mpfr_ptr>(nullptr));
  mpfr_cos(c, angle, MPFR_RNDN);
  double worst = 0;
  for (int side = -1; side <= 1; side += 2) {  // the midpoints on either side of c64
    mpfr_set(mid, c64, MPFR_RNDN);
    mpfr_mul_2si(mid, mid, 64 - mpfr_get_exp(c64), MPFR_RNDN);  // significand as an integer
    mpfr_add_d(mid, mid, 0.5 * side, MPFR_RNDN);
    mpfr_mul_2si(mid, mid, mpfr_get_exp(c64) - 64, MPFR_RNDN);
    mpfr_sub(mid, mid, c, MPFR_RNDN);
    long e;
    mpfr_get_d_2exp(&e, mid, MPFR_RNDN);
    if (1 - e > worst) worst = static_cast<double>(1 - e);
  }
  mpfr_clears(c, mid, static_cast<mpfr_ptr>(nullptr));
  return worst;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: expected_tables OUT\n");
    return 2;
  }
  const std::vector<int32_t> all = scales();
  std::vector<unsigned char> out;
  put(out, all.size(), 4);

  mpfr_t x, y, a;
  mpfr_inits2(64, x, y, a, static_cast<mpfr_ptr>(nullptr));
  double margin = 0;
  for (int s = 0; s < 5; s++) {
    for (int k = 0; k < (16 >> s); k++) {
      mpfr_set_d(x, 3.141592653589793, MPFR_RNDN);  // the double nearest to pi
      mpfr_mul_ui(x, x, 2 * k + 1, MPFR_RNDN);      // exact: 58 bits
      mpfr_div_2ui(x, x, 6 - s, MPFR_RNDN);         // exact
      mpfr_cos(y, x, MPFR_RNDN);
      const double m = rounding_margin(x, y);
      if (m > margin) margin = m;
      mpfr_mul_2ui(y, y, 1, MPFR_RNDN);
      mpfr_ui_div(y, 1, y, MPFR_RNDN);
      put_double(out, mpfr_get_d(y, MPFR_RNDN));
    }
  }
  if (margin >= 119) {
    std::fprintf(stderr, "expected_tables: a cosine lies within 2^-%g of a rounding boundary\n",
                 margin);
    return 1;
  }

  for (int32_t scale : all) {
    put(out, static_cast<uint32_t>(scale), 4);
    for (int m = 0; m < 17; m++) {
      for (int g = 0; g < 16; g++) {  // position 32g + m, read backwards past 256
        const double e = g < 8 ? dewin[32 * g + m] : dewin[512 - 32 * g - m];
        const int64_t signed_scale = (g % 4 < 2 ? -1 : 1) * int64_t{scale};
        mpfr_set_d(x, e, MPFR_RNDN);  // exact, as is the scale (|a| <= 2^31)
        mpfr_set_d(a, static_cast<double>(signed_scale), MPFR_RNDN);
        mpfr_mul(y, x, a, MPFR_RNDN);
        put_double(out, mpfr_get_d(y, MPFR_RNDN));
      }
    }
  }
  mpfr_clears(x, y, a, static_cast<mpfr_ptr>(nullptr));

  std::FILE *f = std::fopen(argv[1], "wb");
  if (!f || std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "expected_tables: cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("expected_tables: %zu scales; no cosine within 2^-%g of a rounding boundary\n",
              all.size(), margin);
  return 0;
}
