/* Runs the integer filterbank for a number of blocks on fixed pseudo-random
 * subbands, for instruction counts (callgrind.sh, qemu_count.sh). C99, so it
 * builds for any CPU with the library alone, bare metal too (fixed_count_m.sh).
 * Prints a checksum so the work cannot be optimised away; "none" runs the
 * same loop without the filterbank, to subtract the driver's own count.
 *   fixed_driver [BLOCKS [s16|s32|none]] */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <synthtab/fixed.h>

int main(int argc, char **argv) {
  const long blocks = argc > 1 ? atol(argv[1]) : 10000;
  const int s32 = argc > 2 && strcmp(argv[2], "s32") == 0;
  const int none = argc > 2 && strcmp(argv[2], "none") == 0;
  if (blocks <= 0 || (argc > 2 && !s32 && !none && strcmp(argv[2], "s16") != 0)) {
    fprintf(stderr, "usage: fixed_driver [BLOCKS > 0 [s16|s32|none]]\n");
    return 2;
  }
  /* Subbands within +-1/16, as synth_driver's: output mostly in range. */
  static int32_t in[64 * 32];
  uint32_t x = 1;
  for (int i = 0; i < 64 * 32; i++) {
    x = x * 1664525u + 1013904223u;
    in[i] = (int32_t)(x >> 4) - (1 << 27);
  }
  synthtab_fixed f;
  synthtab_fixed_init(&f);
  int16_t pcm[32] = {0};
  int32_t out[32];
  long sum = 0;
  for (long b = 0; b < blocks; b++) {
    const int32_t *s = in + 32 * (b % 64);
    if (none) {
      sum += pcm[b % 32] + s[b % 32];
    } else if (s32) {
      sum += (long)synthtab_fixed_s32(&f, s, out, 1);
      sum += out[b % 32] >> 16;
    } else {
      sum += (long)synthtab_fixed_s16(&f, s, pcm, 1);
      sum += pcm[b % 32];
    }
  }
  printf("fixed %s: %ld blocks, checksum %ld\n", none ? "none" : s32 ? "s32" : "s16", blocks, sum);
  return 0;
}
