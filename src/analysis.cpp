// The analysis filterbank. Contract in analysis.h.
//
// History. The 16 blocks that the 512-sample X spans sit in a ring of rows,
// each block newest first, so X[32 b + r] is row (newest - b) mod 16, slot r:
// a block arrives by overwriting the oldest row instead of moving 480
// samples.
//
// Windowing. Y[32 h + r] sums C[32 b + r] X[32 b + r] over the blocks b of
// parity h, oldest last. C is D / 32; the division is a power of two, exact,
// so it is applied once, to the subbands.
//
// Matrixing. cos((2i + 1) n pi / 64) is even in n and changes sign from n to
// 64 - n, and vanishes at n = 32; so with n = k - 16 the 64 terms fold into
//   A[0] = Y[16],  A[m] = Y[16 + m] + Y[16 - m]  (m = 1..16),
//   A[m] = Y[16 + m] - Y[80 - m]  (m = 17..31),
// and S[i] = sum over m = 0..31 of A[m] cos((2i + 1) m pi / 64): a 32-point
// DCT-III, computed by recursive halving (dct3 below).
//
// Every sum is taken in the order written, one IEEE operation at a time, so
// the results are the same on every machine and compiler.
#include <synthtab/analysis.h>

#include <cstring>

namespace synthtab {
namespace detail {
extern const double kSynthesisWindow[512];  // D[i], generated at build time
}  // namespace detail

namespace {

// 1 / (2 cos((2i + 1) pi / (2n))), i = 0..n/2-1, correctly rounded.
constexpr double kFactors32[16] = {
    0x1.004f09436640ep-1, 0x1.02cd16f3ace41p-1, 0x1.07e8b5b5db921p-1, 0x1.0fe4d0830706dp-1,
    0x1.1b306f118428cp-1, 0x1.2a7673c047c11p-1, 0x1.3eb8dc44206e3p-1, 0x1.59807a9b3c085p-1,
    0x1.7d33dbad48054p-1, 0x1.adbf3c99f011bp-1, 0x1.f1f476cd7dae4p-1, 0x1.2b606a5cbb0c6p+0,
    0x1.7bf23658f321ap+0, 0x1.07655e3e0a356p+1, 0x1.b42c833d72df0p+1, 0x1.46148bea939f9p+3};
constexpr double kFactors16[8] = {0x1.013d19c61d971p-1, 0x1.0b84f03ebe15ep-1, 0x1.22467d1065a74p-1,
                                  0x1.4b2c398bbe3c6p-1, 0x1.938900b7d4210p-1, 0x1.0f8892a4eced9p+0,
                                  0x1.b8f24b0406141p+0, 0x1.4679380e538dep+2};
constexpr double kFactors8[4] = {0x1.0503ed17cba53p-1, 0x1.33e37a1e0173ep-1, 0x1.ccc9aefb18d58p-1,
                                 0x1.480d9d073b428p+1};
constexpr double kFactors4[2] = {0x1.1517a7bdb3895p-1, 0x1.4e7ae9144f0fcp+0};
constexpr double kFactors2[1] = {0x1.6a09e667f3bcdp-1};

template <int n>
constexpr const double *factors() {
  if constexpr (n == 32) return kFactors32;
  if constexpr (n == 16) return kFactors16;
  if constexpr (n == 8) return kFactors8;
  if constexpr (n == 4) return kFactors4;
  return kFactors2;
}

// s[i] = sum over m = 0..n-1 of a[m] cos((2i + 1) m pi / (2n)). The even
// terms form the same transform of half the length on a[2p], symmetric about
// the middle (E). For the odd ones, 2 cos(x) cos((2p + 1) x) =
// cos((2p + 2) x) + cos(2p x) with x = (2i + 1) pi / (2n) turns them into the
// half-length transform of b[q] = a[2q - 1] + a[2q + 1] divided by 2 cos(x),
// antisymmetric about the middle (O). Then s[i] = E + O, s[n-1-i] = E - O.
template <int n>
void dct3(const double *a, double *s) {
  if constexpr (n == 1) {
    s[0] = a[0];
  } else {
    constexpr int h = n / 2;
    double even[h], odd[h], e[h], o[h];
    for (int p = 0; p < h; p++) even[p] = a[2 * p];
    odd[0] = a[1];
    for (int q = 1; q < h; q++) odd[q] = a[2 * q - 1] + a[2 * q + 1];
    dct3<h>(even, e);
    dct3<h>(odd, o);
    const double *f = factors<n>();
    for (int i = 0; i < h; i++) {
      const double t = o[i] * f[i];
      s[i] = e[i] + t;
      s[n - 1 - i] = e[i] - t;
    }
  }
}

}  // namespace
}  // namespace synthtab

extern "C" {

void synthtab_analysis_init(synthtab_analysis *a) { std::memset(a, 0, sizeof *a); }

void synthtab_analysis_f64(synthtab_analysis *a, const double *in, ptrdiff_t stride,
                           double subbands[32]) {
  const unsigned t = (a->priv_newest + 1) & 15;
  double *const row = a->priv_history[t];
  for (int r = 0; r < 32; r++) row[r] = in[(31 - r) * stride];
  a->priv_newest = t;

  double y[64] = {};
  for (unsigned b = 0; b < 16; b++) {
    const double *x = a->priv_history[(t - b) & 15],
                 *c = synthtab::detail::kSynthesisWindow + 32 * b;
    double *yh = y + 32 * (b & 1);
    for (int r = 0; r < 32; r++) yh[r] += c[r] * x[r];
  }

  double f[32], s[32];
  f[0] = y[16];
  for (int m = 1; m <= 16; m++) f[m] = y[16 + m] + y[16 - m];
  for (int m = 17; m < 32; m++) f[m] = y[16 + m] - y[80 - m];
  synthtab::dct3<32>(f, s);
  for (int i = 0; i < 32; i++) subbands[i] = s[i] * (1.0 / 32);  // C = D / 32
}

}  // extern "C"
