// The integer filterbank's state and its kernels. The portable kernel below
// runs the body of kernels/fixed_kernel.h as written, on every CPU; where the
// library's kernel choice (kernels/dispatch.h) has an integer SIMD kernel, it
// gives the same bits faster.
#include <synthtab/fixed.h>

#include "kernels/dispatch.h"
#include "kernels/fixed_kernel.h"

namespace synthtab::fixed {
namespace {

// Window sums: 16 products each, 32 x 32 -> 64-bit multiply-accumulates
// where the CPU has them. Outputs j and 32 - j read the same history row,
// so they are summed together and each history value is loaded once.
inline void dot16x2(const int32_t *w, const int32_t *v, const int32_t *r, int64_t *a, int64_t *b) {
  int64_t x = 0, y = 0;
  SYNTHTAB_UNROLL(16)
  for (int i = 0; i < 16; i++) {
    x += int64_t{w[i]} * r[i];
    y += int64_t{v[i]} * r[i];
  }
  *a = x;
  *b = y;
}

inline int64_t dot16(const int32_t *w, const int32_t *r) {
  int64_t x = 0;
  SYNTHTAB_UNROLL(16)
  for (int i = 0; i < 16; i++) x += int64_t{w[i]} * r[i];
  return x;
}

template <typename T>
size_t block(synthtab_fixed *f, const int32_t *subbands, T *out, ptrdiff_t stride) {
  int32_t s[32], x[32];
  for (int k = 0; k < 32; k++) s[k] = to_dct(subbands[k]);
  dct<32, 0>(s, x);
  const int32_t *run;
  const unsigned t = store(f, x, &run);

  // Output j sums window row j from column t against history row j, output
  // 32 - j window row 32 - j against the same row.
  size_t clipped = 0;
  const int32_t *const w = synthtab_fixed_tab.win[0] + t;
  clipped += put(dot16(w, run), out);
  for (int j = 1; j < 16; j++) {
    int64_t a, b;
    dot16x2(w + 32 * j, w + 32 * (32 - j), run + 16 * j, &a, &b);
    clipped += put(a, out + j * stride) + put(b, out + (32 - j) * stride);
  }
  clipped += put(dot16(w + 32 * 16, run + 16 * 16), out + 16 * stride);
  return clipped;
}

}  // namespace
}  // namespace synthtab::fixed

void synthtab_fixed_init(synthtab_fixed *f) { *f = synthtab_fixed{}; }

// The kernel choice's integer SIMD entries, or the portable kernel.
size_t synthtab_fixed_s16(synthtab_fixed *f, const int32_t subbands[32], int16_t *out,
                          ptrdiff_t stride) {
  using namespace synthtab;
  const kernel::FixedS16 k = kernel::kFixed[kernel::current()].s16;
  return k ? k(f, subbands, out, stride) : fixed::block(f, subbands, out, stride);
}

size_t synthtab_fixed_s32(synthtab_fixed *f, const int32_t subbands[32], int32_t *out,
                          ptrdiff_t stride) {
  using namespace synthtab;
  const kernel::FixedS32 k = kernel::kFixed[kernel::current()].s32;
  return k ? k(f, subbands, out, stride) : fixed::block(f, subbands, out, stride);
}
