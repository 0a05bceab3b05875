/* A C decoder's view of the filterbank, as strict C99 with no C++ runtime:
 * every kernel this CPU runs writes two channels interleaved (stride 2), and
 * must stay within 1e-12 of a direct form written here from the window data;
 * the f32 and s16 calls must equal their definitions applied to the f64
 * output. Exits 0 when all holds.
 *   synth_consumer WINDOW_DATA_FILE */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <synthtab/synth.h>

static double window[512]; /* D[i], from the data file */
static double cosines[64][32];

static int read_window(const char *path) {
  char line[256];
  int n = 0;
  FILE *f = fopen(path, "r");
  if (!f) return 0;
  while (fgets(line, sizeof line, f)) {
    int i;
    double v;
    if (line[0] == '#' || sscanf(line, "%d %lf", &i, &v) != 2) continue;
    if (i != n || n == 512) break;
    window[n++] = v;
  }
  fclose(f);
  return n == 512;
}

/* The direct form: matrix into V, gather U, window, sum. */
typedef struct {
  double v[1024];
} direct;

static void direct_block(direct *d, const double s[32], double out[32]) {
  double u[512];
  int i, j, k;
  memmove(d->v + 64, d->v, (1024 - 64) * sizeof(double));
  for (i = 0; i < 64; i++) {
    double sum = 0;
    for (k = 0; k < 32; k++) sum += cosines[i][k] * s[k];
    d->v[i] = sum;
  }
  for (i = 0; i < 8; i++)
    for (j = 0; j < 32; j++) {
      u[64 * i + j] = d->v[128 * i + j];
      u[64 * i + 32 + j] = d->v[128 * i + 96 + j];
    }
  for (j = 0; j < 32; j++) {
    double sum = 0;
    for (i = 0; i < 16; i++) sum += u[j + 32 * i] * window[j + 32 * i];
    out[j] = sum;
  }
}

static int16_t pcm16(double x, size_t *clipped) {
  double r = trunc(x); /* halves away from zero (MinGW-w64's round() errs below 0.5) */
  if (fabs(x - r) >= 0.5) r += copysign(1.0, x);
  if (r >= -32768.0 && r <= 32767.0) return (int16_t)r;
  ++*clipped;
  return r > 0 ? 32767 : r < 0 ? -32768 : 0;
}

static double uniform(unsigned long *state) { /* [-1, 1) */
  *state = (*state * 6364136223846793005u + 1442695040888963407u) & 0xffffffffffffffffu;
  return (double)(*state >> 11) / 4503599627370496.0 - 1.0;
}

static int check(const char *name) {
  synthtab_synth f64[2], f32[2], s16[2];
  direct ref[2];
  unsigned long seed = 1;
  double worst = 0, peak = 0;
  size_t clipped = 0;
  int b, ch, j, bad = 0;
  for (ch = 0; ch < 2; ch++) {
    synthtab_synth_init(&f64[ch]);
    synthtab_synth_init(&f32[ch]);
    synthtab_synth_init(&s16[ch]);
    memset(&ref[ch], 0, sizeof ref[ch]);
  }
  for (b = 0; b < 600; b++) {
    double sb[2][32], y[64], z[32];
    float yf[64];
    int16_t pcm[64];
    for (ch = 0; ch < 2; ch++)
      for (j = 0; j < 32; j++) sb[ch][j] = uniform(&seed) * (ch ? 1.0 : 0.5);
    for (ch = 0; ch < 2; ch++) {
      size_t want = 0, got;
      synthtab_synth_f64(&f64[ch], sb[ch], y + ch, 2);
      synthtab_synth_f32(&f32[ch], sb[ch], yf + ch, 2);
      got = synthtab_synth_s16(&s16[ch], sb[ch], pcm + ch, 2);
      direct_block(&ref[ch], sb[ch], z);
      for (j = 0; j < 32; j++) {
        const double x = y[2 * j + ch];
        worst = fmax(worst, fabs(x / 32768 - z[j]));
        peak = fmax(peak, fabs(z[j]));
        bad |= yf[2 * j + ch] != (float)x;
        bad |= pcm[2 * j + ch] != pcm16(x, &want);
      }
      bad |= got != want;
      clipped += got;
    }
  }
  bad |= !(worst <= 1e-12 * fmax(1.0, peak)) || clipped == 0;
  printf("%s: max deviation %.3g at peak %.3g, %lu clipped%s\n", name, worst, peak,
         (unsigned long)clipped, bad ? ": WRONG" : "");
  return bad;
}

int main(int argc, char **argv) {
  static const char *const names[] = {"scalar", "sse2", "avx2", "neon"};
  const double pi = acos(-1.0);
  int i, k, bad = 0, tested = 0;
  if (argc != 2 || !read_window(argv[1])) {
    fprintf(stderr, "usage: synth_consumer WINDOW_DATA_FILE (512 'index value' lines)\n");
    return 2;
  }
  for (i = 0; i < 64; i++)
    for (k = 0; k < 32; k++) cosines[i][k] = cos(((16 + i) * (2 * k + 1) % 128) * pi / 64);
  make_decode_tables(32768);
  for (i = 0; i < 4; i++)
    if (synthtab_use_kernel(names[i]) == 0) {
      tested++;
      bad |= check(names[i]);
    }
  return bad || tested == 0;
}
