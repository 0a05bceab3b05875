/* A program that uses <synthtab/fixed.h> alone, for .ci/baremetal's link
 * check: it must link the integer filterbank and its constant tables and
 * nothing else of the library, and no floating point. */
#include <stdint.h>
#include <synthtab/fixed.h>

static synthtab_fixed state; /* the caller's RAM, not the library's */

int main(void) {
  int32_t s[32];
  int16_t o16[32];
  int32_t o32[32];
  for (int k = 0; k < 32; k++) s[k] = (k - 16) << 24;
  size_t n = synthtab_fixed_s16(&state, s, o16, 1);
  n += synthtab_fixed_s32(&state, s, o32, 1);
  return (int)n + o16[5] + (o32[7] >> 16) != 0 ? 0 : 1;
}
