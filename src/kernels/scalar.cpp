// The portable kernel: plain C++17, one IEEE operation at a time in the
// order written, for any CPU and any conforming compiler. The scheme is in
// kernel.h; this file is its most direct reading.
#include <cmath>

#include "kernel.h"

namespace synthtab::kernel {
namespace {

// x[k] = X[k] of in[0..n-1] by halving; stage counts the halvings so far
// (pnts[stage] holds the factors for n points). in is clobbered.
void dct(double *in, int n, int stage, double *x) {
  if (n == 1) {
    x[0] = in[0];
    return;
  }
  const int h = n / 2;
  double sum[16], dif[16], u[16], v[16];
  for (int i = 0; i < h; i++) {
    sum[i] = in[i] + in[n - 1 - i];
    dif[i] = (in[i] - in[n - 1 - i]) * pnts[stage][i];
  }
  dct(sum, h, stage + 1, u);
  dct(dif, h, stage + 1, v);
  for (int k = 0; k < h; k++) {
    x[2 * k] = u[k];
    x[2 * k + 1] = k + 1 < h ? v[k] + v[k + 1] : v[k];
  }
}

void synth(double *h, const double *subbands, double *out, unsigned t) {
  double s[32], x[32];
  for (int k = 0; k < 32; k++) s[k] = subbands[k];
  dct(s, 32, 0, x);

  const unsigned p = t & 1, slot = (16 - t) & 15;
  double *const run = h + p * kRun, *const other = h + (p ^ 1) * kRun;
  other[16 * kSlots + slot] = -x[0];
  for (int n = 1; n < 16; n++) other[(16 - n) * kSlots + slot] = -x[n];
  run[slot] = other[slot] = -x[16];
  for (int n = 17; n < 32; n++) run[(n - 16) * kSlots + slot] = -x[n];

  for (int j = 0; j <= 16; j++) {  // forward: even ages minus odd ages
    const double *w = decwin + 32 * j + t, *r = run + j * kSlots;
    double even = 0, odd = 0;
    for (unsigned s = 0; s < 16; s++) ((s + t) % 2 ? odd : even) += w[s] * r[s];
    out[j] = even - odd;
  }
  for (int m = 1; m <= 15; m++) {  // backward: row m against the window reversed
    const double *w = decwin + 32 * m, *r = run + m * kSlots;
    double sum = 0;
    for (unsigned s = 0; s < 16; s++) sum += w[(15 - t - s) & 15] * r[s];
    out[32 - m] = sum;
  }
}

bool always() { return true; }

}  // namespace

std::size_t pcm16_scalar(const double *in, int16_t *out, std::ptrdiff_t stride) {
  std::size_t clipped = 0;
  for (int i = 0; i < 32; i++) {
    // Halves away from zero, NaN stays NaN. Not std::round: MinGW-w64's gives
    // 1 for 0.49999999999999994. in[i] - trunc(in[i]) is exact.
    double r = std::trunc(in[i]);
    if (std::fabs(in[i] - r) >= 0.5) r += std::copysign(1.0, in[i]);
    if (r >= -32768.0 && r <= 32767.0) {
      out[i * stride] = static_cast<int16_t>(r);
    } else {
      out[i * stride] = r > 0 ? 32767 : r < 0 ? -32768 : 0;  // NaN compares false both ways
      clipped++;
    }
  }
  return clipped;
}

const Kernel kScalar = {"scalar", always, synth, pcm16_scalar, false};

}  // namespace synthtab::kernel
