// The portable kernel: plain C++17, one IEEE operation at a time in the
// order written, for any CPU and any conforming compiler. The schemes are in
// kernel.h; this file is their most direct reading.
#include "../window.h"
#include "dispatch.h"

namespace synthtab::kernel::scalar {
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

// One output sample in each format.
inline void put(double *out, double y, std::size_t &) { *out = y; }
inline void put(float *out, double y, std::size_t &) { *out = static_cast<float>(y); }
inline void put(int16_t *out, double y, std::size_t &clipped) {
  *out = static_cast<int16_t>(round_clip<16>(y, clipped));
}

template <class Out>
std::size_t synth(double *h, const double *subbands, Out *out, std::ptrdiff_t stride, unsigned t) {
  double s[32], x[32], y[32];
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
    y[j] = even - odd;
  }
  for (int m = 1; m <= 15; m++) {  // backward: row m against the window reversed
    const double *w = decwin + 32 * m, *r = run + m * kSlots;
    double sum = 0;
    for (unsigned s = 0; s < 16; s++) sum += w[(15 - t - s) & 15] * r[s];
    y[32 - m] = sum;
  }
  std::size_t clipped = 0;
  for (int j = 0; j < 32; j++) put(out + j * stride, y[j], clipped);
  return clipped;
}

}  // namespace

void f64(double *h, const double *subbands, double *out, std::ptrdiff_t stride, unsigned t) {
  synth(h, subbands, out, stride, t);
}
void f32(double *h, const double *subbands, float *out, std::ptrdiff_t stride, unsigned t) {
  synth(h, subbands, out, stride, t);
}
std::size_t s16(double *h, const double *subbands, int16_t *out, std::ptrdiff_t stride,
                unsigned t) {
  return synth(h, subbands, out, stride, t);
}

// The analysis as its definition reads: the windowed sums Y over the ages in
// order, the fold, the DCT-III, then C = D / 32 applied to the result.
void analysis(double *history, const double *in, std::ptrdiff_t stride, double *subbands,
              unsigned t) {
  double *const row = history + kAPad + kARow * t;
  for (int i = 0; i < 32; i++) row[i] = row[32 + 31 - i] = in[i * stride];
  row[32 + 16] = row[31];

  double y[64] = {};
  for (unsigned b = 0; b < 16; b++) {
    const double *x = history + kAPad + kARow * ((t - b) & 15),
                 *c = detail::kSynthesisWindow + 32 * b;
    double *yh = y + 32 * (b & 1);
    for (int r = 0; r < 32; r++) yh[r] += c[r] * x[31 - r];
  }

  double f[32], s[32];
  f[0] = y[16];
  for (int m = 1; m <= 16; m++) f[m] = y[16 + m] + y[16 - m];
  for (int m = 17; m < 32; m++) f[m] = y[16 + m] - y[80 - m];
  dct3<32>(f, s);
  for (int i = 0; i < 32; i++) subbands[i] = s[i] * (1.0 / 32);
}

}  // namespace synthtab::kernel::scalar
