/* A C99 program that knows the library through its header alone: it links
 * only if the names are plain C symbols. Exits 0 when the values are right. */
#include <stdio.h>
#include <synthtab/tabinit.h>

int main(void) {
  int bad = 0;
  make_decode_tables(32768);
  bad |= pnts[4][0] != 0x1.6a09e667f3bccp-1; /* 0.7071067811865475 */
  bad |= dewin[256] != 1.144989014;
  bad |= decwin[8] != -32768 * 1.144989014; /* window position 256 */
  bad |= decwin[1] != 32768 * 0.000442505;  /* window position 32 */
  bad |= decwin[24] != decwin[8];
  if (bad) fprintf(stderr, "c_consumer: unexpected table values\n");
  return bad;
}
