// What every kernel shares that is not arithmetic: unrolling and inlining
// marks, and the rounding of a double to a clipped integer. Internal: the
// kernels include no public filterbank header for these.
#ifndef SYNTHTAB_KERNELS_COMMON_H
#define SYNTHTAB_KERNELS_COMMON_H

#include <cmath>
#include <cstddef>
#include <cstdint>

// Loops the kernels want unrolled whatever the optimisation level.
#if defined(__clang__)
#define SYNTHTAB_UNROLL(n) _Pragma("clang loop unroll(full)")
#elif defined(__GNUC__)
#define SYNTHTAB_UNROLL_(x) _Pragma(#x)
#define SYNTHTAB_UNROLL(n) SYNTHTAB_UNROLL_(GCC unroll n)
#else
#define SYNTHTAB_UNROLL(n)
#endif

// Kernel bodies in headers, inlined into each kernel's entry points as
// functions of the kernel's own file would be.
#if defined(__GNUC__)
#define SYNTHTAB_INLINE inline __attribute__((always_inline))
#else
#define SYNTHTAB_INLINE inline
#endif

// Paths kept out of line, so the usual one needs no stack frame.
#if defined(__GNUC__)
#define SYNTHTAB_COLD __attribute__((cold, noinline))
#define SYNTHTAB_NOINLINE __attribute__((noinline))
#else
#define SYNTHTAB_COLD
#define SYNTHTAB_NOINLINE
#endif

// Internal names are hidden: declarations too, so that the library reaches
// its own data without the GOT. Each internal header brackets its
// declarations with these.
#if defined(__GNUC__)
#define SYNTHTAB_HIDDEN_BEGIN _Pragma("GCC visibility push(hidden)")
#define SYNTHTAB_HIDDEN_END _Pragma("GCC visibility pop")
#else
#define SYNTHTAB_HIDDEN_BEGIN
#define SYNTHTAB_HIDDEN_END
#endif

namespace synthtab::kernel {

// x rounded to the nearest integer, halves away from zero, then clipped to a
// signed Bits-bit integer; NaN gives 0. A sample that rounds outside the
// range, or is NaN, adds 1 to clipped. synth.h's public synthtab::round_clip
// is the same definition for callers (synth_test holds the two equal).
template <int Bits>
inline int32_t round_clip(double x, std::size_t &clipped) {
  static_assert(Bits >= 2 && Bits <= 32, "a signed integer of up to 32 bits");
  constexpr double hi = static_cast<double>((int64_t{1} << (Bits - 1)) - 1), lo = -hi - 1;
  // Not std::round: MinGW-w64's gives 1 for 0.49999999999999994. x - trunc(x) is exact.
  double r = std::trunc(x);
  if (std::fabs(x - r) >= 0.5) r += std::copysign(1.0, x);
  if (r >= lo && r <= hi) return static_cast<int32_t>(r);
  clipped++;
  return r > 0 ? static_cast<int32_t>(hi) : r < 0 ? static_cast<int32_t>(lo) : 0;  // NaN: 0
}

}  // namespace synthtab::kernel

#endif  // SYNTHTAB_KERNELS_COMMON_H
