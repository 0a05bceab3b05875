// The tables every build must reproduce, as the host tool expected_tables
// wrote them (MPFR, independent of the unit and of long double). The file is
// read once, byte by byte, so big-endian and 32-bit CPUs read it as x86-64
// wrote it.
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
    size_t at = 0;
    auto get = [&](int bytes) {
      uint64_t v = 0;
      for (int i = 0; i < bytes; i++) v |= uint64_t{b[at + i]} << (8 * i);
      at += bytes;
      return v;
    };
    const size_t count = b.size() >= 4 ? get(4) : 0;
    if (count == 0 || b.size() != 4 + 8 * kFactors + count * (4 + 8 * kSlots)) {
      std::fprintf(stderr, "%s: missing or malformed\n", SYNTHTAB_EXPECTED_TABLES);
      std::abort();
    }
    for (uint64_t &f : t.factors) f = get(8);
    for (size_t s = 0; s < count; s++) {
      t.scales.push_back(static_cast<int32_t>(static_cast<uint32_t>(get(4))));
      for (int k = 0; k < kSlots; k++) t.window.push_back(get(8));
    }
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
