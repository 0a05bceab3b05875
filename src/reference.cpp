// The direct-form synthesis, one formula per step and nothing shared with the
// fast path: its own cosines, and the window D[0..511] as printed in
// data/synthesis-window.txt (compiled in by cmake/SynthesisWindow.cmake).
#include <synthtab/synth.h>

#include <cmath>
#include <cstring>

#include "window.h"

// N[i][k] = cos((16 + i)(2k + 1) pi / 64), kept in the state so nothing is
// shared. The integer product is reduced mod 128 (a full period) first, so
// no argument exceeds 2 pi.
void synthtab_reference_init(synthtab_reference *r) {
  std::memset(r->priv_v, 0, sizeof r->priv_v);
  const double pi = std::acos(-1.0);
  for (int i = 0; i < 64; i++)
    for (int k = 0; k < 32; k++)
      r->priv_n[32 * i + k] = std::cos(((16 + i) * (2 * k + 1) % 128) * pi / 64);
}

void synthtab_reference_f64(synthtab_reference *r, const double subbands[32], double out[32]) {
  const double *n = r->priv_n, *d = synthtab::detail::kSynthesisWindow;
  double *v = r->priv_v;

  // Shift the V history by 64 and matrix the new block into V[0..63].
  std::memmove(v + 64, v, (1024 - 64) * sizeof(double));
  for (int i = 0; i < 64; i++) {
    double sum = 0.0;
    for (int k = 0; k < 32; k++) sum += n[32 * i + k] * subbands[k];
    v[i] = sum;
  }

  // Build U from V, window it into W.
  double u[512], w[512];
  for (int i = 0; i < 8; i++)
    for (int j = 0; j < 32; j++) {
      u[64 * i + j] = v[128 * i + j];
      u[64 * i + 32 + j] = v[128 * i + 96 + j];
    }
  for (int i = 0; i < 512; i++) w[i] = u[i] * d[i];

  // Sum the 16 windowed values of each output sample.
  for (int j = 0; j < 32; j++) {
    double sum = 0.0;
    for (int i = 0; i < 16; i++) sum += w[j + 32 * i];
    out[j] = sum;
  }
}
