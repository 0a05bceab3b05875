// The transposed layout's window (kernel.h), rebuilt from decwin by every
// make_decode_tables() call, which no filterbank call may overlap: readers
// need no check and no lock. Plain copies and negations, so exact.
#include "kernel.h"

namespace synthtab::kernel {

TransposedWindow g_transposed_window;

void transpose_window() {
  for (unsigned c = 0; c < 31; c++) {
    double *col = g_transposed_window.w + 32 * c;
    // decwin against X, not -X; odd ages count negated forwards
    const double sign = c & 1 ? 1.0 : -1.0;
    for (unsigned j = 0; j < 16; j++) col[j] = sign * decwin[32 * (j + 1) + c];
    for (unsigned i = 0; i < 15; i++) col[16 + i] = -decwin[32 * (i + 1) + ((15 - c) & 15)];
    col[31] = 0;
    g_transposed_window.w0[c] = sign * decwin[c];
  }
}

}  // namespace synthtab::kernel
