// synthtab verify: runs the fast filterbank against the direct-form reference
// on random subbands and reports the largest deviation.
#include <synthtab/fixed.h>
#include <synthtab/synth.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "../src/fixed_accuracy.h"
#include "args.h"
#include "commands.h"

namespace synthtab::cli {
namespace {

constexpr char kHelp[] =
    "usage: synthtab verify [--blocks N] [--fixed]\n"
    "\n"
    "Runs the fast synthesis filterbank and the direct-form reference side by side\n"
    "on N blocks (default 2000) of random subband samples in [-1, 1], the same\n"
    "fixed-seed sequence at scales 1, 32768 and -32768, and prints the largest\n"
    "deviation |fast / scale - reference| at each scale. It passes when every\n"
    "deviation is at most 1e-12 * max(1, largest |reference| sample).\n"
    "\n"
    "--fixed checks the integer filterbank (fixed.h) instead, on subbands in\n"
    "[-1/8, 1/8] rounded to its format: its 32-bit output against the reference\n"
    "(RMS and largest error, bars 2^-20 and 2^-18 of full scale) and its 16-bit\n"
    "output against the double filterbank's (bars: never more than 1 apart,\n"
    "equal for at least 99% of the samples).\n"
    "\n"
    "Exit status: 0 when it passes, 3 when it does not, 1 for a failed write,\n"
    "2 for a bad command line.\n";

struct Result {
  double dev = 0, peak = 0;
};

Result compare(int32_t scale, long blocks) {
  make_decode_tables(scale);
  SynthesisFilterbank fast;
  ReferenceSynthesis ref;
  std::mt19937_64 gen(20240601);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Result r;
  double s[32], y[32], z[32];
  for (long b = 0; b < blocks; b++) {
    for (double &v : s) v = u(gen);
    fast.synthesize(s, y);
    ref.synthesize(s, z);
    for (int j = 0; j < 32; j++) {
      const double d = std::fabs(y[j] / scale - z[j]);
      r.dev = std::isnan(d) ? d : std::max(r.dev, d);  // NaN sticks: it must fail
      r.peak = std::max(r.peak, std::fabs(z[j]));
    }
    if (std::isnan(r.dev)) break;
  }
  return r;
}

// The integer filterbank, measured as the library's tests measure it.
int verify_fixed(long blocks) {
  std::mt19937_64 gen(20240601);
  std::uniform_int_distribution<int32_t> u(-(1 << (SYNTHTAB_FIXED_FRAC_BITS - 3)),
                                           1 << (SYNTHTAB_FIXED_FRAC_BITS - 3));
  const accuracy::Fixed r = accuracy::measure_fixed(
      [&](long, int32_t *s) {
        for (int k = 0; k < 32; k++) s[k] = u(gen);
      },
      blocks);
  const bool s32 = r.s32_ok();
  const bool s16 = r.s16_ok();
  std::string out;
  appendf(out,
          "fixed s32: error against the reference 2^%.1f of full scale RMS (bar 2^-20), "
          "2^%.1f at most (bar 2^-18): %s\n",
          std::log2(r.rms), std::log2(r.max), s32 ? "ok" : "FAIL");
  appendf(out,
          "fixed s16: %.2f%% equal to the double filterbank's (bar 99%%), %ld more than 1 "
          "apart (bar 0): %s\n",
          100.0 * r.same / r.n, r.off, s16 ? "ok" : "FAIL");
  appendf(out, "%s: %ld blocks\n", s32 && s16 ? "pass" : "FAIL", blocks);
  write_stdout(out);
  return s32 && s16 ? 0 : 3;
}

}  // namespace

int run_verify(const Args &args) {
  const Parsed p = parse(args, {{"--blocks", "N"}, {"--fixed", ""}}, synopsis_of("verify"), 0);
  if (p.help) return write_stdout(kHelp);
  const long blocks = p.number("--blocks", 2000, 1);
  if (p.has("--fixed")) return verify_fixed(blocks);

  std::string out;
  bool pass = true;
  double worst = 0;
  for (int32_t scale : {1, 32768, -32768}) {
    const Result res = compare(scale, blocks);
    const double bar = 1e-12 * std::max(1.0, res.peak);
    const bool ok = res.dev <= bar;  // false for NaN
    pass = pass && ok;
    worst = std::isnan(res.dev) || std::isnan(worst) ? NAN : std::max(worst, res.dev);
    appendf(out, "scale %6d: max |fast/scale - reference| = %.3g, bar %.3g: %s\n", scale, res.dev,
            bar, ok ? "ok" : "FAIL");
  }
  appendf(out, "%s: largest deviation %.3g over %ld blocks\n", pass ? "pass" : "FAIL", worst,
          blocks);
  write_stdout(out);
  return pass ? 0 : 3;  // neither an I/O failure (1) nor bad usage (2)
}

}  // namespace synthtab::cli
