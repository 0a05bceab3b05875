/* What a C decoder checks after linking synthtab: the values the README
 * documents for scale 32768. */
#include <stdio.h>
#include <synthtab/tabinit.h>
#include <synthtab/version.h>

int main(void) {
  make_decode_tables(32768);
  if (pnts[4][0] != 0x1.6a09e667f3bccp-1 || pnts[0][15] != 0x1.46148bea939f3p+3 ||
      decwin[8] != -0x1.251e000168c7p+15 || decwin[24] != decwin[8] ||
      decwin[1] != 0x1.d000080d9594dp+3) {
    fprintf(stderr, "synthtab %s: unexpected table values\n", SYNTHTAB_VERSION_STRING);
    return 1;
  }
  printf("synthtab %s from C: ok\n", SYNTHTAB_VERSION_STRING);
  return 0;
}
