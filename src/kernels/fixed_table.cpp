// The integer filterbank's SIMD entries (dispatch.h); in its own object so
// that a program running the integer filterbank alone links no double kernel.
#include "dispatch.h"

namespace synthtab::kernel {

const FixedEntries kFixed[kCount] = {
    {},  // scalar: the portable kernel
    {},  // sse2: the portable kernel
#if defined(SYNTHTAB_KERNEL_AVX2)
    {avx2::fixed_s16, avx2::fixed_s32},
#else
    {},
#endif
    {},  // neon: the portable kernel
};

}  // namespace synthtab::kernel
