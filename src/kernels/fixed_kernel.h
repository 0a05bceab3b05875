// The integer filterbank's one algorithm body, shared by its kernels: the
// scheme of the double kernels (kernel.h) in 32-bit fixed point with 64-bit
// sums. fixed.cpp runs it as written on every CPU (the portable kernel, and
// the reference); a SIMD kernel (fixed_avx2.cpp) computes the same integers
// in another order, which integer arithmetic allows: it gives the same bits.
//
// Formats (fraction bits):
//   subbands  SYNTHTAB_FIXED_FRAC_BITS (30)      DCT values   kDct (24)
//   factors   SYNTHTAB_FIXED_COS_BITS + stage    window       SYNTHTAB_FIXED_WIN_BITS (30)
// The DCT runs on the subbands rounded to kDct bits. Every value it forms is
// a linear form of the 32 inputs whose coefficients sum to at most 50.7 in
// magnitude, so with |subband| < 2 none reaches 102 < 2^7: no int32_t of the
// transform can overflow, whatever the input. kDct = 24 is the most that
// leaves; each bit less doubles the error (2^-22.6 of full scale RMS here).
// The window sums are 16 products of such a value (< 2^31) and a window
// value whose 16 magnitudes add up to less than 4 (fixed_tables.cpp checks
// it), so they stay below 2^63. Right shifts of negative values are
// arithmetic, as on every compiler the library supports.
#ifndef SYNTHTAB_FIXED_KERNEL_H
#define SYNTHTAB_FIXED_KERNEL_H

#include <synthtab/fixed.h>

#include <climits>
#include <cstddef>
#include <cstdint>

#include "../extended.h"
#include "common.h"  // SYNTHTAB_UNROLL

namespace synthtab::fixed {

constexpr int kIn = SYNTHTAB_FIXED_FRAC_BITS;
constexpr int kDct = 24;

// Right shifts of a window sum to the s16 and s32 formats.
constexpr int kShift16 = kDct + SYNTHTAB_FIXED_WIN_BITS - 15;
constexpr int kShift32 = kDct + SYNTHTAB_FIXED_WIN_BITS - 31;

// Factor k of stage i as pnts holds it (the 64-bit value rounded to a
// 53-bit double), then rounded to `bits` fraction bits. The factor lies in
// (0.5, 11), so the double is m * 2^e with e + bits < 0.
constexpr int32_t factor(int stage, int k, int bits) {
  const auto [m, e] = extended::round53(extended::factor(stage, k));
  const int shift = -(e + bits);
  return static_cast<int32_t>((m + (uint64_t{1} << (shift - 1))) >> shift);
}

// Thumb-1 (Cortex-M0/M0+/M23) has a 32 x 32 -> 32-bit multiply alone: a
// 64-bit product there is a call to the compiler's helper, so the products
// below are built from 32-bit ones instead, exactly, to the same integers
// (ARMv6 and later: the assembly uses uxth).
#if defined(__thumb__) && !defined(__thumb2__) && __ARM_ARCH >= 6
#define SYNTHTAB_FIXED_MUL32 1

// Its tables (fixed_tables.cpp), in place of synthtab_fixed_tab:
//   cos: the factors;
//   k[j][c]: window value w = win[j][c] as k = its nearest multiple of 2^14
//     over 2^14, |k| < 2^17; w - 2^14 k is 0 but at these:
//   rest: the bytes of the entries where w = 2^14 k + 1, and of those where
//     w = 2^14 k - 1, then the entries, those first: 4 c, 64 h, 8 j for
//     output j reading it at columns c and c + 16 against history row h.
struct Thumb1Tables {
  int32_t cos[31];
  int32_t k[32][32];
  uint32_t rest[2 + 3 * 40];  // the 40 of the window
};
extern const Thumb1Tables kThumb1;
#elif defined(__thumb2__) && defined(__ARM_ARCH_PROFILE) && __ARM_ARCH_PROFILE == 'M'
// ARMv7-M and v8-M Mainline: the window sums and the outputs in assembly
// (fixed_v7m.cpp), the DCT's products by smlal.
#define SYNTHTAB_FIXED_V7M 1

// Its window (fixed_tables.cpp), synthtab_fixed_tab.win laid out for it:
// pairs[j - 1][c] = rows j and 32 - j at column c (j = 1..15), which one
// history row serves; single[0] and [1] = rows 0 and 16.
struct V7mWindow {
  int32_t pairs[15][32][2];
  int32_t single[2][32];
};
extern const V7mWindow kV7mWin;
#endif

#if defined(SYNTHTAB_FIXED_V7M)
// ARMv7-M: factor c (q fraction bits) as C = c 2^(32 - q) = m 2^32 + lo, m
// the nearest integer (1 to 10), lo signed. Then (x c + 2^(q-1)) >> q =
// (x lo + x m 2^32 + 2^31) >> 32: one smlal onto x m, which the compiler
// forms from shifts and adds (m is a constant once the DCT is unrolled), and
// 2^31.
struct V7mFactors {
  int32_t lo[31];
  int32_t m[31];
};
inline constexpr V7mFactors kV7mCos = [] {
  V7mFactors t{};
  for (int i = 0, at = 0; i < 5; i++)
    for (int k = 0; k < (16 >> i); k++, at++) {
      const int64_t c = int64_t{factor(i, k, SYNTHTAB_FIXED_COS_BITS + i)}
                        << (32 - SYNTHTAB_FIXED_COS_BITS - i);
      t.m[at] = static_cast<int32_t>((c + (int64_t{1} << 31)) >> 32);
      t.lo[at] = static_cast<int32_t>(c - (int64_t{t.m[at]} << 32));
    }
  return t;
}();
#endif

#if defined(SYNTHTAB_FIXED_MUL32)
// (x c + 2^(q-1)) >> q for c > 0, from 16-bit halves (ch and cl unsigned):
// hi:lo = xh ch 2^32 + (xh cl + xl ch) 2^16 + xl cl, each product exact, the
// rounding 2^(q-1) added as 2^(q-17) to xl ch (below 2^31 with it). In
// assembly: C spends twice the instructions on the carries.
template <int q>
inline int32_t mul_round(int32_t x, int32_t c) {
  static_assert(q >= 17 && q < 32, "the rounding joins xl ch");
  int32_t xl, cl, lo, t;
  __asm__(
      ".syntax unified\n\t"
      "uxth %[xl], %[x]\n\t"
      "asrs %[x], %[x], #16\n\t"
      "uxth %[cl], %[c]\n\t"
      "lsrs %[c], %[c], #16\n\t"
      "movs %[lo], %[xl]\n\t"
      "muls %[lo], %[cl]\n\t"         // xl cl
      "muls %[cl], %[x]\n\t"          // xh cl
      "muls %[xl], %[c]\n\t"          // xl ch
      "muls %[c], %[x]\n\t"           // xh ch: the top word
      "movs %[t], #1\n\t"
      "lsls %[t], %[t], %[r]\n\t"
      "adds %[xl], %[xl], %[t]\n\t"   // + 2^(q-17)
      "lsls %[t], %[cl], #16\n\t"
      "asrs %[cl], %[cl], #16\n\t"
      "adds %[lo], %[lo], %[t]\n\t"
      "adcs %[c], %[cl]\n\t"
      "lsls %[t], %[xl], #16\n\t"
      "lsrs %[xl], %[xl], #16\n\t"
      "adds %[lo], %[lo], %[t]\n\t"
      "adcs %[c], %[xl]\n\t"
      "lsrs %[lo], %[lo], %[q]\n\t"
      "lsls %[c], %[c], %[p]\n\t"
      "orrs %[c], %[lo]"
      : [x] "+l"(x), [c] "+l"(c), [xl] "=&l"(xl), [cl] "=&l"(cl), [lo] "=&l"(lo), [t] "=&l"(t)
      : [r] "i"(q - 17), [q] "i"(q), [p] "i"(32 - q)
      : "cc");
  return c;
}
#endif

// x times factor k of the stage, rounded to nearest (halves up).
template <int Stage>
inline int32_t mul(int32_t x, int k) {
  constexpr int q = SYNTHTAB_FIXED_COS_BITS + Stage;
#if defined(SYNTHTAB_FIXED_MUL32)
  return mul_round<q>(x, kThumb1.cos[32 - (32 >> Stage) + k]);
#elif defined(SYNTHTAB_FIXED_V7M)
  static_assert(q <= 32);
  const int at = 32 - (32 >> Stage) + k;
  // hi:lo = x m 2^32 + 2^31, += x lo: one smlal.
  uint32_t lo;
  if (kV7mCos.m[at] == 1) {  // most of them: x itself
    __asm__("mov %0, #0x80000000\n\tsmlal %0, %1, %1, %2"
            : "=&r"(lo), "+r"(x)
            : "r"(kV7mCos.lo[at]));
    return x;
  }
  auto hi = static_cast<int32_t>(static_cast<uint32_t>(x) * static_cast<uint32_t>(kV7mCos.m[at]));
  __asm__("mov %0, #0x80000000\n\tsmlal %0, %1, %2, %3"
          : "=&r"(lo), "+r"(hi)
          : "r"(x), "r"(kV7mCos.lo[at]));
  return hi;
#else
  const int32_t c = synthtab_fixed_tab.cos[32 - (32 >> Stage) + k];
  const int64_t p = int64_t{x} * c;
  return static_cast<int32_t>((p + (int64_t{1} << (q - 1))) >> q);
#endif
}

// A subband sample rounded to kDct fraction bits, without overflow.
inline int32_t to_dct(int32_t s) { return ((s >> (kIn - kDct - 1)) + 1) >> 1; }

// ARMv7-M with GCC: scheduling before register allocation lengthens the
// DCT's live ranges past its 13 registers; without it, fewer spills (about
// 2 instructions a sample fewer on a Cortex-M3).
#if defined(SYNTHTAB_FIXED_V7M) && defined(__GNUC__) && !defined(__clang__)
#pragma GCC push_options
#pragma GCC optimize("no-schedule-insns")
#define SYNTHTAB_FIXED_POP_OPTIONS 1
#endif

// X[n] = v into an array, or through a function object out(n, v).
inline void set(int32_t *x, int n, int32_t v) { x[n] = v; }
template <typename Out>
inline void set(const Out &out, int n, int32_t v) {
  out(n, v);
}

// x[k] = X[k] of in[0..N-1] by halving, as kernel.h describes: the DCTs of
// the sums and of the scaled differences, interleaved. Round: in[] are
// subband samples, rounded to kDct bits here (to_dct).
template <int N, int Stage, bool Round = false, typename Out = int32_t *>
inline void dct(const int32_t *in, Out x);

// ARMv7-M: DCTs up to this size inlined into their caller keep their values
// in registers rather than passing them through memory.
#if defined(SYNTHTAB_FIXED_V7M)
constexpr int kDctInline = 8;
#else
constexpr int kDctInline = 0;
#endif

template <int N, int Stage, bool Round = false, typename Out = int32_t *>
SYNTHTAB_INLINE void dct_body(const int32_t *in, Out x) {
  if constexpr (N == 1) {
    set(x, 0, in[0]);
  } else {
    constexpr int h = N / 2;
    int32_t sum[h], dif[h], u[h], v[h];
#if defined(SYNTHTAB_FIXED_V7M)
    // to_dct() as (s >> 5) + 1, one add with 1 in a register, then >> 1.
    int32_t one = 1;
    if constexpr (Round) __asm__("" : "+r"(one));
    const auto round = [one](int32_t s) { return ((s >> (kIn - kDct - 1)) + one) >> 1; };
#else
    const auto round = to_dct;
#endif
    SYNTHTAB_UNROLL(16)
    for (int i = 0; i < h; i++) {
      const int32_t a = Round ? round(in[i]) : in[i],
                    b = Round ? round(in[N - 1 - i]) : in[N - 1 - i];
      sum[i] = a + b;
      dif[i] = mul<Stage>(a - b, i);
    }
    if constexpr (h <= kDctInline) {
      dct_body<h, Stage + 1>(sum, u);
      dct_body<h, Stage + 1>(dif, v);
    } else {
      dct<h, Stage + 1>(sum, u);
      dct<h, Stage + 1>(dif, v);
    }
    SYNTHTAB_UNROLL(16)
    for (int k = 0; k < h; k++) {
      set(x, 2 * k, u[k]);
      set(x, 2 * k + 1, k + 1 < h ? v[k] + v[k + 1] : v[k]);
    }
  }
}

template <int N, int Stage, bool Round, typename Out>
inline void dct(const int32_t *in, Out x) {
  dct_body<N, Stage, Round>(in, x);
}

#if defined(SYNTHTAB_FIXED_POP_OPTIONS)
#pragma GCC pop_options
#undef SYNTHTAB_FIXED_POP_OPTIONS
#endif

// The history: int32_t h[2][17][16], h[run][row][slot], written as the
// double kernels write theirs (kernel.h), but X[n] rather than -X[n].
// History(f)(n, X[n]) for n = 0..31 stores the block; next() advances the
// state and returns the block number t (mod 16), the window's first column;
// run() is the run whose rows the window sums read.
struct History {
  unsigned t, slot;
  int32_t *r, *other;  // the runs, each at the slot
  synthtab_fixed *f;
  explicit History(synthtab_fixed *state)
      : t(state->priv_t & 15),
        slot((16 - t) & 15),
        r(state->priv_hist + (t & 1) * 17 * 16 + slot),
        other(state->priv_hist + ((t & 1) ^ 1) * 17 * 16 + slot),
        f(state) {}
  void operator()(int n, int32_t v) const {
    if (n < 16) {
      other[(16 - n) * 16] = v;  // row 16 for n = 0
    } else {
      r[(n - 16) * 16] = v;
      if (n == 16) other[0] = v;
    }
  }
  const int32_t *run() const { return r - slot; }
  unsigned next() const {
    f->priv_t = (t + 1) & 15;
    return t;
  }
};

// Stores the block's X[0..31] from x; returns t and sets *run.
inline unsigned store(synthtab_fixed *f, const int32_t *x, const int32_t **run) {
  const History h(f);
  SYNTHTAB_UNROLL(32)
  for (int n = 0; n < 32; n++) h(n, x[n]);
  *run = h.run();
  return h.next();
}

// Output j (0..31) of the block sums window row j from column t against
// history row j for j <= 16, row 32 - j for j > 16 (tables in fixed.h):
// 16 products each, 32 x 32 -> 64-bit multiply-accumulates where the CPU has
// them. Outputs j and 32 - j read the same history row, so they are summed
// together and each history value is loaded once.
#if defined(SYNTHTAB_FIXED_V7M)
extern "C" void synthtab_fixed_window_v7m(const int32_t *pairs, const int32_t *run, int64_t *sums,
                                          const int32_t *single);

// The 32 window sums of a block, s[j] for output j.
inline void window_sums(const int32_t *run, unsigned t, int64_t *s) {
  synthtab_fixed_window_v7m(kV7mWin.pairs[0][t], run, s, kV7mWin.single[0] + t);
}
#elif !defined(SYNTHTAB_FIXED_MUL32)
// The 32 window sums of a block, s[j] for output j.
inline void window_sums(const int32_t *run, unsigned t, int64_t *s) {
  const int32_t *const w = synthtab_fixed_tab.win[0] + t;
  for (int j = 0; j <= 16; j++) {
    const int32_t *const a = w + 32 * j, *const b = w + 32 * (32 - j), *const r = run + 16 * j;
    int64_t x = 0, y = 0;
    SYNTHTAB_UNROLL(16)
    for (int i = 0; i < 16; i++) {
      x += int64_t{a[i]} * r[i];
      if (j % 16) y += int64_t{b[i]} * r[i];  // rows 0 and 16 serve one output
    }
    s[j] = x;
    if (j % 16) s[32 - j] = y;
  }
}
#endif

#if defined(SYNTHTAB_FIXED_MUL32)
// With 32-bit products alone. A window value is w = 2^14 k + d (kThumb1),
// |k| < 2^17, d nearly always 0, so the sum is 2^14 T + D, T = sum of x k,
// D = sum of x d. A history value |x| < 2^31 splits as x = xh 2^18 + xl,
// xl in [0, 2^18), and T = V 2^18 + U with
//   V = sum xh k, exact in 32 bits: |xh| < 2^13 against sum |k| < 2^18
//       (the window sums' bound, fixed_tables.cpp);
//   U = sum xl k, up to 2^39, kept mod 2^32, and recovered from
//   E = sum xl (k >> 8), exact (below 2^29): U - 2^8 E = sum xl (k & 255)
//       lies in [0, 2^31), so it is (U - 2^8 E) mod 2^32.
// Three multiplies and three adds a product, no carries. fixed_thumb1.cpp
// forms V, E and U and from them 2^14 T for every output; D is added here.
extern "C" void synthtab_fixed_window_thumb1(const int32_t *k, const int32_t *run, int64_t *sums);

extern "C" void synthtab_fixed_rest_thumb1(const uint32_t *rest, const int32_t *run, int64_t *sums,
                                           unsigned t);

inline void window_sums(const int32_t *run, unsigned t, int64_t *s) {
  synthtab_fixed_window_thumb1(kThumb1.k[0] + t, run, s);
  synthtab_fixed_rest_thumb1(kThumb1.rest, run, s, t);
}
#endif

// On 32-bit CPUs put() works in 32-bit halves, which compilers handle better.
#if SIZE_MAX <= UINT32_MAX
#define SYNTHTAB_FIXED_HALVES 1
#endif

// A window sum (kDct + SYNTHTAB_FIXED_WIN_BITS fraction bits) to the output
// format: rounded, halves away from zero, and clipped. Returns 1 if clipped.
// 16-bit output takes the top word alone (the shift is 39).
inline int put(int64_t acc, int16_t *out) {
  static_assert(kShift16 > 32, "the top word holds the result");
#if defined(SYNTHTAB_FIXED_HALVES)
  // In 32-bit halves: subtracting 1 borrows from the top word when the low one is 0.
  const auto hi = static_cast<int32_t>(acc >> 32);
  const int32_t top = hi + (1 << (kShift16 - 33)) - (hi < 0 && static_cast<uint32_t>(acc) == 0);
#else
  const int32_t top =
      static_cast<int32_t>((acc + (int64_t{1} << (kShift16 - 1)) - (acc < 0)) >> 32);
#endif
  int32_t r = top >> (kShift16 - 32);
  const int clip = static_cast<uint32_t>(r) + 32768u > 65535u;
  if (clip) r = r < 0 ? -32768 : 32767;
  *out = static_cast<int16_t>(r);
  return clip;
}

inline int put(int64_t acc, int32_t *out) {
#if defined(SYNTHTAB_FIXED_HALVES)
  // In 32-bit halves: the rounded sum's top word must lie in [-2^22, 2^22).
  const auto lo = static_cast<uint32_t>(acc);
  const auto top = static_cast<int32_t>(acc >> 32);
  const uint32_t add = (uint32_t{1} << (kShift32 - 1)) + static_cast<uint32_t>(top >> 31);
  const uint32_t sum = lo + add;
  const int32_t hi = top + (sum < add);
  if (static_cast<uint32_t>(hi) + (1u << (kShift32 - 1)) >= (1u << kShift32)) {
    *out = hi < 0 ? INT32_MIN : INT32_MAX;
    return 1;
  }
  *out = static_cast<int32_t>((static_cast<uint32_t>(hi) << (32 - kShift32)) | (sum >> kShift32));
  return 0;
#else
  const int64_t r = (acc + (int64_t{1} << (kShift32 - 1)) - (acc < 0)) >> kShift32;
  if (r > INT32_MAX || r < INT32_MIN) {
    *out = r < 0 ? INT32_MIN : INT32_MAX;
    return 1;
  }
  *out = static_cast<int32_t>(r);
  return 0;
#endif
}

// The 32 outputs of a block from its window sums; returns how many clipped.
#if defined(SYNTHTAB_FIXED_V7M)
extern "C" size_t synthtab_fixed_put16_v7m(const int64_t *sums, int16_t *out, ptrdiff_t stride);
extern "C" size_t synthtab_fixed_put32_v7m(const int64_t *sums, int32_t *out, ptrdiff_t stride);

// ARMv7-M and v8-M Mainline, in assembly (fixed_v7m.cpp): the rounding in
// 64 bits, the clip by ssat or a check of the top word.
inline size_t put_all(const int64_t *sums, int16_t *out, ptrdiff_t stride) {
  return synthtab_fixed_put16_v7m(sums, out, stride);
}

inline size_t put_all(const int64_t *sums, int32_t *out, ptrdiff_t stride) {
  return synthtab_fixed_put32_v7m(sums, out, stride);
}
#else
template <typename T>
size_t put_all(const int64_t *sums, T *out, ptrdiff_t stride) {
  size_t clipped = 0;
  for (int j = 0; j < 32; j++) clipped += put(sums[j], out + j * stride);
  return clipped;
}
#endif

}  // namespace synthtab::fixed

#endif  // SYNTHTAB_FIXED_KERNEL_H
