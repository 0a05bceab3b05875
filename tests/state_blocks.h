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
#include <memory>
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

// Calls write(out) with out sized for exactly 32 values at the stride, and
// appends the 32 it wrote and then the count it returns (clipped samples).
template <class T, class W>
void emit(std::string &bytes, std::ptrdiff_t stride, W write) {
  const std::size_t span = 31 * static_cast<std::size_t>(stride < 0 ? -stride : stride) + 1;
  std::unique_ptr<T[]> out(new T[span]);
  T *at = out.get() + (stride < 0 ? span - 1 : 0);
  const std::size_t clipped = write(at);
  for (int j = 0; j < 32; j++) append(bytes, at + j * stride, 1);
  append(bytes, &clipped, 1);
}

// Runs blocks first .. first + count - 1 through the state at p (any
// bytes), at the stride, appending the output. The synthesis takes f64, f32
// and s16 in turn, the integer filterbank s16 and s32.
inline void run_blocks(Bank bank, void *p, long first, long count, std::string &bytes,
                       std::ptrdiff_t stride = 1) {
  auto *s = static_cast<synthtab_synth *>(p);
  auto *f = static_cast<synthtab_fixed *>(p);
  for (long n = first; n < first + count; n++) {
    double x[32];
    int32_t sub[32];
    for (int i = 0; i < 32; i++) x[i] = input(n, i);
    for (int i = 0; i < 32; i++) sub[i] = static_cast<int32_t>(std::lround(x[i] * (1 << 30)));
    if (bank == Bank::synth && n % 3 == 0)
      emit<double>(bytes, stride,
                   [&](double *o) { return synthtab_synth_f64(s, x, o, stride), 0; });
    else if (bank == Bank::synth && n % 3 == 1)
      emit<float>(bytes, stride, [&](float *o) { return synthtab_synth_f32(s, x, o, stride), 0; });
    else if (bank == Bank::synth)
      emit<int16_t>(bytes, stride, [&](int16_t *o) { return synthtab_synth_s16(s, x, o, stride); });
    else if (bank == Bank::fixed && n % 2)
      emit<int16_t>(bytes, stride,
                    [&](int16_t *o) { return synthtab_fixed_s16(f, sub, o, stride); });
    else if (bank == Bank::fixed)
      emit<int32_t>(bytes, stride,
                    [&](int32_t *o) { return synthtab_fixed_s32(f, sub, o, stride); });
    else  // the analysis reads at the stride and writes 32 subbands
      emit<double>(bytes, stride, [&](double *in) {
        double out[32];
        for (int i = 0; i < 32; i++) in[i * stride] = x[i];
        synthtab_analysis_f64(static_cast<synthtab_analysis *>(p), in, stride, out);
        for (int i = 0; i < 32; i++) in[i * stride] = out[i];
        return 0;
      });
  }
}
