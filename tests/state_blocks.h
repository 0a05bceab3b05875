// What the state tests and their child process share: the three
// filterbanks' states as bytes, and fixed input run through them block by
// block, every output format in turn, its output appended as bytes.
#pragma once

#include <synthtab/analysis.h>
#include <synthtab/fixed.h>
#include <synthtab/synth.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

enum class Bank { synth, analysis, fixed };

inline const char *bank_name(Bank b) {
  return b == Bank::synth ? "synth" : b == Bank::analysis ? "analysis" : "fixed";
}

inline std::size_t state_size(Bank b) {
  return b == Bank::synth      ? sizeof(synthtab_synth)
         : b == Bank::analysis ? sizeof(synthtab_analysis)
                               : sizeof(synthtab_fixed);
}

// Block n's 32 input values at the stride, element i at in[i * stride]:
// loud enough that 16-bit output clips now and then.
inline double input(long n, int i) { return 0.9 * std::sin(0.37 * n + 1.3 * i * i + 0.1 * n * i); }

template <class T>
void append(std::string &bytes, const T *v, std::size_t n) {
  bytes.append(reinterpret_cast<const char *>(v), n * sizeof(T));
}

// Runs blocks first .. first + count - 1 through the state at p (any
// bytes), at the stride (out and in sized for exactly that), appending the
// output. The synthesis takes f64, f32 and s16 in turn, the integer
// filterbank s16 and s32.
inline void run_blocks(Bank bank, void *p, long first, long count, std::string &bytes,
                       std::ptrdiff_t stride = 1) {
  const std::size_t span = 31 * static_cast<std::size_t>(stride < 0 ? -stride : stride) + 1;
  const std::ptrdiff_t at = stride < 0 ? static_cast<std::ptrdiff_t>(span) - 1 : 0;
  for (long n = first; n < first + count; n++) {
    double x[32];
    for (int i = 0; i < 32; i++) x[i] = input(n, i);
    if (bank == Bank::synth) {
      auto *s = static_cast<synthtab_synth *>(p);
      if (n % 3 == 0) {
        double *out = new double[span];
        synthtab_synth_f64(s, x, out + at, stride);
        for (int j = 0; j < 32; j++) append(bytes, out + at + j * stride, 1);
        delete[] out;
      } else if (n % 3 == 1) {
        float *out = new float[span];
        synthtab_synth_f32(s, x, out + at, stride);
        for (int j = 0; j < 32; j++) append(bytes, out + at + j * stride, 1);
        delete[] out;
      } else {
        int16_t *out = new int16_t[span];
        const std::size_t clipped = synthtab_synth_s16(s, x, out + at, stride);
        for (int j = 0; j < 32; j++) append(bytes, out + at + j * stride, 1);
        append(bytes, &clipped, 1);
        delete[] out;
      }
    } else if (bank == Bank::analysis) {
      double *in = new double[span], sub[32];
      for (int i = 0; i < 32; i++) in[at + i * stride] = x[i];
      synthtab_analysis_f64(static_cast<synthtab_analysis *>(p), in + at, stride, sub);
      append(bytes, sub, 32);
      delete[] in;
    } else {
      auto *f = static_cast<synthtab_fixed *>(p);
      int32_t sub[32];
      for (int i = 0; i < 32; i++) sub[i] = static_cast<int32_t>(std::lround(x[i] * (1 << 30)));
      std::size_t clipped;
      if (n % 2) {
        int16_t *out = new int16_t[span];
        clipped = synthtab_fixed_s16(f, sub, out + at, stride);
        for (int j = 0; j < 32; j++) append(bytes, out + at + j * stride, 1);
        delete[] out;
      } else {
        int32_t *out = new int32_t[span];
        clipped = synthtab_fixed_s32(f, sub, out + at, stride);
        for (int j = 0; j < 32; j++) append(bytes, out + at + j * stride, 1);
        delete[] out;
      }
      append(bytes, &clipped, 1);
    }
  }
}
