// The synthesis tables: five DCT factor tables and the scaled window.
// Layouts and the calling contract are in tabinit.h.
#include <synthtab/tabinit.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(SYNTHTAB_KERNEL_AVX2)
#include "kernels/kernel.h"  // transpose_window
#endif

// Zero until the first call; reached from outside only through pnts.
static double cos64[16], cos32[8], cos16[4], cos8[2], cos4[1];

double *pnts[5] = {cos64, cos32, cos16, cos8, cos4};

double decwin[512 + 32];

// D[0..256] of the standard's synthesis window, with the sign flipped in
// slots 64..127 and 192..255 (odd blocks of 64). Slots 257..511 stay 0.0:
// the second half of the window is the first read backwards.
// clang-format off
const double dewin[512] = {
    /*   0 */   0.000000000, -0.000015259, -0.000015259, -0.000015259, -0.000015259, -0.000015259, -0.000015259, -0.000030518,
    /*   8 */  -0.000030518, -0.000030518, -0.000030518, -0.000045776, -0.000045776, -0.000061035, -0.000061035, -0.000076294,
    /*  16 */  -0.000076294, -0.000091553, -0.000106812, -0.000106812, -0.000122070, -0.000137329, -0.000152588, -0.000167847,
    /*  24 */  -0.000198364, -0.000213623, -0.000244141, -0.000259399, -0.000289917, -0.000320435, -0.000366211, -0.000396729,
    /*  32 */  -0.000442505, -0.000473022, -0.000534058, -0.000579834, -0.000625610, -0.000686646, -0.000747681, -0.000808716,
    /*  40 */  -0.000885010, -0.000961304, -0.001037598, -0.001113892, -0.001205444, -0.001296997, -0.001388550, -0.001480103,
    /*  48 */  -0.001586914, -0.001693726, -0.001785278, -0.001907349, -0.002014160, -0.002120972, -0.002243042, -0.002349854,
    /*  56 */  -0.002456665, -0.002578735, -0.002685547, -0.002792358, -0.002899170, -0.002990723, -0.003082275, -0.003173828,
    /*  64 */  -0.003250122, -0.003326416, -0.003387451, -0.003433228, -0.003463745, -0.003479004, -0.003479004, -0.003463745,
    /*  72 */  -0.003417969, -0.003372192, -0.003280640, -0.003173828, -0.003051758, -0.002883911, -0.002700806, -0.002487183,
    /*  80 */  -0.002227783, -0.001937866, -0.001617432, -0.001266479, -0.000869751, -0.000442505,  0.000030518,  0.000549316,
    /*  88 */   0.001098633,  0.001693726,  0.002334595,  0.003005981,  0.003723145,  0.004486084,  0.005294800,  0.006118774,
    /*  96 */   0.007003784,  0.007919312,  0.008865356,  0.009841919,  0.010848999,  0.011886597,  0.012939453,  0.014022827,
    /* 104 */   0.015121460,  0.016235352,  0.017349243,  0.018463135,  0.019577026,  0.020690918,  0.021789551,  0.022857666,
    /* 112 */   0.023910522,  0.024932861,  0.025909424,  0.026840210,  0.027725220,  0.028533936,  0.029281616,  0.029937744,
    /* 120 */   0.030532837,  0.031005859,  0.031387329,  0.031661987,  0.031814575,  0.031845093,  0.031738281,  0.031478882,
    /* 128 */   0.031082153,  0.030517578,  0.029785156,  0.028884888,  0.027801514,  0.026535034,  0.025085449,  0.023422241,
    /* 136 */   0.021575928,  0.019531250,  0.017257690,  0.014801025,  0.012115479,  0.009231567,  0.006134033,  0.002822876,
    /* 144 */  -0.000686646, -0.004394531, -0.008316040, -0.012420654, -0.016708374, -0.021179199, -0.025817871, -0.030609131,
    /* 152 */  -0.035552979, -0.040634155, -0.045837402, -0.051132202, -0.056533813, -0.061996460, -0.067520142, -0.073059082,
    /* 160 */  -0.078628540, -0.084182739, -0.089706421, -0.095169067, -0.100540161, -0.105819702, -0.110946655, -0.115921021,
    /* 168 */  -0.120697021, -0.125259399, -0.129562378, -0.133590698, -0.137298584, -0.140670776, -0.143676758, -0.146255493,
    /* 176 */  -0.148422241, -0.150115967, -0.151306152, -0.151962280, -0.152069092, -0.151596069, -0.150497437, -0.148773193,
    /* 184 */  -0.146362305, -0.143264771, -0.139450073, -0.134887695, -0.129577637, -0.123474121, -0.116577148, -0.108856201,
    /* 192 */  -0.100311279, -0.090927124, -0.080688477, -0.069595337, -0.057617187, -0.044784546, -0.031082153, -0.016510010,
    /* 200 */  -0.001068115,  0.015228271,  0.032379150,  0.050354004,  0.069168091,  0.088775635,  0.109161377,  0.130310059,
    /* 208 */   0.152206421,  0.174789429,  0.198059082,  0.221984863,  0.246505737,  0.271591187,  0.297210693,  0.323318481,
    /* 216 */   0.349868774,  0.376800537,  0.404083252,  0.431655884,  0.459472656,  0.487472534,  0.515609741,  0.543823242,
    /* 224 */   0.572036743,  0.600219727,  0.628295898,  0.656219482,  0.683914185,  0.711318970,  0.738372803,  0.765029907,
    /* 232 */   0.791213989,  0.816864014,  0.841949463,  0.866363525,  0.890090942,  0.913055420,  0.935195923,  0.956481934,
    /* 240 */   0.976852417,  0.996246338,  1.014617920,  1.031936646,  1.048156738,  1.063217163,  1.077117920,  1.089782715,
    /* 248 */   1.101211548,  1.111373901,  1.120223999,  1.127746582,  1.133926392,  1.138763428,  1.142211914,  1.144287109,
    /* 256 */   1.144989014,
};
// clang-format on

// Every entry is defined by one evaluation: the factors' cosine, doubling and
// reciprocal, and the window's product with the scale, each rounded to a
// 64-bit significand (nearest, ties to even), and the result rounded again to
// double when stored. Where long double is the x87 format that is simply
// long double arithmetic. Elsewhere (binary128, plain double) the same
// roundings are emulated with integers, so every CPU stores the same bits.
// SYNTHTAB_EMULATE_EXTENDED forces the emulation, for testing it on x87.
#if LDBL_MANT_DIG == 64 && !defined(SYNTHTAB_EMULATE_EXTENDED)

namespace {

// The double nearest to pi, widened: (2k + 1) * pi / d is then exact.
constexpr long double kPi = 3.141592653589793;

double factor(int stage, int k) {
  const long double r = 1.0L / (64 >> stage);
  return static_cast<double>(1.0L / (2.0L * std::cos((2 * k + 1) * kPi * r)));
}

double scaled(double w, int64_t a) { return static_cast<double>(w * static_cast<long double>(a)); }

// The x87 unit rounds to its precision control, which need not be 64 bits:
// Windows starts every thread at 53 (a MinGW program's main thread aside),
// and any program may set it. The evaluation sets 64 and restores the
// caller's setting after.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
class ExtendedPrecision {
 public:
  ExtendedPrecision() {
    __asm__ volatile("fnstcw %0" : "=m"(saved_) : : "memory");
    const unsigned short cw = saved_ | 0x300;  // precision control: 64 bits
    __asm__ volatile("fldcw %0" : : "m"(cw) : "memory");
  }
  ~ExtendedPrecision() { __asm__ volatile("fldcw %0" : : "m"(saved_) : "memory"); }

 private:
  unsigned short saved_;
};
#else
struct ExtendedPrecision {};
#endif

}  // namespace

#else

#include "extended.h"

namespace {

using synthtab::extended::Ext;
using synthtab::extended::round53;
using synthtab::extended::round64;

// A normal double as m * 2^e, m a 53-bit integer, and back: every value
// here is normal, so the fields of the format are read and written directly.
uint64_t significand(double x, int *e) {
  uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  *e = static_cast<int>(u >> 52 & 0x7ff) - 1075;
  return (u & ((uint64_t{1} << 52) - 1)) | uint64_t{1} << 52;
}

// The second rounding, to 53 bits, as a double.
double to_double(Ext x) {
  auto [m, e] = round53(x);  // m in [2^52, 2^53]
  if (m >> 53) {
    m >>= 1;
    e++;
  }
  const uint64_t u = (m & ((uint64_t{1} << 52) - 1)) | static_cast<uint64_t>(e + 1075) << 52;
  double d;
  std::memcpy(&d, &u, sizeof d);
  return d;
}

// The factors do not depend on the scale: they are emulated on the first
// call only (calls never overlap, so a plain flag will do).
double factors[31];
bool factors_ready = false;

double factor(int stage, int k) {
  if (!factors_ready) {
    double *f = factors;
    for (int i = 0; i < 5; i++)
      for (int j = 0; j < (16 >> i); j++) *f++ = to_double(synthtab::extended::factor(i, j));
    factors_ready = true;
  }
  return factors[32 - (32 >> stage) + k];  // stage i starts at 16 + 8 + ...
}

// w * a: the exact product of a 53-bit significand and |a| <= 2^31 takes at
// most 85 bits; it is rounded to 64, then to 53.
double scaled(double w, int64_t a) {
  const bool negative = std::signbit(w) != (a < 0);
  const uint64_t ua = a < 0 ? 0 - static_cast<uint64_t>(a) : static_cast<uint64_t>(a);
  if (w == 0 || ua == 0) return negative ? -0.0 : 0.0;
  int e;
  const uint64_t m = significand(w, &e);
  const uint64_t low = (m & 0xffffffff) * ua, high = (m >> 32) * ua;  // ua < 2^32
  const uint64_t lo = low + (high << 32);
  const uint64_t hi = (high >> 32) + (lo < low);
  const double v = to_double(round64(hi, lo, false, e));
  return negative ? -v : v;
}

struct ExtendedPrecision {};  // integers need no precision control

}  // namespace

#endif

void make_decode_tables(int32_t scale) {
  [[maybe_unused]] const ExtendedPrecision extended;
  static double *const own[5] = {cos64, cos32, cos16, cos8, cos4};
  for (int i = 0; i < 5; i++) {
    if (!pnts[i]) pnts[i] = own[i];  // NULL: back to the library's own table
    double *t = pnts[i];             // whatever table the caller left there
    for (int k = 0; k < (16 >> i); k++) t[k] = factor(i, k);
  }

  // The window walk visits positions i = 0..511 in order, reading dewin up to
  // 256 and back down to 1. Position i goes to row i % 32, column i / 32;
  // rows 17..31 are not kept, so the cursor skips them (t >= 528). The sign
  // flips every 64 positions. Negating in 64 bits keeps INT32_MIN defined.
  int64_t a = -static_cast<int64_t>(scale);
  int t = 0;
  for (int i = 0; i < 512; i++) {
    if (t < 512 + 16) decwin[t] = decwin[t + 16] = scaled(dewin[i <= 256 ? i : 512 - i], a);
    if (i % 32 == 31) t -= 1023;
    if (i % 64 == 63) a = -a;
    t += 32;
  }
#if defined(SYNTHTAB_KERNEL_AVX2)
  synthtab::kernel::transpose_window();  // the avx2 kernel's copy of decwin
#endif
}
