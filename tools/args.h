// What the synthtab tool's commands share: reading arguments, quoting them
// in messages, and the two kinds of failure main() turns into an exit code.
#ifndef SYNTHTAB_TOOLS_ARGS_H
#define SYNTHTAB_TOOLS_ARGS_H

#include <cstdint>
#include <initializer_list>
#include <optional>
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
// bytes and bytes that are not UTF-8 become \xNN, so it stays one short line.
std::string quote(std::string_view s);

// s as a decimal int32 (optional sign, digits only) of at least `min`, or a
// UsageError naming opt.
int32_t parse_int32(std::string_view opt, std::string_view s, int64_t min = INT32_MIN);

// The index of s among choices, or a UsageError listing them.
int choose(std::string_view opt, std::string_view s,
           std::initializer_list<std::string_view> choices);

// Walks the arguments front to back; each call consumes the next one when it
// matches and returns what it matched.
class ArgReader {
 public:
  ArgReader(Args args, std::string_view synopsis);  // synopsis: quoted on errors
  bool done() const { return pos_ == args_.size(); }
  // `--opt value` or `--opt=value`; meta names the value when it is missing.
  std::optional<std::string_view> value(std::string_view opt, std::string_view meta);
  bool flag(std::string_view opt);  // `--opt` exactly; `--opt=...` is an error
  bool separator();                 // `--`: every later argument is an operand
  // Anything but an option ("-x..."; a lone "-" is an operand).
  std::optional<std::string_view> operand();
  [[noreturn]] void reject() const;  // an unknown option or a stray operand

 private:
  Args args_;
  std::size_t pos_ = 0;
  bool operands_only_ = false;
  std::string synopsis_;
};

// Writes out to stdout and flushes; an IoError if it does not all arrive.
int write_stdout(std::string_view out);

void report(std::string_view msg);  // "synthtab: <msg>" as one line on stderr

}  // namespace synthtab::cli

#endif  // SYNTHTAB_TOOLS_ARGS_H
