// What the synthtab tool's commands share: reading the command line, quoting
// operands in messages, and the two kinds of failure main() turns into an
// exit code.
#ifndef SYNTHTAB_TOOLS_ARGS_H
#define SYNTHTAB_TOOLS_ARGS_H

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace synthtab::cli {

using Args = std::vector<std::string_view>;  // those after the command name

// A bad command line or bad input: exit 2. what() names the problem and the
// accepted form.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A read, write or rename that failed: exit 1.
struct IoError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// s in single quotes, cut after 64 characters whatever their bytes; control
// bytes (C1 ones too), line separators, bidirectional controls and bytes that
// are not well-formed UTF-8 become \xNN, so it stays one short line that
// cannot move the terminal's cursor or reorder the text around it.
std::string quote(std::string_view s);

// An option a command takes: `--name VALUE` or `--name=VALUE` where meta names
// the value, or a flag when meta is empty.
struct Option {
  std::string_view name, meta;
};

// A command line read against a command's options.
struct Parsed {
  std::map<std::string_view, std::string_view> opts;  // the last value of each
  std::vector<std::string_view> operands;
  bool help = false;  // --help or -h

  bool has(std::string_view name) const { return opts.count(name) > 0; }
  // The value as a decimal int32 (optional sign, digits only) of at least min.
  int32_t number(std::string_view name, int32_t fallback, int64_t min = INT32_MIN) const;
  // The value's index among choices.
  int choice(std::string_view name, std::initializer_list<std::string_view> choices) const;
};

// Reads args; anything not an option is an operand (so is a lone "-", and
// everything after `--`). --help or -h before any `--` gives help alone,
// whatever else the line holds. Throws a UsageError quoting synopsis for an unknown
// option, a missing value, or more than max_operands operands.
Parsed parse(const Args &args, std::initializer_list<Option> options, std::string_view synopsis,
             std::size_t max_operands);

// printf onto out, up to 1 KiB at a time.
template <class... T>
void appendf(std::string &out, const char *fmt, T... args) {
  char buf[1024];
  std::snprintf(buf, sizeof buf, fmt, args...);
  out += buf;
}

// Writes out to stdout and flushes; an IoError if it does not all arrive.
int write_stdout(std::string_view out);

// "synthtab: <msg>" as one line on stderr, anything in msg that quote() would
// escape escaped, whatever its source.
void report(std::string_view msg);

}  // namespace synthtab::cli

#endif  // SYNTHTAB_TOOLS_ARGS_H
