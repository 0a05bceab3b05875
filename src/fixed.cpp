// The integer filterbank's state and its kernels. The portable kernel below
// runs the body of kernels/fixed_kernel.h as written, on every CPU; where the
// library's kernel choice (kernels/dispatch.h) has an integer SIMD kernel, it
// gives the same bits faster.
#include <synthtab/fixed.h>

#include "kernels/dispatch.h"
#include "kernels/fixed_kernel.h"

namespace synthtab::fixed {
namespace {

template <typename T>
size_t block(synthtab_fixed *f, const int32_t *subbands, T *out, ptrdiff_t stride) {
  int64_t sums[32];
#if defined(SYNTHTAB_FIXED_V7M)
  // The DCT reads the subbands and writes the history itself.
  const History h(f);
  dct<32, 0, true, const History &>(subbands, h);
  const int32_t *const run = h.run();
  const unsigned t = h.next();
#else
  int32_t s[32], x[32];
  for (int k = 0; k < 32; k++) s[k] = to_dct(subbands[k]);
  dct<32, 0>(s, x);
  const int32_t *run;
  const unsigned t = store(f, x, &run);
#endif
  window_sums(run, t, sums);
  return put_all(sums, out, stride);
}

}  // namespace
}  // namespace synthtab::fixed

void synthtab_fixed_init(synthtab_fixed *f) { *f = synthtab_fixed{}; }

// The kernel choice's integer SIMD entries, or the portable kernel. Only
// avx2 has integer entries (fixed_table.cpp): a build without it, bare metal
// above all, runs the portable kernel without consulting the choice, so a
// program using the integer filterbank alone links no registry and no library
// data in RAM (.ci/baremetal checks it).
size_t synthtab_fixed_s16(synthtab_fixed *f, const int32_t subbands[32], int16_t *out,
                          ptrdiff_t stride) {
  using namespace synthtab;
#if defined(SYNTHTAB_KERNEL_AVX2)
  const kernel::FixedS16 k = kernel::kFixed[kernel::current()].s16;
  if (k) return k(f, subbands, out, stride);
#endif
  return fixed::block(f, subbands, out, stride);
}

size_t synthtab_fixed_s32(synthtab_fixed *f, const int32_t subbands[32], int32_t *out,
                          ptrdiff_t stride) {
  using namespace synthtab;
#if defined(SYNTHTAB_KERNEL_AVX2)
  const kernel::FixedS32 k = kernel::kFixed[kernel::current()].s32;
  if (k) return k(f, subbands, out, stride);
#endif
  return fixed::block(f, subbands, out, stride);
}
