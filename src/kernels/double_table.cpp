// The double filterbanks' entries of every kernel this build has (dispatch.h).
#include "dispatch.h"

namespace synthtab::kernel {

const DoubleEntries kDouble[kCount] = {
    {scalar::f64, scalar::f32, scalar::s16, scalar::analysis},
#if defined(SYNTHTAB_KERNEL_SSE2)
    {sse2::f64, sse2::f32, sse2::s16, sse2::analysis},
#else
    {},
#endif
#if defined(SYNTHTAB_KERNEL_AVX2)
    {avx2::f64, avx2::f32, avx2::s16, avx2::analysis},
#else
    {},
#endif
#if defined(SYNTHTAB_KERNEL_NEON)
    {neon::f64, neon::f32, neon::s16, neon::analysis},
#else
    {},
#endif
};

}  // namespace synthtab::kernel
