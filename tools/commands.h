// The synthtab tool's commands. main() runs the one named by the first
// argument when that is not an option, and the tables printer otherwise.
#ifndef SYNTHTAB_TOOLS_COMMANDS_H
#define SYNTHTAB_TOOLS_COMMANDS_H

#include <string_view>

#include "args.h"

namespace synthtab::cli {

// The tables printer's one-line usage, quoted by usage errors.
inline constexpr std::string_view kTablesSynopsis = "synthtab [--scale N] [--format text|hex|c]";

// synthtab [--scale N] [--format text|hex|c]: prints the tables for scale N.
int run_tables(const Args &args);

inline constexpr std::string_view kRenderSynopsis =
    "synthtab render [--scale N] [--channels 1|2] [--format f64|wav] INPUT OUTPUT";
inline constexpr std::string_view kVerifySynopsis = "synthtab verify [--blocks N]";

// Subband samples in, audio out, through the fast filterbank (render.cpp).
int run_render(const Args &args);

// The fast filterbank against the direct form on random input (verify.cpp).
int run_verify(const Args &args);

}  // namespace synthtab::cli

#endif  // SYNTHTAB_TOOLS_COMMANDS_H
