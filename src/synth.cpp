// The filterbank's state and the choice of kernel. The arithmetic lives in
// src/kernels/, one file per instruction set; kernel.h documents the scheme
// and the history layout they share.
#include <synthtab/synth.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "kernels/kernel.h"

// Other paths kept out of line, so the per-block path needs no stack frame.
#if defined(__GNUC__)
#define SYNTHTAB_COLD __attribute__((cold, noinline))
#define SYNTHTAB_NOINLINE __attribute__((noinline))
#else
#define SYNTHTAB_COLD
#define SYNTHTAB_NOINLINE
#endif

namespace synthtab::kernel {
namespace {

// Every kernel of this build, the preferred first.
const Kernel *const kKernels[] = {
#if defined(SYNTHTAB_KERNEL_AVX2)
    &kAvx2,
#endif
#if defined(SYNTHTAB_KERNEL_SSE2)
    &kSse2,
#endif
#if defined(SYNTHTAB_KERNEL_NEON)
    &kNeon,
#endif
    &kScalar,
};

const Kernel *find(const char *name) {
  if (name)
    for (const Kernel *k : kKernels)
      if (std::strcmp(k->name, name) == 0) return k->supported() ? k : nullptr;
  return nullptr;
}

}  // namespace

// Stands for "not chosen yet": no state ever records it as its kernel, so
// the first block of every state takes the slow path, which chooses.
const Kernel kUnchosen = {"", nullptr, Layout::rows, nullptr, nullptr, nullptr, nullptr};

// kUnchosen until the first use. Threads that meet it at once all store the
// same choice, so an atomic pointer (no lock, no guard) is enough.
std::atomic<const Kernel *> current{&kUnchosen};

SYNTHTAB_COLD const Kernel *first_use() {
  const Kernel *k = find(std::getenv("SYNTHTAB_KERNEL"));
  for (const Kernel *c : kKernels)
    if (!k && c->supported()) k = c;
  current.store(k, std::memory_order_release);
  return k;
}

namespace {

static_assert(sizeof(synthtab_synth::priv_hist) >= (kState + 3) * sizeof(double),
              "the state holds the region at any alignment");

// Rebuilds the mirror rows from the forward ones.
void mirror(double *h) {
  for (int r = 0; r < 2; r++)
    for (int m = 1; m < 16; m++)
      for (int s = 0; s < kSlots; s++)
        h[r * kRun + (16 + m) * kSlots + s] = h[r * kRun + m * kSlots + (16 - s) % 16];
}

// Moves the history between the row layout (with mirror rows) and the
// transposed one, which keeps X rather than -X; the window cache is
// invalidated (its key made NaN).
SYNTHTAB_NOINLINE void relayout(double *h, bool to_transposed) {
  double tmp[kTWin > 2 * kRun ? kTWin : 2 * kRun] = {};
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
  std::memcpy(h, tmp, (to_transposed ? kTWin : 2 * kRun) * sizeof(double));
  if (to_transposed)
    h[kTKey] = std::numeric_limits<double>::quiet_NaN();
  else
    mirror(h);
}

// Readies a state that moved or changes kernel. The region starts at the
// first 32-byte boundary inside priv_hist; a state copied to an address of
// another alignment finds it where the original had it, and moves it.
// Kernels of the plain row layout leave the mirror rows stale for the others.
// A zero-filled state is silent and valid: no kernel, nothing stale, and
// a window cache whose key matches no table but an all-zero one.
SYNTHTAB_COLD void settle(const Kernel &k, synthtab_synth *s) {
  const auto addr = reinterpret_cast<std::uintptr_t>(s->priv_hist);
  const auto align = static_cast<uint32_t>((32 - addr % 32) % 32 / sizeof(double));
  if (align != s->priv_align)
    std::memmove(s->priv_hist + align, s->priv_hist + s->priv_align, kState * sizeof(double));
  double *const h = s->priv_hist + align;
  const auto *last = static_cast<const Kernel *>(s->priv_kernel);
  const bool to_t = k.layout == Layout::transposed;
  if (last && (last->layout == Layout::transposed) != to_t)
    relayout(h, to_t);
  else if (last && last->layout == Layout::rows && k.layout == Layout::mirrored)
    mirror(h);
  s->priv_align = align;
  s->priv_self = s;
  s->priv_kernel = &k;
}

// The kernel to run on s, settled first when s moved or last ran another.
SYNTHTAB_COLD const Kernel &settled(synthtab_synth *s) {
  const Kernel &k = active();
  if (s->priv_self != s || s->priv_kernel != &k) settle(k, s);
  return k;
}

inline unsigned next(synthtab_synth *s) {
  const unsigned t = s->priv_t;
  s->priv_t = (t + 1) % 16;
  return t;
}

// One block through the kernel's entry for the format (Entry is the Kernel
// member). On the usual path s last ran under the current kernel and the
// call goes straight on; any other path (first block, a move, a kernel
// switch) is a tail call out of line, so the usual one needs no stack frame.
template <auto Entry, class Out>
SYNTHTAB_COLD auto slow(synthtab_synth *s, const double *subbands, Out *out, ptrdiff_t stride) {
  const Kernel &k = settled(s);  // may move the region: priv_align after it
  return (k.*Entry)(s->priv_hist + s->priv_align, subbands, out, stride, next(s));
}

template <auto Entry, class Out>
inline auto run(synthtab_synth *s, const double *subbands, Out *out, ptrdiff_t stride) {
  const Kernel *k = current.load(std::memory_order_acquire);
  if (s->priv_self != s || s->priv_kernel != k) return slow<Entry>(s, subbands, out, stride);
  return (k->*Entry)(s->priv_hist + s->priv_align, subbands, out, stride, next(s));
}

}  // namespace
}  // namespace synthtab::kernel

using synthtab::kernel::Kernel;
using synthtab::kernel::run;

void synthtab_synth_init(synthtab_synth *s) { std::memset(s, 0, sizeof *s); }

void synthtab_synth_f64(synthtab_synth *s, const double subbands[32], double *out,
                        ptrdiff_t stride) {
  run<&Kernel::f64>(s, subbands, out, stride);
}

void synthtab_synth_f32(synthtab_synth *s, const double subbands[32], float *out,
                        ptrdiff_t stride) {
  run<&Kernel::f32>(s, subbands, out, stride);
}

size_t synthtab_synth_s16(synthtab_synth *s, const double subbands[32], int16_t *out,
                          ptrdiff_t stride) {
  return run<&Kernel::s16>(s, subbands, out, stride);
}

const char *synthtab_kernel(void) { return synthtab::kernel::active().name; }

int synthtab_use_kernel(const char *name) {
  const synthtab::kernel::Kernel *k = synthtab::kernel::find(name);
  if (!k) return -1;
  synthtab::kernel::current.store(k, std::memory_order_release);
  return 0;
}
