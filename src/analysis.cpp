// The analysis filterbank's state; the arithmetic runs in the kernel the
// synthesis uses (src/kernels/, the scheme in kernel.h).
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
// (kAnalysisWindow, kernels/analysis_window.cpp), the scalar one sums Y
// first, as written here.
#include <synthtab/analysis.h>

#include <cstring>

#include "kernels/dispatch.h"

namespace synthtab::kernel {
namespace {

// The first block of the process, which chooses the kernel: out of line, so
// the usual path needs no stack frame.
SYNTHTAB_COLD void first(double *history, const double *in, ptrdiff_t stride, double *subbands,
                         unsigned t) {
  kDouble.analysis[current()](history, in, stride, subbands, t);
}

}  // namespace
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
  using namespace synthtab::kernel;
  const unsigned k = g_current.load(std::memory_order_acquire);
  if (k >= kCount) return first(a->priv_history, in, stride, subbands, t);
  kDouble.analysis[k](a->priv_history, in, stride, subbands, t);
}

}  // extern "C"
