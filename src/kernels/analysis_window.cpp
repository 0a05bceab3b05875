// The SIMD kernels' analysis window, kAnalysisWindow (kernel.h), evaluated
// by the compiler from the standard's window.
#include "../window.h"
#include "kernel.h"

namespace synthtab::kernel {
namespace {

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

