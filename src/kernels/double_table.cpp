// The double filterbanks' entries of every kernel this build has (dispatch.h).
#include "dispatch.h"

namespace synthtab::kernel {

#if defined(SYNTHTAB_KERNEL_SSE2)
#define SSE2(entry) sse2::entry
#else
#define SSE2(entry) nullptr
#endif
#if defined(SYNTHTAB_KERNEL_AVX2)
#define AVX2(entry) avx2::entry
#else
#define AVX2(entry) nullptr
#endif
#if defined(SYNTHTAB_KERNEL_NEON)
#define NEON(entry) neon::entry
#else
#define NEON(entry) nullptr
#endif
#define ROW(entry) \
  { scalar::entry, SSE2(entry), AVX2(entry), NEON(entry) }

const DoubleEntries kDouble = {ROW(f64), ROW(f32), ROW(s16), ROW(analysis)};

}  // namespace synthtab::kernel
