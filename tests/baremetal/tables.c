/* The tables on a bare-metal CPU equal the independent construction's: reads
 * expected_tables.bin (written by a native build's MPFR program, read here
 * over semihosting) and checks every factor and window slot for every STEP-th
 * scale and the last. Exits 0 when all are equal.
 *   tables EXPECTED [STEP] */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <synthtab/tabinit.h>

static uint64_t le(const unsigned char *p, int bytes) {
  uint64_t v = 0;
  for (int b = bytes - 1; b >= 0; b--) v = v << 8 | p[b];
  return v;
}

static uint64_t bits(double d) {
  uint64_t u;
  memcpy(&u, &d, sizeof u);
  return u;
}

int main(int argc, char **argv) {
  static unsigned char buf[4 + 17 * 16 * 8];
  FILE *f = argc > 1 ? fopen(argv[1], "rb") : NULL;
  const long step = argc > 2 ? atol(argv[2]) : 1;
  if (!f || step < 1 || fread(buf, 4, 1, f) != 1) {
    fprintf(stderr, "tables: cannot read the expected tables (usage: tables EXPECTED [STEP])\n");
    return 2;
  }
  const uint32_t count = (uint32_t)le(buf, 4);
  uint64_t factor[31];
  for (int i = 0; i < 31; i++) {
    if (fread(buf, 8, 1, f) != 1) return 2;
    factor[i] = le(buf, 8);
  }
  long checked = 0, bad = 0;
  for (uint32_t n = 0; n < count; n++) {
    if (fread(buf, sizeof buf, 1, f) != 1) {
      fprintf(stderr, "tables: expected tables cut short\n");
      return 2;
    }
    if (n % step != 0 && n + 1 != count) continue;
    make_decode_tables((int32_t)(uint32_t)le(buf, 4));
    for (int i = 0, at = 0; i < 5; i++)
      for (int k = 0; k < (16 >> i); k++) bad += bits(pnts[i][k]) != factor[at++];
    for (int m = 0; m < 17; m++)
      for (int g = 0; g < 16; g++) {
        const uint64_t want = le(buf + 4 + 8 * (16 * m + g), 8);
        bad += (bits(decwin[32 * m + g]) != want) + (bits(decwin[32 * m + g + 16]) != want);
      }
    checked++;
  }
  fclose(f);
  printf("tables: %ld of %lu scales checked, %ld entries differ\n", checked, (unsigned long)count, bad);
  return bad != 0;
}
