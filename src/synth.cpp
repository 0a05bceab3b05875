// The filterbank's state and the choice of kernel. The arithmetic lives in
// src/kernels/, one file per instruction set; kernel.h documents the scheme
// and the history layout they share.
#include <synthtab/synth.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kernels/kernel.h"

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
    &kScalar,
};

// Null until the first use. Threads that meet it null at once all store the
// same choice, so an atomic pointer (no lock, no guard) is enough.
std::atomic<const Kernel *> current{nullptr};

const Kernel *find(const char *name) {
  if (name)
    for (const Kernel *k : kKernels)
      if (std::strcmp(k->name, name) == 0) return k->supported() ? k : nullptr;
  return nullptr;
}

const Kernel &active() {
  const Kernel *k = current.load(std::memory_order_acquire);
  if (!k) {
    k = find(std::getenv("SYNTHTAB_KERNEL"));
    for (const Kernel *c : kKernels)
      if (!k && c->supported()) k = c;
    current.store(k, std::memory_order_release);
  }
  return *k;
}

constexpr std::size_t kHistory = 2 * kRun;

// The history starts at the first 32-byte boundary inside priv_hist. A state
// copied to an address of another alignment finds its history where the
// original had it, and moves it.
double *history(synthtab_synth *s) {
  const auto addr = reinterpret_cast<std::uintptr_t>(s->priv_hist);
  const auto align = static_cast<uint32_t>((32 - addr % 32) % 32 / sizeof(double));
  if (align != s->priv_align) {
    std::memmove(s->priv_hist + align, s->priv_hist + s->priv_align, kHistory * sizeof(double));
    s->priv_align = align;
  }
  return s->priv_hist + align;
}

// Rebuilds the mirror rows from the forward ones: kernels that skip them
// leave them stale.
void mirror(double *h) {
  for (int r = 0; r < 2; r++)
    for (int m = 1; m < 16; m++)
      for (int s = 0; s < kSlots; s++)
        h[r * kRun + (16 + m) * kSlots + s] = h[r * kRun + m * kSlots + (16 - s) % 16];
}

void block(const Kernel &k, synthtab_synth *s, const double *subbands, double *out) {
  double *const h = history(s);
  if (k.mirror && !s->priv_mirror) mirror(h);
  s->priv_mirror = k.mirror;
  k.synth(h, s->priv_t, subbands, out);
  s->priv_t = (s->priv_t + 1) % 16;
}

}  // namespace
}  // namespace synthtab::kernel

using synthtab::kernel::active;
using synthtab::kernel::block;

void synthtab_synth_init(synthtab_synth *s) { std::memset(s, 0, sizeof *s); }

void synthtab_synth_f64(synthtab_synth *s, const double subbands[32], double *out,
                        ptrdiff_t stride) {
  if (stride == 1) {
    block(active(), s, subbands, out);
    return;
  }
  double y[32];
  block(active(), s, subbands, y);
  for (int i = 0; i < 32; i++) out[i * stride] = y[i];
}

void synthtab_synth_f32(synthtab_synth *s, const double subbands[32], float *out,
                        ptrdiff_t stride) {
  double y[32];
  block(active(), s, subbands, y);
  for (int i = 0; i < 32; i++) out[i * stride] = static_cast<float>(y[i]);
}

size_t synthtab_synth_s16(synthtab_synth *s, const double subbands[32], int16_t *out,
                          ptrdiff_t stride) {
  const synthtab::kernel::Kernel &k = active();
  double y[32];
  block(k, s, subbands, y);
  return k.pcm16(y, out, stride);
}

const char *synthtab_kernel(void) { return active().name; }

int synthtab_use_kernel(const char *name) {
  const synthtab::kernel::Kernel *k = synthtab::kernel::find(name);
  if (!k) return -1;
  synthtab::kernel::current.store(k, std::memory_order_release);
  return 0;
}
