// The NEON kernel: AArch64's Advanced SIMD on pairs of doubles, part of the
// base ISA. Its arithmetic is the two-lane body of pair.h, shared with sse2;
// only the 16-bit conversion is its own, the portable one.
#include "dispatch.h"
#include "pair.h"

namespace synthtab::kernel::neon {
namespace {

struct Neon {
  static constexpr bool kSlotPointers = true;  // see pair.h
  static std::size_t pcm16(const double *y, int16_t *out, std::ptrdiff_t stride) {
    std::size_t clipped = 0;
    SYNTHTAB_UNROLL(32)
    for (int i = 0; i < 32; i++)
      out[i * stride] = static_cast<int16_t>(round_clip<16>(y[i], clipped));
    return clipped;
  }
};
using Body = pair::Body<Neon>;

}  // namespace

SYNTHTAB_PAIR_ENTRIES(Body)

}  // namespace synthtab::kernel::neon
