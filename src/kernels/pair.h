// The two-lane body that the sse2 and neon kernels share: arithmetic on pairs
// of doubles through GCC/Clang vector extensions, which each target compiles
// to its own registers (SSE2's xmm, Advanced SIMD's v). A kernel file
// includes this after defining what is its own, and instantiates the entry
// points with it:
//   struct Isa { static std::size_t pcm16(const double *y, int16_t *out,
//                                         std::ptrdiff_t stride);
//                static constexpr bool kSlotPointers; };
// (32 samples to 16-bit PCM as synthtab_synth_s16 defines it; how the
// history stores address their rows, see synth()).
//
// Synthesis (scheme in kernel.h): the mirrored layout, so every output reads
// its history row and its window row forwards, the window from decwin's
// duplicated half at an offset that moves with the block number. The DCT
// keeps only negated values: one halving of a DCT into the DCT U of the sums
// and V of the factor-scaled differences gives X[2k] = U[k],
// X[2k + 1] = V[k] + V[k + 1]. So -X halves into -U and -V, and -V is the DCT
// of the differences taken the other way round: the negation moves down the
// chain of sums alone, costing one sign flip at its end.
//
// Analysis (scheme in kernel.h): two f at a time, each row's products added
// to the f its age feeds, then the 32-point DCT-III as two 16-point ones side
// by side in the lanes.
//
// Each operation is one IEEE operation per lane (the library is built with
// -ffp-contract=off: no fused multiply-adds), and every sum is taken in the
// order written here, so the results do not depend on the compiler or CPU.
#ifndef SYNTHTAB_KERNELS_PAIR_H
#define SYNTHTAB_KERNELS_PAIR_H

#include <cstring>

#include "kernel.h"

namespace synthtab::kernel::pair {

typedef double v2 __attribute__((vector_size(16)));
typedef float f2 __attribute__((vector_size(8)));

SYNTHTAB_INLINE v2 load(const double *p) {  // any alignment
  v2 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

SYNTHTAB_INLINE v2 load16(const double *p) {  // p 16-byte aligned: the history
  return load(static_cast<const double *>(__builtin_assume_aligned(p, 16)));
}

SYNTHTAB_INLINE void store(double *p, v2 v) { std::memcpy(p, &v, sizeof v); }

SYNTHTAB_INLINE v2 splat(double x) { return v2{x, x}; }
SYNTHTAB_INLINE v2 swap(v2 v) { return v2{v[1], v[0]}; }

// One halving step of a DCT on every block of n values in z, run on both lanes
// at once: block [z0 .. z(n-1)] becomes
// [z(i) + z(n-1-i) | (z(i) - z(n-1-i)) * f[i]], i = 0..n/2-1,
// except that block 0 takes its differences the other way round (see
// neg_dct32).
template <int n>
SYNTHTAB_INLINE void halve(v2 *z, const double *f) {
  v2 t[16];
  SYNTHTAB_UNROLL(16)
  for (int b = 0; b < 16; b += n) {
    SYNTHTAB_UNROLL(8)
    for (int i = 0; i < n / 2; i++) {
      const v2 lo = z[b + i], hi = z[b + n - 1 - i];
      t[b + i] = lo + hi;
      t[b + n / 2 + i] = (b == 0 ? hi - lo : lo - hi) * splat(f[i]);
    }
  }
  SYNTHTAB_UNROLL(16)
  for (int i = 0; i < 16; i++) z[i] = t[i];
}

// The inverse bookkeeping: a block [U | V] of the halves' DCTs gives
// X[2k] = U[k] and X[2k + 1] = V[k] + V[k + 1], with V[n/2] = 0.
template <int n>
SYNTHTAB_INLINE void merge(v2 *z) {
  v2 t[16];
  SYNTHTAB_UNROLL(16)
  for (int b = 0; b < 16; b += n) {
    SYNTHTAB_UNROLL(8)
    for (int k = 0; k < n / 2; k++) {
      t[b + 2 * k] = z[b + k];
      t[b + 2 * k + 1] = k + 1 < n / 2 ? z[b + n / 2 + k] + z[b + n / 2 + k + 1] : z[b + n / 2 + k];
    }
  }
  SYNTHTAB_UNROLL(16)
  for (int i = 0; i < 16; i++) z[i] = t[i];
}

// The negated DCT, -X[n] (see the top of this file).
//
// Five halvings (32, 16, 8, 4, 2 points, factors pnts[0..4]) lead to single
// values, their own DCTs; merges lead back. The first halving leaves two
// 16-point DCTs, of the sums and of the differences, both to be negated; they
// run side by side in the two lanes of z. On return z[k] = (-U[k], -V[k]) of
// those two, so -X[2k] = z[k][0] and -X[2k + 1] = z[k][1] + z[k + 1][1].
SYNTHTAB_INLINE void neg_dct32(const double *s, v2 z[16]) {
  const double *f = pnts[0];
  SYNTHTAB_UNROLL(8)
  for (int i = 0; i < 16; i += 2) {
    const v2 lo = load(s + i), rev = swap(load(s + 30 - i));
    const v2 sum = lo + rev, dif = (lo - rev) * load(f + i);
    z[i] = v2{sum[0], dif[0]};
    z[i + 1] = v2{sum[1], dif[1]};
  }
  halve<16>(z, pnts[1]);
  halve<8>(z, pnts[2]);
  halve<4>(z, pnts[3]);
  halve<2>(z, pnts[4]);
  z[0] = -z[0];
  merge<4>(z);
  merge<8>(z);
  merge<16>(z);
}

// Two lanes of w[i] * h[i], i = 0..15, summed in a fixed tree.
SYNTHTAB_INLINE v2 dot16(const double *w, const double *h) {
  v2 p[8];
  SYNTHTAB_UNROLL(8)
  for (int i = 0; i < 8; i++) p[i] = load(w + 2 * i) * load16(h + 2 * i);
  return ((p[0] + p[1]) + (p[2] + p[3])) + ((p[4] + p[5]) + (p[6] + p[7]));
}

// Outputs j and j + 1 to out in each format: doubles and floats here, 16-bit
// PCM gathered for the kernel's own conversion at the end.
template <bool unit>  // stride 1, known at compile time
struct F64 {
  double *out;
  std::ptrdiff_t stride;
  SYNTHTAB_INLINE void put(int j, v2 y) const {
    if (unit) return store(out + j, y);
    out[j * stride] = y[0];
    out[(j + 1) * stride] = y[1];
  }
};
template <bool unit>
struct F32 {
  float *out;
  std::ptrdiff_t stride;
  SYNTHTAB_INLINE void put(int j, v2 y) const {
    const f2 f = __builtin_convertvector(y, f2);
    if (unit) return std::memcpy(out + j, &f, sizeof f), void();
    out[j * stride] = f[0];
    out[(j + 1) * stride] = f[1];
  }
};
struct Gather {
  double *y;
  SYNTHTAB_INLINE void put(int j, v2 v) const { store(y + j, v); }
};

// The 32 outputs from the window rows and the history runs of this block:
// wf, hf the forward ones (row j at wf + 32 j, hf + 16 j), wb, hb the backward
// ones (row m at wb + 32 m, hb + 16 m). A backward run holds exactly the
// terms its output sums: the output is the sum of the lanes. A forward run
// holds -b where its output needs +b, at the odd ages; those sit in lane 1
// of each pair when the block number is even and in lane 0 when it is odd,
// so the output is the difference of the lanes in that order.
template <bool odd, class Sink>
SYNTHTAB_INLINE void window(const double *wf, const double *hf, const double *wb, const double *hb,
                            const Sink &out) {
  const auto fwd = [&](int j) { return dot16(wf + 32 * j, hf + 16 * j); };
  const auto bwd = [&](int m) { return dot16(wb + 32 * m, hb + 16 * m); };
  SYNTHTAB_UNROLL(8)
  for (int j = 0; j < 16; j += 2) {
    const v2 a = fwd(j), b = fwd(j + 1);
    const v2 lane0 = {a[0], b[0]}, lane1 = {a[1], b[1]};
    out.put(j, odd ? lane1 - lane0 : lane0 - lane1);
  }
  const v2 y16 = fwd(16), y17 = bwd(15);
  out.put(16, v2{odd ? y16[1] - y16[0] : y16[0] - y16[1], y17[0] + y17[1]});
  SYNTHTAB_UNROLL(8)
  for (int j = 18; j < 32; j += 2) {
    const v2 a = bwd(32 - j), b = bwd(31 - j);
    out.put(j, v2{a[0], b[0]} + v2{a[1], b[1]});
  }
}

template <bool slot_pointers, class Sink>
SYNTHTAB_INLINE void synth(double *h, const double *subbands, const Sink &out, unsigned t) {
  v2 z[16];
  neg_dct32(subbands, z);

  // Forward rows 0..16 and mirror rows 17..31 of both runs; block t goes to
  // slot -t of the forward rows and slot t of the mirror rows.
  const std::size_t p = t & 1, sf = (16 - t) & 15, sb = t;
  double *const run = h + p * kRun, *const other = h + (p ^ 1) * kRun;
  // With slot_pointers, each store is at a fixed offset from one of four
  // pointers: targets without a scaled index plus offset address (AArch64)
  // then need no address arithmetic per row; x86 prefers the index.
  double *const rf = run + sf, *const rb = run + sb, *const of = other + sf, *const ob = other + sb;
  const auto put = [&](int n, double v) {  // v = -X[n]
    if (slot_pointers) {
      if (n >= 16) rf[16 * (n - 16)] = v;
      if (n > 16) rb[16 * n] = v;
      if (n <= 16) of[16 * (16 - n)] = v;
      if (n >= 1 && n < 16) ob[16 * (32 - n)] = v;
    } else {
      if (n >= 16) run[16 * (n - 16) + sf] = v;
      if (n > 16) run[16 * n + sb] = v;
      if (n <= 16) other[16 * (16 - n) + sf] = v;
      if (n >= 1 && n < 16) other[16 * (32 - n) + sb] = v;
    }
  };
  SYNTHTAB_UNROLL(16)
  for (int k = 0; k < 16; k++) {
    put(2 * k, z[k][0]);
    put(2 * k + 1, k < 15 ? (z[k] + z[k + 1])[1] : z[k][1]);
  }

  // Slot s of a forward row is age (s + t) mod 16, window column s + t;
  // slot s of a mirror row is age (t - s), column 15 - age = s + 15 - t.
  const double *wf = decwin + t, *wb = decwin + ((15 - t) & 15);
  if (p)
    window<true>(wf, run, wb, run + 16 * 16, out);
  else
    window<false>(wf, run, wb, run + 16 * 16, out);
}

// The analysis (kernel.h): the block to row t, the products of each row
// summed into the f of its age's parity (rows of t's parity feed f[0..16]),
// then the DCT-III.
template <bool odd_t>
SYNTHTAB_INLINE void analyze(double *history, const double *in, std::ptrdiff_t stride, double *out,
                             unsigned t) {
  double *const rows = history + kAPad, *const row = rows + kARow * t;
  SYNTHTAB_UNROLL(16)
  for (int i = 0; i < 32; i += 2) {
    const v2 x = stride == 1 ? load(in + i) : v2{in[i * stride], in[(i + 1) * stride]};
    store(row + i, x);
    store(row + 32 + 30 - i, swap(x));
  }
  row[32 + 16] = row[31];

  // lo[i] = f[2i, 2i + 1] and e = (f[16]'s even ages, f[1]'s second terms),
  // hi[i] = f[16 + 2i, 17 + 2i].
  v2 lo[8], hi[8], e;
  const double *const w = kAnalysisWindow.w + kARow * (16 - t);
  SYNTHTAB_UNROLL(16)
  for (int k = 0; k < 16; k++) {
    const double *x = rows + kARow * k, *c = w + kARow * k;
    const bool first = k < 2;
    if ((k & 1) == odd_t) {  // even age
      SYNTHTAB_UNROLL(8)
      for (int i = 0; i < 8; i++) {
        const int g = 8 * (i / 2) + 2 * (i % 2);  // group i / 2, lanes 2 (i % 2) + 0, 1
        const v2 a = load(x + 15 + 2 * i) * load(c + g),
                 b = load(x + 32 + 16 + 2 * i) * load(c + g + 4);
        lo[i] = first ? a : lo[i] + a;
        if (i == 0)
          e = first ? b : e + b;
        else
          lo[i] = lo[i] + b;
      }
    } else {
      SYNTHTAB_UNROLL(8)
      for (int i = 0; i < 8; i++) {
        const int g = 8 * (i / 2) + 2 * (i % 2);
        const v2 a = load(x + 32 + 2 * i) * load(c + g), b = load(x - 1 + 2 * i) * load(c + g + 4);
        hi[i] = (first ? a : hi[i] + a) + b;
      }
    }
  }
  lo[0] = lo[0] + v2{0.0, e[1]};
  hi[0] = hi[0] + v2{e[0], 0.0};

  // The first halving: z[p] = (f[2p], f[2p - 1] + f[2p + 1]), two 16-point
  // DCT-IIIs side by side; then s[i], s[31 - i] = E[i] +- O[i] factor[i].
  v2 z[16], s[16];
  SYNTHTAB_UNROLL(16)
  for (int p = 0; p < 16; p++) {
    const v2 f = p < 8 ? lo[p] : hi[p - 8];
    z[p] = p == 0 ? f : f + v2{0.0, (p - 1 < 8 ? lo[p - 1] : hi[p - 9])[1]};
  }
  dct3<16>(z, s);
  SYNTHTAB_UNROLL(8)
  for (int i = 0; i < 16; i += 2) {
    const v2 ev = {s[i][0], s[i + 1][0]}, od = v2{s[i][1], s[i + 1][1]} * load(kFactors32 + i);
    store(out + i, ev + od);
    store(out + 30 - i, swap(ev - od));
  }
}

// The entry points: stride 1 inlined, any other stride in a function of its
// own, so that each is compiled as if alone.
template <class Isa>
struct Body {
  template <class Sink>
  __attribute__((noinline)) static void strided(double *h, const double *subbands, Sink out,
                                                unsigned t) {
    synth<Isa::kSlotPointers>(h, subbands, out, t);
  }
  SYNTHTAB_INLINE static void f64(double *h, const double *subbands, double *out,
                                  std::ptrdiff_t stride, unsigned t) {
    if (stride != 1) return strided(h, subbands, F64<false>{out, stride}, t);
    synth<Isa::kSlotPointers>(h, subbands, F64<true>{out, 1}, t);
  }
  SYNTHTAB_INLINE static void f32(double *h, const double *subbands, float *out,
                                  std::ptrdiff_t stride, unsigned t) {
    if (stride != 1) return strided(h, subbands, F32<false>{out, stride}, t);
    synth<Isa::kSlotPointers>(h, subbands, F32<true>{out, 1}, t);
  }
  SYNTHTAB_INLINE static std::size_t s16(double *h, const double *subbands, int16_t *out,
                                         std::ptrdiff_t stride, unsigned t) {
    double y[32];
    synth<Isa::kSlotPointers>(h, subbands, Gather{y}, t);
    return Isa::pcm16(y, out, stride);
  }
  SYNTHTAB_INLINE static void analysis(double *history, const double *in, std::ptrdiff_t stride,
                                       double *out, unsigned t) {
    if (t & 1)
      analyze<true>(history, in, stride, out, t);
    else
      analyze<false>(history, in, stride, out, t);
  }
};

}  // namespace synthtab::kernel::pair

// A two-lane kernel's entry points (dispatch.h), in its own namespace, from
// its Body.
#define SYNTHTAB_PAIR_ENTRIES(Body)                                                             \
  void f64(double *h, const double *subbands, double *out, std::ptrdiff_t stride, unsigned t) { \
    Body::f64(h, subbands, out, stride, t);                                                     \
  }                                                                                             \
  void f32(double *h, const double *subbands, float *out, std::ptrdiff_t stride, unsigned t) {  \
    Body::f32(h, subbands, out, stride, t);                                                     \
  }                                                                                             \
  std::size_t s16(double *h, const double *subbands, int16_t *out, std::ptrdiff_t stride,       \
                  unsigned t) {                                                                 \
    return Body::s16(h, subbands, out, stride, t);                                              \
  }                                                                                             \
  void analysis(double *history, const double *in, std::ptrdiff_t stride, double *subbands,     \
                unsigned t) {                                                                   \
    Body::analysis(history, in, stride, subbands, t);                                           \
  }

#endif  // SYNTHTAB_KERNELS_PAIR_H
