// The synthtab tool's commands, in one table that main() dispatches on and
// that both the help listing and the unknown-command error are made from.
#ifndef SYNTHTAB_TOOLS_COMMANDS_H
#define SYNTHTAB_TOOLS_COMMANDS_H

#include <string>
#include <string_view>

#include "args.h"

namespace synthtab::cli {

int run_tables(const Args &args);  // the default: prints the tables (tables.cpp)
int run_render(const Args &args);  // subbands through the filterbank to audio (render.cpp)
int run_verify(const Args &args);  // the filterbank against the direct form (verify.cpp)
// Audio through the analysis filterbank to subbands (analyze.cpp).
int run_analyze(const Args &args);

struct Command {
  std::string_view name, synopsis, summary;
  int (*run)(const Args &args);  // given the arguments after the name
};

inline constexpr Command kTables{"", "synthtab [--scale N] [--format text|hex|c|c-fixed]",
                                 "prints the tables", run_tables};
inline constexpr Command kCommands[] = {
    {"render",
     "synthtab render [--scale N] [--channels 1|2] [--format f64|wav|flac|aiff|ogg] "
     "[--sample s16|s24|f32] [--rate N] [--fixed] INPUT OUTPUT",
     "subband samples through the synthesis filterbank to audio", run_render},
    {"verify", "synthtab verify [--blocks N] [--fixed]", "the filterbank against the direct-form synthesis",
     run_verify},
    {"analyze", "synthtab analyze [--flush] INPUT OUTPUT",
     "audio through the analysis filterbank to subband samples", run_analyze},
};

// A command's synopsis, by name, for its usage errors.
constexpr std::string_view synopsis_of(std::string_view name) {
  for (const Command &c : kCommands)
    if (c.name == name) return c.synopsis;
  return kTables.synopsis;
}

// Each command's synopsis and summary, for the help.
inline std::string command_list() {
  std::string s;
  for (const Command &c : kCommands)
    s += "  " + std::string(c.synopsis) + "\n      " + std::string(c.summary) + "\n";
  return s;
}

}  // namespace synthtab::cli

#endif  // SYNTHTAB_TOOLS_COMMANDS_H
