// The SIMD kernels' analysis window, kAnalysisWindow (kernel.h), evaluated
// by the compiler from the standard's window; and kernel.h's DCT factor
// literals held to the values make_decode_tables() stores in pnts, evaluated
// by the compiler as tabinit.cpp evaluates them (extended.h).
#include "../extended.h"
#include "../window.h"
#include "kernel.h"

namespace synthtab::kernel {
namespace {

constexpr double pow2(int e) {
  double v = 1;
  for (; e < 0; e++) v /= 2;  // exact
  for (; e > 0; e--) v *= 2;
  return v;
}

constexpr double to_double(extended::Ext x) {
  const auto [m, e] = extended::round53(x);
  return static_cast<double>(m) * pow2(e);  // m <= 2^53: exact
}

// Each literal of the n-point stage is the true factor, and at most 8 units
// in the last place from pnts[stage][k].
template <int n>
constexpr bool factors_match() {
  constexpr int stage = n == 32 ? 0 : n == 16 ? 1 : n == 8 ? 2 : n == 4 ? 3 : 4;
  for (int k = 0; k < n / 2; k++) {
    const double f = factors<n>()[k], p = to_double(extended::factor(stage, k));
    const double ulp = pow2(extended::round53(extended::factor(stage, k)).e);
    if (f != to_double(extended::true_factor(stage, k)) || (f > p ? f - p : p - f) > 8 * ulp)
      return false;
  }
  return true;
}
static_assert(factors_match<32>() && factors_match<16>() && factors_match<8>() &&
                  factors_match<4>() && factors_match<2>(),
              "kernel.h's DCT factors are the values pnts holds");

constexpr const double *kD = detail::kSynthesisWindowConst;

// The table kernel.h describes: for each row j, age b = -j mod 16; within a
// group, lane l of the first read and of the second.
constexpr AnalysisWindow build() {
  AnalysisWindow a{};
  for (int j = 0; j < 32; j++) {
    const int b = (16 - j % 16) % 16;
    const double *c = kD + 32 * b;  // C[32 b + 31 - n] = c[31 - n] / 32
    for (int g = 0; g < 4; g++)
      for (int l = 0; l < 4; l++) {
        double *w = a.w + 64 * j + 8 * g + l;
        const int m = 4 * g + l;
        if (b % 2 == 0) {
          w[0] = c[31 - (15 + m)] / 32;
          w[4] = (m ? c[31 - (15 - m)] : c[0]) / 32;
        } else {
          w[0] = c[m] / 32;
          w[4] = m ? -c[31 - (m - 1)] / 32 : 0.0;
        }
      }
  }
  return a;
}

}  // namespace

constexpr AnalysisWindow kAnalysisWindow = build();

}  // namespace synthtab::kernel
