// The integer filterbank's state and the choice of kernel. The portable
// kernel below runs the body of kernels/fixed_kernel.h as written, on every
// CPU; a SIMD kernel, where the library's kernel choice (synth.h) is the
// matching one, gives the same bits faster.
#include <synthtab/fixed.h>

#include "kernels/fixed_kernel.h"

namespace synthtab::fixed {
namespace {

template <typename T>
size_t block(synthtab_fixed *f, const int32_t *subbands, T *out, ptrdiff_t stride) {
  int32_t s[32], x[32];
  for (int k = 0; k < 32; k++) s[k] = to_dct(subbands[k]);
  dct<32, 0>(s, x);
  const int32_t *run;
  const unsigned t = store(f, x, &run);

  int64_t sums[32];
  window_sums(run, t, sums);
  size_t clipped = 0;
  for (int j = 0; j < 32; j++) clipped += put(sums[j], out + j * stride);
  return clipped;
}

const Kernel kPortable = {block<int16_t>, block<int32_t>};

// The integer kernel follows the filterbank's one choice (synthtab_kernel(),
// synthtab_use_kernel(), SYNTHTAB_KERNEL): its AVX2 kernel where that is
// avx2, the portable one under any other.
inline const Kernel &active() {
#if defined(SYNTHTAB_KERNEL_AVX2)
  if (&synthtab::kernel::active() == &synthtab::kernel::kAvx2) return kAvx2;
#endif
  return kPortable;
}

}  // namespace
}  // namespace synthtab::fixed

void synthtab_fixed_init(synthtab_fixed *f) { *f = synthtab_fixed{}; }

size_t synthtab_fixed_s16(synthtab_fixed *f, const int32_t subbands[32], int16_t *out,
                          ptrdiff_t stride) {
  return synthtab::fixed::active().s16(f, subbands, out, stride);
}

size_t synthtab_fixed_s32(synthtab_fixed *f, const int32_t subbands[32], int32_t *out,
                          ptrdiff_t stride) {
  return synthtab::fixed::active().s32(f, subbands, out, stride);
}
