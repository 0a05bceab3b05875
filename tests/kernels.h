// What the filterbank tests share about kernels.
#pragma once

#include <synthtab/synth.h>

#include <string>
#include <vector>

// The kernels this machine runs, asked of the library itself; the one in use
// stays.
inline std::vector<std::string> kernels() {
  const std::string before = synthtab_kernel();
  std::vector<std::string> k;
  for (const char *name : {"scalar", "sse2", "avx2", "neon"})
    if (synthtab_use_kernel(name) == 0) k.push_back(name);
  synthtab_use_kernel(before.c_str());
  return k;
}
