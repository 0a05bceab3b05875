// The kernel choice and the CPU checks behind it, with the C calls that name
// kernels. No kernel's code is reached from here (dispatch.h).
#include "dispatch.h"

#include <synthtab/export.h>

#include <cstdlib>
#include <cstring>

#if defined(SYNTHTAB_KERNEL_SSE2) || defined(SYNTHTAB_KERNEL_AVX2)
#include <cpuid.h>
#endif

namespace synthtab::kernel {
namespace {

// AVX2 and FMA in the CPU, and YMM state saved by the OS.
[[maybe_unused]] bool has_avx2() {
#if defined(SYNTHTAB_KERNEL_AVX2)
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_FMA) || !(c & bit_AVX) || !(c & bit_OSXSAVE))
    return false;
  unsigned lo, hi;
  __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  if ((lo & 6) != 6) return false;
  return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX2);
#else
  return false;
#endif
}

[[maybe_unused]] bool has_sse2() {
#if defined(__x86_64__)
  return true;  // part of the base ISA
#elif defined(SYNTHTAB_KERNEL_SSE2)
  unsigned a, b, c, d;
  return __get_cpuid(1, &a, &b, &c, &d) && (d & bit_SSE2);
#else
  return false;
#endif
}

// Whether this build has kernel k and this CPU runs it.
bool runs(unsigned k) {
  switch (k) {
    case kScalar:
      return true;
#if defined(SYNTHTAB_KERNEL_SSE2)
    case kSse2:
      return has_sse2();
#endif
#if defined(SYNTHTAB_KERNEL_AVX2)
    case kAvx2:
      return has_avx2();
#endif
#if defined(SYNTHTAB_KERNEL_NEON)
    case kNeon:
      return true;  // Advanced SIMD is part of every AArch64 CPU
#endif
    default:
      return false;
  }
}

// The kernel named, if this machine runs it; kNone otherwise.
unsigned find(const char *name) {
  if (name)
    for (unsigned k = 0; k < kCount; k++)
      if (std::strcmp(kName[k], name) == 0) return runs(k) ? k : kNone;
  return kNone;
}

}  // namespace

std::atomic<unsigned> g_current{kNone};

SYNTHTAB_COLD unsigned choose() {
  static constexpr unsigned kPreferred[] = {kAvx2, kSse2, kNeon, kScalar};
  unsigned k = find(std::getenv("SYNTHTAB_KERNEL"));
  for (unsigned c : kPreferred)
    if (k == kNone && runs(c)) k = c;
  g_current.store(k, std::memory_order_release);
  return k;
}

}  // namespace synthtab::kernel

extern "C" {

SYNTHTAB_API const char *synthtab_kernel(void) {
  return synthtab::kernel::kName[synthtab::kernel::current()];
}

SYNTHTAB_API int synthtab_use_kernel(const char *name) {
  const unsigned k = synthtab::kernel::find(name);
  if (k == synthtab::kernel::kNone) return -1;
  synthtab::kernel::g_current.store(k, std::memory_order_release);
  return 0;
}

}  // extern "C"
