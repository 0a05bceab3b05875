/* Analysis then synthesis: a generated stereo signal is taken apart into
 * subband samples and rebuilt, as an encoder and a decoder would between
 * them. Prints the delay the two filterbanks add (481 samples) and the
 * signal-to-noise ratio of the rebuilt signal (over 80 dB: the window is
 * close to, not exactly, one of perfect reconstruction).
 *
 * Build: cc -std=c99 roundtrip.c $(pkg-config --cflags --libs synthtab) -lm */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <synthtab/analysis.h>
#include <synthtab/synth.h>

enum { kBlocks = 400, kFrames = 32 * kBlocks, kMaxDelay = 1024 };

/* Two channels, interleaved: a sweep on the left, noise on the right. */
static void generate(double *x) {
  const double pi = acos(-1.0);
  unsigned long seed = 1;
  int i;
  for (i = 0; i < kFrames; i++) {
    seed = seed * 1103515245 + 12345;
    x[2 * i] = 0.5 * sin(pi * 0.4 * i * i / kFrames);
    x[2 * i + 1] = (double)((seed >> 16) & 0x7fff) / 32768 - 0.5;
  }
}

/* The SNR in dB of channel ch of y against that of x, `delay` frames late. */
static double snr_db(const double *x, const double *y, int ch, int delay) {
  double signal = 0, noise = 0;
  int i;
  for (i = 0; i + delay < kFrames; i++) {
    const double d = y[2 * (i + delay) + ch] - x[2 * i + ch];
    signal += x[2 * i + ch] * x[2 * i + ch];
    noise += d * d;
  }
  return 10 * log10(signal / noise);
}

int main(void) {
  double *x = malloc(sizeof(double) * 2 * kFrames), *y = malloc(sizeof(double) * 2 * kFrames);
  synthtab_analysis a[2];
  synthtab_synth s[2];
  double sb[2][32], best = -HUGE_VAL, worst;
  int b, ch, d, delay = 0;
  if (!x || !y) return 1;
  generate(x);

  /* Scale 1: the synthesis gives back the analysis's input at its own level. */
  make_decode_tables(1);
  for (ch = 0; ch < 2; ch++) {
    synthtab_analysis_init(&a[ch]);
    synthtab_synth_init(&s[ch]);
  }
  for (b = 0; b < kBlocks; b++) {
    const size_t at = (size_t)64 * b; /* 32 stereo frames per block */
    for (ch = 0; ch < 2; ch++) {
      synthtab_analysis_f64(&a[ch], x + at + ch, 2, sb[ch]); /* stride 2: one channel */
      /* ... an encoder would quantise sb here, a decoder dequantise it ... */
      synthtab_synth_f64(&s[ch], sb[ch], y + at + ch, 2);
    }
  }

  /* The delay is where the left channel matches best. */
  for (d = 0; d < kMaxDelay; d++) {
    const double snr = snr_db(x, y, 0, d);
    if (snr > best) best = snr, delay = d;
  }
  worst = fmin(snr_db(x, y, 0, delay), snr_db(x, y, 1, delay));
  printf("delay %d samples, SNR %.1f dB (left %.1f, right %.1f)\n", delay, worst,
         snr_db(x, y, 0, delay), snr_db(x, y, 1, delay));
  free(x);
  free(y);
  return worst > 80 ? 0 : 1;
}
