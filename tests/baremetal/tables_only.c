/* A program that uses <synthtab/tabinit.h> alone (make_decode_tables), for
 * the size figures beside fixed_only.c. */
#include <synthtab/tabinit.h>

int main(void) {
  make_decode_tables(32768);
  return decwin[8] < 0 && pnts[4][0] > 0.7 ? 0 : 1;
}
