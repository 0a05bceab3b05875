// The standard's 512-tap synthesis window D[0..511], as printed in
// data/synthesis-window.txt: the one declaration the kernels and the
// reference read it through (cmake/SynthesisWindow.cmake generates the
// definition at build time).
#ifndef SYNTHTAB_SRC_WINDOW_H
#define SYNTHTAB_SRC_WINDOW_H

namespace synthtab::detail {

extern const double kSynthesisWindow[512];

// The same values as a constant expression, for tables the compiler builds.
inline constexpr double kSynthesisWindowConst[512] = {
#include "synthesis_window.inc"
};

}  // namespace synthtab::detail

#endif  // SYNTHTAB_SRC_WINDOW_H
