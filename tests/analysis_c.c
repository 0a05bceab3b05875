/* A C99 program using the analysis through its header alone: a sine in the
 * middle of subband 5 must land in subband 5 alone. Exits 0 when it does. */
#include <math.h>
#include <stdio.h>
#include <synthtab/analysis.h>

int main(void) {
  synthtab_analysis a;
  double in[2 * 32], s[32], energy[32] = {0};
  int bad = -1;
  synthtab_analysis_init(&a);
  for (int b = 0; b < 100; b++) {
    for (int i = 0; i < 32; i++) /* left channel only, interleaved with silence */
      in[2 * i] = sin(acos(-1.0) * 5.5 / 32 * (32 * b + i)), in[2 * i + 1] = 0;
    synthtab_analysis_f64(&a, in, 2, s);
    for (int k = 0; k < 32 && b >= 16; k++) energy[k] += s[k] * s[k]; /* past the onset */
  }
  for (int k = 0; k < 32; k++) /* every other band at least 60 dB down */
    if (k != 5 && energy[k] > 1e-6 * energy[5]) bad = k;
  if (bad >= 0) {
    fprintf(stderr, "analysis_c: subband %d holds energy of a sine in subband 5\n", bad);
    return 1;
  }
  return 0;
}
