/* The integer filterbank gives the same bits on every CPU: a strict C99
 * program (a decoder's view, no C++ runtime) runs it over fixed input, quiet,
 * loud and clipping, at 16 and 32 bits, and compares a hash of every output
 * sample and clip count with the one value every CPU must give. .ci/cross
 * runs it on each CPU. Exits 0 when the hash matches. */
#include <stdint.h>
#include <stdio.h>
#include <synthtab/fixed.h>

static uint64_t hash = 14695981039346656037u; /* FNV-1a, 64 bits */

static void eat(uint32_t v) {
  for (int b = 0; b < 4; b++) {
    hash ^= (v >> (8 * b)) & 0xff;
    hash *= 1099511628211u;
  }
}

/* Other strides (kernels may take their own path for some) give the same
 * output and count as stride 1, at 16 bits (states 0..2) and 32 (3..5). */
static const ptrdiff_t strides[3] = {2, 3, -1};
static synthtab_fixed by_stride[6];

static int same_by_stride(const int32_t *s, const int16_t *o16, size_t n16, const int32_t *o32,
                          size_t n32) {
  for (int i = 0; i < 3; i++) {
    int16_t w16[96];
    int32_t w32[96];
    const ptrdiff_t st = strides[i], at = st < 0 ? -31 * st : 0;
    if (synthtab_fixed_s16(&by_stride[i], s, w16 + at, st) != n16 ||
        synthtab_fixed_s32(&by_stride[3 + i], s, w32 + at, st) != n32)
      return 0;
    for (int k = 0; k < 32; k++)
      if (w16[at + k * st] != o16[k] || w32[at + k * st] != o32[k]) return 0;
  }
  return 1;
}

int main(void) {
  synthtab_fixed a, b;
  synthtab_fixed_init(&a);
  synthtab_fixed_init(&b);
  for (int i = 0; i < 6; i++) synthtab_fixed_init(&by_stride[i]);
  uint32_t x = 12345;
  for (int n = 0; n < 600; n++) {
    /* Blocks 0..199 at about 1/16 of full input, 200..399 at the whole
     * int32_t range (clipping), 400..599 silent. */
    const int shift = n < 200 ? 4 : 0;
    int32_t s[32];
    int16_t o16[32];
    int32_t o32[32];
    for (int k = 0; k < 32; k++) {
      x = x * 1664525u + 1013904223u;
      s[k] = n < 400 ? (int32_t)(((int64_t)x - 2147483648) / (1 << shift)) : 0;
    }
    const size_t n16 = synthtab_fixed_s16(&a, s, o16, 1), n32 = synthtab_fixed_s32(&b, s, o32, 1);
    eat((uint32_t)n16);
    eat((uint32_t)n32);
    if (!same_by_stride(s, o16, n16, o32, n32)) {
      fprintf(stderr, "fixed_hash: block %d differs at another stride\n", n);
      return 1;
    }
    for (int k = 0; k < 32; k++) {
      eat((uint32_t)(int32_t)o16[k]);
      eat((uint32_t)o32[k]);
    }
  }
  const uint64_t expected = 0xa61e94ebf599d7d6u;
  if (hash != expected) {
    fprintf(stderr, "fixed_hash: integer output hash %016llx, expected %016llx\n",
            (unsigned long long)hash, (unsigned long long)expected);
    return 1;
  }
  printf("fixed_hash: %016llx\n", (unsigned long long)hash);
  return 0;
}
