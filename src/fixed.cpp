// The integer filterbank: the scheme of the double kernels (kernels/kernel.h)
// in 32-bit fixed point with 64-bit sums, one portable body for every CPU.
// Integer arithmetic is exact, so every CPU and compiler gives the same bits.
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
#include <synthtab/fixed.h>

#include <climits>
#include <cstdint>

// Loops of 16 or fewer known steps, unrolled where the compiler takes the hint.
#if defined(__GNUC__)
#define SYNTHTAB_UNROLL _Pragma("GCC unroll 16")
#else
#define SYNTHTAB_UNROLL
#endif

namespace {

constexpr int kIn = SYNTHTAB_FIXED_FRAC_BITS;
constexpr int kDct = 24;
const synthtab_fixed_tables &tab = synthtab_fixed_tab;

// x times factor k of the stage, rounded to nearest (halves up).
template <int Stage>
inline int32_t mul(int32_t x, int k) {
  constexpr int q = SYNTHTAB_FIXED_COS_BITS + Stage;
  const int64_t p = int64_t{x} * tab.cos[32 - (32 >> Stage) + k];
  return static_cast<int32_t>((p + (int64_t{1} << (q - 1))) >> q);
}

// x[k] = X[k] of in[0..N-1] by halving, as kernel.h describes: the DCTs of
// the sums and of the scaled differences, interleaved.
template <int N, int Stage>
inline void dct(const int32_t *in, int32_t *x) {
  if constexpr (N == 1) {
    x[0] = in[0];
  } else {
    constexpr int h = N / 2;
    int32_t sum[h], dif[h], u[h], v[h];
    SYNTHTAB_UNROLL
    for (int i = 0; i < h; i++) {
      sum[i] = in[i] + in[N - 1 - i];
      dif[i] = mul<Stage>(in[i] - in[N - 1 - i], i);
    }
    dct<h, Stage + 1>(sum, u);
    dct<h, Stage + 1>(dif, v);
    SYNTHTAB_UNROLL
    for (int k = 0; k < h; k++) {
      x[2 * k] = u[k];
      x[2 * k + 1] = k + 1 < h ? v[k] + v[k + 1] : v[k];
    }
  }
}

// Window sums: 16 products each, 32 x 32 -> 64-bit multiply-accumulates
// where the CPU has them. Outputs j and 32 - j read the same history row,
// so they are summed together and each history value is loaded once.
inline void dot16x2(const int32_t *w, const int32_t *v, const int32_t *r, int64_t *a, int64_t *b) {
  int64_t x = 0, y = 0;
  SYNTHTAB_UNROLL
  for (int i = 0; i < 16; i++) {
    x += int64_t{w[i]} * r[i];
    y += int64_t{v[i]} * r[i];
  }
  *a = x;
  *b = y;
}

inline int64_t dot16(const int32_t *w, const int32_t *r) {
  int64_t x = 0;
  SYNTHTAB_UNROLL
  for (int i = 0; i < 16; i++) x += int64_t{w[i]} * r[i];
  return x;
}

// A window sum (kDct + SYNTHTAB_FIXED_WIN_BITS fraction bits) to the output
// format: rounded, halves away from zero, and clipped. Returns 1 if clipped.
// 16-bit output takes the top word alone (the shift is 39).
inline int put(int64_t acc, int16_t *out) {
  constexpr int shift = kDct + SYNTHTAB_FIXED_WIN_BITS - 15;
  static_assert(shift > 32, "the top word holds the result");
  const int32_t top = static_cast<int32_t>((acc + (int64_t{1} << (shift - 1)) - (acc < 0)) >> 32);
  int32_t r = top >> (shift - 32);
  const int clip = static_cast<uint32_t>(r) + 32768u > 65535u;
  if (clip) r = r < 0 ? -32768 : 32767;
  *out = static_cast<int16_t>(r);
  return clip;
}

inline int put(int64_t acc, int32_t *out) {
  constexpr int shift = kDct + SYNTHTAB_FIXED_WIN_BITS - 31;
  const int64_t r = (acc + (int64_t{1} << (shift - 1)) - (acc < 0)) >> shift;
  if (r > INT32_MAX || r < INT32_MIN) {
    *out = r < 0 ? INT32_MIN : INT32_MAX;
    return 1;
  }
  *out = static_cast<int32_t>(r);
  return 0;
}

template <typename T>
size_t block(synthtab_fixed *f, const int32_t *subbands, T *out, ptrdiff_t stride) {
  int32_t s[32], x[32];
  for (int k = 0; k < 32; k++)  // to kDct fraction bits, rounded, without overflow
    s[k] = ((subbands[k] >> (kIn - kDct - 1)) + 1) >> 1;
  dct<32, 0>(s, x);

  // The history: int32_t h[2][17][16], h[run][row][slot], written as the
  // double kernels write theirs (kernel.h), but X[n] rather than -X[n].
  const unsigned t = f->priv_t & 15, p = t & 1, slot = (16 - t) & 15;
  int32_t *const run = f->priv_hist + p * 17 * 16, *const other = f->priv_hist + (p ^ 1) * 17 * 16;
  other[16 * 16 + slot] = x[0];
  for (int n = 1; n < 16; n++) other[(16 - n) * 16 + slot] = x[n];
  run[slot] = other[slot] = x[16];
  for (int n = 17; n < 32; n++) run[(n - 16) * 16 + slot] = x[n];
  f->priv_t = (t + 1) & 15;

  // Output j sums window row j from column t against history row j, output
  // 32 - j window row 32 - j against the same row.
  size_t clipped = 0;
  const int32_t *const w = tab.win[0] + t;
  clipped += put(dot16(w, run), out);
  for (int j = 1; j < 16; j++) {
    int64_t a, b;
    dot16x2(w + 32 * j, w + 32 * (32 - j), run + 16 * j, &a, &b);
    clipped += put(a, out + j * stride) + put(b, out + (32 - j) * stride);
  }
  clipped += put(dot16(w + 32 * 16, run + 16 * 16), out + 16 * stride);
  return clipped;
}

}  // namespace

void synthtab_fixed_init(synthtab_fixed *f) { *f = synthtab_fixed{}; }

size_t synthtab_fixed_s16(synthtab_fixed *f, const int32_t subbands[32], int16_t *out,
                          ptrdiff_t stride) {
  return block<int16_t>(f, subbands, out, stride);
}

size_t synthtab_fixed_s32(synthtab_fixed *f, const int32_t subbands[32], int32_t *out,
                          ptrdiff_t stride) {
  return block<int32_t>(f, subbands, out, stride);
}
