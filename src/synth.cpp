// The filterbank's state: where its history lies, in which kernel's layout,
// and the moves between them. The arithmetic lives in src/kernels/, one file
// per instruction set; kernel.h documents the history layouts and dispatch.h
// the kernel choice.
//
// The state holds no pointer. priv_tag is kSettled + offset * 8 + kernel
// once a block has run: the kernel that ran the latest block and the byte
// offset within priv_hist of its history, the first 32-byte boundary at the
// address the state then had. Without kSettled (zero-filled: silent in every
// layout, wherever it lies) it is fresh. A state that moved (memcpy,
// a file, another process) or meets another kernel is settled before its
// next block: its history moved to this address's boundary and converted to
// this kernel's layout. Every field is read masked, so any bytes make some
// valid state: garbage in, garbage out, and nothing read or written outside
// the state and the caller's buffers.
#include <synthtab/synth.h>

#include <cstdint>
#include <cstring>

#include "kernels/dispatch.h"

namespace synthtab::kernel {
namespace {

static_assert(sizeof(synthtab_synth::priv_hist) >= kRegion * sizeof(double) + 31,
              "the state holds the history at any offset");

// The offset of the history for a state at s: any address works, a double's
// alignment not needed.
inline unsigned offset_of(const synthtab_synth *s) {
  return static_cast<unsigned>(-reinterpret_cast<std::uintptr_t>(s->priv_hist)) & 31;
}

inline double *history(synthtab_synth *s, unsigned offset) {
  return reinterpret_cast<double *>(reinterpret_cast<char *>(s->priv_hist) + offset);
}

// The tag of a state settled for kernel k at offset. Wider than priv_tag, so
// that kNone (not chosen yet) matches no state.
constexpr uint32_t kSettled = 1 << 10;
inline uint64_t tag_for(unsigned k, unsigned offset) { return uint64_t{k} + offset * 8 + kSettled; }

// Rebuilds the mirror rows from the forward ones.
void mirror(double *h) {
  for (int r = 0; r < 2; r++)
    for (int m = 1; m < 16; m++)
      for (int s = 0; s < kSlots; s++)
        h[r * kRun + (16 + m) * kSlots + s] = h[r * kRun + m * kSlots + (16 - s) % 16];
}

// Moves the history between the row layout (with mirror rows) and the
// transposed one, which keeps X rather than -X.
SYNTHTAB_NOINLINE void relayout(double *h, bool to_transposed) {
  double tmp[kRegion] = {};
  for (int r = 0; r < 2; r++)
    for (int s = 0; s < kSlots; s++)
      for (int m = 0; m <= 16; m++) {
        const int row = r * kRun + m * kSlots + s;
        const int col = m ? r * kTRun + s * kTSlot + kTPad + m - 1 : kTRow0 + s;
        if (to_transposed)
          tmp[col] = -h[row];
        else
          tmp[row] = -h[col];
      }
  std::memcpy(h, tmp, (to_transposed ? kTEnd : 2 * kRun) * sizeof(double));
  if (!to_transposed) mirror(h);
}

// Readies s for kernel k at offset (above). Kernels of the plain row layout
// leave the mirror rows stale for the others. A tag naming no kernel reads
// as k's own layout.
SYNTHTAB_COLD void settle(synthtab_synth *s, unsigned k, unsigned offset) {
  const uint32_t tag = s->priv_tag;
  if (tag & kSettled) {
    const unsigned from = tag >> 3 & 31, last = tag & 7;
    char *const base = reinterpret_cast<char *>(s->priv_hist);
    if (from != offset) std::memmove(base + offset, base + from, kRegion * sizeof(double));
    const Layout was = last < kCount ? kLayout[last] : kLayout[k], now = kLayout[k];
    if ((was == Layout::transposed) != (now == Layout::transposed))
      relayout(history(s, offset), now == Layout::transposed);
    else if (was == Layout::rows && now == Layout::mirrored)
      mirror(history(s, offset));
  }
  s->priv_tag = static_cast<uint32_t>(tag_for(k, offset));
}

// The block number, counted on (mod 2^32, a multiple of 16) and read mod 16.
inline unsigned next(synthtab_synth *s) {
  const unsigned t = s->priv_t;
  s->priv_t = t + 1;
  return t & 15;
}

// One block through the kernel's entry for the format (Entry is the
// DoubleEntries array). On the usual path s last ran under the current
// kernel at this offset and the call goes straight on; any other path (first
// block, a move, a kernel switch) is a tail call out of line, so the usual
// one needs no stack frame.
template <auto Entry, class Out>
SYNTHTAB_COLD auto slow(synthtab_synth *s, const double *subbands, Out *out, ptrdiff_t stride) {
  const unsigned k = current(), offset = offset_of(s);
  settle(s, k, offset);
  return (kDouble.*Entry)[k](history(s, offset), subbands, out, stride, next(s));
}

template <auto Entry, class Out>
inline auto run(synthtab_synth *s, const double *subbands, Out *out, ptrdiff_t stride) {
  const unsigned k = g_current.load(std::memory_order_acquire);
  const auto addr = reinterpret_cast<std::uintptr_t>(s->priv_hist);
  const uint32_t tag = s->priv_tag;
  if (tag != tag_for(k, -addr & 31)) return slow<Entry>(s, subbands, out, stride);
  const auto h = reinterpret_cast<double *>((addr + 31) & ~std::uintptr_t{31});
  return (kDouble.*Entry)[k](h, subbands, out, stride, next(s));
}

}  // namespace
}  // namespace synthtab::kernel

using synthtab::kernel::DoubleEntries;
using synthtab::kernel::run;

void synthtab_synth_init(synthtab_synth *s) { std::memset(s, 0, sizeof *s); }

void synthtab_synth_f64(synthtab_synth *s, const double subbands[32], double *out,
                        ptrdiff_t stride) {
  run<&DoubleEntries::f64>(s, subbands, out, stride);
}

void synthtab_synth_f32(synthtab_synth *s, const double subbands[32], float *out,
                        ptrdiff_t stride) {
  run<&DoubleEntries::f32>(s, subbands, out, stride);
}

size_t synthtab_synth_s16(synthtab_synth *s, const double subbands[32], int16_t *out,
                          ptrdiff_t stride) {
  return run<&DoubleEntries::s16>(s, subbands, out, stride);
}
