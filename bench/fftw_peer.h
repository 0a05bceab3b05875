// The peer the analysis is measured against: the analysis written
// straightforwardly, its window as a loop over the 16 blocks of history and
// its matrixing as FFTW's DCT-III (REDFT01), Y[k] = X[0] + 2 sum over j >= 1
// of X[j] cos(pi j (2k + 1) / 2n), so the fold's f[j] go in halved. Built
// only where FFTW is installed (SYNTHTAB_HAVE_FFTW).
#pragma once

#include <fftw3.h>

#include <cstddef>
#include <cstring>

namespace synthtab::detail {
extern const double kSynthesisWindow[512];
}

class FftwAnalysis {
 public:
  FftwAnalysis() {
    f_ = fftw_alloc_real(32);
    s_ = fftw_alloc_real(32);
    plan_ = fftw_plan_r2r_1d(32, f_, s_, FFTW_REDFT01, FFTW_MEASURE);
  }
  ~FftwAnalysis() {
    fftw_destroy_plan(plan_);
    fftw_free(f_);
    fftw_free(s_);
  }
  FftwAnalysis(const FftwAnalysis &) = delete;
  FftwAnalysis &operator=(const FftwAnalysis &) = delete;

  __attribute__((noinline)) void analyze(const double *in, double *out, std::ptrdiff_t stride = 1) {
    newest_ = (newest_ + 1) & 15;
    for (int i = 0; i < 32; i++) x_[newest_][i] = in[(31 - i) * stride];
    double y[64] = {};
    for (unsigned b = 0; b < 16; b++) {
      const double *x = x_[(newest_ - b) & 15], *c = synthtab::detail::kSynthesisWindow + 32 * b;
      double *yh = y + 32 * (b & 1);
      for (int r = 0; r < 32; r++) yh[r] += c[r] * x[r];
    }
    constexpr double k = 1.0 / 64;  // the halving and C = D / 32
    f_[0] = y[16] * (2 * k);
    for (int m = 1; m <= 16; m++) f_[m] = (y[16 + m] + y[16 - m]) * k;
    for (int m = 17; m < 32; m++) f_[m] = (y[16 + m] - y[80 - m]) * k;
    fftw_execute(plan_);
    std::memcpy(out, s_, 32 * sizeof(double));
  }

 private:
  double x_[16][32] = {};
  unsigned newest_ = 0;
  double *f_, *s_;
  fftw_plan plan_;
};
