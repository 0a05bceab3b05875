// The analysis filterbank's state and its window table; the arithmetic runs
// in the kernel the synthesis uses (src/kernels/, the scheme in kernel.h).
// Contract in analysis.h.
//
// Windowing. Y[32 h + r] sums C[32 b + r] X[32 b + r] over the blocks b of
// parity h, where X[32 b + r] is sample 31 - r of the block b blocks old.
//
// Matrixing. cos((2i + 1) n pi / 64) is even in n and changes sign from n to
// 64 - n, and vanishes at n = 32; so with n = k - 16 the 64 terms fold into
//   f[0] = Y[16],  f[m] = Y[16 + m] + Y[16 - m]  (m = 1..16),
//   f[m] = Y[16 + m] - Y[80 - m]  (m = 17..31),
// and S[i] = sum over m = 0..31 of f[m] cos((2i + 1) m pi / 64): a 32-point
// DCT-III (kernel.h's dct3). The SIMD kernels take the fold into the window
// (kAnalysisWindow), the scalar one sums Y first, as written here.
#include <synthtab/analysis.h>

#include <cstring>

#include "kernels/kernel.h"

namespace synthtab::kernel {
namespace {

constexpr double kD[512] = {
#include "synthesis_window.inc"
};

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

extern "C" {

void synthtab_analysis_init(synthtab_analysis *a) { std::memset(a, 0, sizeof *a); }

void synthtab_analysis_f64(synthtab_analysis *a, const double *in, ptrdiff_t stride,
                           double subbands[32]) {
  static_assert(sizeof a->priv_history ==
                    (synthtab::kernel::kAPad + 16 * synthtab::kernel::kARow) * sizeof(double),
                "the state holds the history kernel.h describes");
  const unsigned t = (a->priv_newest + 1) & 15;
  a->priv_newest = t;
  synthtab::kernel::active().analysis(a->priv_history, in, stride, subbands, t);
}

}  // extern "C"
