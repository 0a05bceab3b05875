// The kernel registry: which kernels this build has, which one runs, and each
// kernel's entry points, for every filterbank. The filterbanks (synth.cpp,
// analysis.cpp, fixed.cpp) take their entries from here; the kernels know
// nothing of the filterbanks' states.
//
// A kernel is a small integer, Id, the same in every build and process of a
// library version, so a state may record the kernel that last ran it. The
// entry points sit in two tables indexed by Id, each in an object of its own
// (double_table.cpp, fixed_table.cpp): a program that runs only the integer
// filterbank links the integer kernels alone.
//
// Adding a kernel: an Id and a name here, its CPU check in dispatch.cpp, its
// file, its row in the tables, and a condition in src/CMakeLists.txt (which
// defines SYNTHTAB_KERNEL_<NAME> for the kernels a build has).
#ifndef SYNTHTAB_KERNELS_DISPATCH_H
#define SYNTHTAB_KERNELS_DISPATCH_H

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common.h"
#include "kernel.h"  // Layout and the entry point types

struct synthtab_fixed;

SYNTHTAB_HIDDEN_BEGIN
namespace synthtab::kernel {

enum Id : unsigned { kScalar, kSse2, kAvx2, kNeon, kCount };
inline constexpr const char *kName[kCount] = {"scalar", "sse2", "avx2", "neon"};
inline constexpr Layout kLayout[kCount] = {Layout::rows, Layout::mirrored, Layout::transposed,
                                           Layout::mirrored};

// The kernel in use, kNone until the first filterbank call (or
// synthtab_kernel(), synthtab_use_kernel()) chooses. Threads that meet kNone
// at once all store the same choice, so an atomic (no lock, no guard) is
// enough.
inline constexpr unsigned kNone = ~0u;
extern std::atomic<unsigned> g_current;
unsigned choose();  // from SYNTHTAB_KERNEL or the CPU; stores and returns it

inline unsigned current() {
  const unsigned k = g_current.load(std::memory_order_acquire);
  return k != kNone ? k : choose();
}

// The double filterbanks' entries (kernel.h describes them), one array per
// entry point indexed by kernel (so a call indexes by the id as it is):
// null where the build lacks the kernel. Only a kernel the build has and the
// CPU runs is ever current.
struct DoubleEntries {
  SynthF64 f64[kCount];
  SynthF32 f32[kCount];
  SynthS16 s16[kCount];
  AnalysisF64 analysis[kCount];
};
extern const DoubleEntries kDouble;

// The integer filterbank's SIMD entries; a null row runs the portable kernel
// (fixed.cpp).
using FixedS16 = std::size_t (*)(synthtab_fixed *, const int32_t *, int16_t *, std::ptrdiff_t);
using FixedS32 = std::size_t (*)(synthtab_fixed *, const int32_t *, int32_t *, std::ptrdiff_t);
struct FixedEntries {
  FixedS16 s16;
  FixedS32 s32;
};
extern const FixedEntries kFixed[kCount];

// Each kernel's entry points, defined in its own file.
#define SYNTHTAB_DOUBLE_ENTRIES                                                                \
  void f64(double *h, const double *subbands, double *out, std::ptrdiff_t stride, unsigned t); \
  void f32(double *h, const double *subbands, float *out, std::ptrdiff_t stride, unsigned t);  \
  std::size_t s16(double *h, const double *subbands, int16_t *out, std::ptrdiff_t stride,      \
                  unsigned t);                                                                 \
  void analysis(double *history, const double *in, std::ptrdiff_t stride, double *subbands,    \
                unsigned t);
namespace scalar {
SYNTHTAB_DOUBLE_ENTRIES
}
namespace sse2 {
SYNTHTAB_DOUBLE_ENTRIES
}
namespace avx2 {
SYNTHTAB_DOUBLE_ENTRIES
std::size_t fixed_s16(synthtab_fixed *f, const int32_t *subbands, int16_t *out,
                      std::ptrdiff_t stride);
std::size_t fixed_s32(synthtab_fixed *f, const int32_t *subbands, int32_t *out,
                      std::ptrdiff_t stride);
}  // namespace avx2
namespace neon {
SYNTHTAB_DOUBLE_ENTRIES
}
#undef SYNTHTAB_DOUBLE_ENTRIES

}  // namespace synthtab::kernel
SYNTHTAB_HIDDEN_END

#endif  // SYNTHTAB_KERNELS_DISPATCH_H
