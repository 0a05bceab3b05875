// The integer filterbank's accuracy, measured one way for `synthtab verify
// --fixed` and the library's tests: its s32 output against the direct form
// (synthtab_reference), its s16 output against the double filterbank's at
// scale 32768, and its clip counts. Header-only, on the public interface.
#ifndef SYNTHTAB_SRC_FIXED_ACCURACY_H
#define SYNTHTAB_SRC_FIXED_ACCURACY_H

#include <synthtab/fixed.h>
#include <synthtab/synth.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace synthtab::accuracy {

struct Fixed {
  double rms = 0, max = 0;        // s32 error, in units of full scale, samples within it
  long n = 0, same = 0, off = 0;  // s16 samples, equal to the double's, more than 1 apart
  long clipped = 0;               // s32 samples at a rail
  long rail_misses = 0;           // s32 samples beyond full scale not at their rail
  long count_misses = 0;          // blocks whose clip counts are wrong (below)

  // The bars: s32 within 2^-20 of full scale RMS and 2^-18 at most; s16
  // never more than 1 from the double filterbank's and equal for 99%.
  bool s32_ok() const { return rms <= std::ldexp(1.0, -20) && max <= std::ldexp(1.0, -18); }
  bool s16_ok() const { return off == 0 && same >= 0.99 * n; }
};

// Runs blocks 0..blocks-1, block b's subbands from next(b, s) into
// int32_t s[32]. Samples whose exact value lies beyond full scale count for
// the s16 comparison only, and must be at the rail in s32. s32 must count
// the samples it leaves at a rail; s16 must count as the double filterbank
// does, unless a sample lies within a step of the rail.
template <class Next>
Fixed measure_fixed(Next next, long blocks) {
  const double one = std::ldexp(1.0, SYNTHTAB_FIXED_FRAC_BITS);
  make_decode_tables(32768);
  synthtab_fixed f32, f16;
  synthtab_fixed_init(&f32);
  synthtab_fixed_init(&f16);
  synthtab_synth dbl;
  synthtab_synth_init(&dbl);
  synthtab_reference ref;
  synthtab_reference_init(&ref);
  Fixed a;
  double squares = 0;
  long inside = 0;
  for (long b = 0; b < blocks; b++) {
    int32_t s[32], y32[32];
    int16_t y16[32], want[32];
    double d[32], z[32];
    next(b, s);
    for (int k = 0; k < 32; k++) d[k] = s[k] / one;
    const size_t clipped32 = synthtab_fixed_s32(&f32, s, y32, 1);
    const size_t clipped16 = synthtab_fixed_s16(&f16, s, y16, 1);
    const size_t want_clipped = synthtab_synth_s16(&dbl, d, want, 1);
    synthtab_reference_f64(&ref, d, z);
    bool near_rail = false;
    size_t at_rail = 0;
    for (int j = 0; j < 32; j++) {
      if (std::fabs(z[j]) < 1 - 1e-6) {
        const double e = std::ldexp(y32[j], -31) - z[j];
        squares += e * e;
        a.max = std::max(a.max, std::fabs(e));
        inside++;
      } else if (std::fabs(z[j]) > 1 + 1e-6) {
        a.rail_misses += y32[j] != (z[j] > 0 ? INT32_MAX : INT32_MIN);
      }
      at_rail += y32[j] == INT32_MAX || y32[j] == INT32_MIN;
      near_rail |= std::fabs(std::fabs(z[j] * 32768) - 32767.5) < 1.5;
      a.n++;
      a.same += y16[j] == want[j];
      a.off += std::abs(y16[j] - want[j]) > 1;
    }
    a.clipped += static_cast<long>(at_rail);
    a.count_misses += clipped32 != at_rail || (!near_rail && clipped16 != want_clipped);
  }
  a.rms = inside ? std::sqrt(squares / inside) : 0;
  return a;
}

}  // namespace synthtab::accuracy

#endif  // SYNTHTAB_SRC_FIXED_ACCURACY_H
