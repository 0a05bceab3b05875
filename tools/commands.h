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

}  // namespace synthtab::cli

#endif  // SYNTHTAB_TOOLS_COMMANDS_H
