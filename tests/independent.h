// The tables every build must reproduce, as the host tool expected_tables
// wrote them (MPFR, independent of the unit and of long double). The file is
// little-endian whatever CPU reads it; it is read once per process.
#pragma once

#include <synthtab/tabinit.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace independent {

constexpr int kFactors = 31;
constexpr int kSlots = 17 * 16;  // the distinct window slots: row m, column g < 16

struct Tables {
  uint64_t factors[kFactors];
  std::vector<int32_t> scales;
  std::vector<uint64_t> window;  // kSlots per scale
};

// Reverses the bytes of each 8-byte word where the CPU is big-endian.
inline void from_little_endian(uint64_t *w, size_t n) {
  const uint16_t probe = 1;
  unsigned char first;
  std::memcpy(&first, &probe, 1);
  if (first) return;
  for (size_t i = 0; i < n; i++) {
    uint64_t v = 0;
    for (int b = 0; b < 8; b++) v = v << 8 | (w[i] >> (8 * b) & 0xff);
    w[i] = v;
  }
}

inline const Tables &expected() {
  static const Tables tables = [] {
    Tables t{};
    std::vector<unsigned char> b;
    if (std::FILE *f = std::fopen(SYNTHTAB_EXPECTED_TABLES, "rb")) {
      unsigned char chunk[1 << 16];
      for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
        b.insert(b.end(), chunk, chunk + n);
      std::fclose(f);
    }
    auto u32 = [&](size_t at) {
      return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
             uint32_t{b[at + 3]} << 24;
    };
    const size_t count = b.size() >= 4 ? u32(0) : 0;
    const size_t record = 4 + 8 * kSlots;
    if (count == 0 || b.size() != 4 + 8 * kFactors + count * record) {
      std::fprintf(stderr, "%s: missing or malformed\n", SYNTHTAB_EXPECTED_TABLES);
      std::abort();
    }
    std::memcpy(t.factors, &b[4], sizeof t.factors);
    from_little_endian(t.factors, kFactors);
    t.scales.resize(count);
    t.window.resize(count * kSlots);
    for (size_t s = 0; s < count; s++) {
      const size_t at = 4 + 8 * kFactors + s * record;
      t.scales[s] = static_cast<int32_t>(u32(at));
      std::memcpy(&t.window[s * kSlots], &b[at + 4], 8 * kSlots);
    }
    from_little_endian(t.window.data(), t.window.size());
    return t;
  }();
  return tables;
}

inline double from_bits(uint64_t u) {
  double d;
  std::memcpy(&d, &u, sizeof d);
  return d;
}

inline uint64_t bits(double x) {
  uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

// Factor k of stage s.
inline double factor(int s, int k) {
  int index = k;
  for (int i = 0; i < s; i++) index += 16 >> i;
  return from_bits(expected().factors[index]);
}

// Slot of decwin for one of the file's scales: row slot / 32, and the
// column modulo 16, since each row holds its columns twice.
inline double window(int32_t scale, int slot) {
  const Tables &t = expected();
  for (size_t i = 0; i < t.scales.size(); i++)
    if (t.scales[i] == scale) return from_bits(t.window[i * kSlots + slot / 32 * 16 + slot % 16]);
  std::fprintf(stderr, "scale %ld is not among the expected tables\n", static_cast<long>(scale));
  std::abort();
}

}  // namespace independent
