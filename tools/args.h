// Argument helpers shared by the synthtab tool's commands.
//
// A command reads its arguments with an ArgReader and throws UsageError for
// anything it cannot accept; main() turns that into one line on stderr and
// exit code 2. Commands build their whole output in memory and hand it to
// write_stdout(), so a bad command line never leaves partial output behind.
#ifndef SYNTHTAB_TOOLS_ARGS_H
#define SYNTHTAB_TOOLS_ARGS_H

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace synthtab::cli {

// The arguments a command sees: those after the program or command name.
using Args = std::vector<std::string_view>;

// A bad command line. what() names the problem and the accepted form.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// s in single quotes for an error message. Control bytes become \xNN so the
// message stays on one line; long arguments are cut short.
std::string quote(std::string_view s);

// s as a decimal int32: an optional sign and digits, nothing else (no spaces,
// no fraction, no hex). Throws UsageError naming `opt` if s is not one.
int32_t parse_int32(std::string_view opt, std::string_view s);

// Walks the arguments front to back. Each call either consumes the next
// argument (returning what it matched) or leaves it for the next test.
class ArgReader {
 public:
  // synopsis: the command's one-line usage, quoted when an argument is
  // rejected.
  ArgReader(Args args, std::string_view synopsis);

  bool done() const { return pos_ == args_.size(); }

  // Matches `--opt value` or `--opt=value` and returns the value. meta names
  // the value in the message when it is missing (e.g. "N").
  std::optional<std::string_view> value(std::string_view opt, std::string_view meta);

  // Matches `--opt` exactly; `--opt=...` is an error.
  bool flag(std::string_view opt);

  // Consumes `--`, after which every argument is an operand.
  bool separator();

  // Takes the next argument when it is an operand: anything but an option
  // ("-x..."; a lone "-" is an operand), or anything after `--`.
  std::optional<std::string_view> operand();

  // Rejects the next argument: an unknown option or a stray positional one.
  [[noreturn]] void reject() const;

 private:
  Args args_;
  std::size_t pos_ = 0;
  bool operands_only_ = false;
  std::string synopsis_;
};

// Writes out to stdout and flushes. Returns 0, or 1 after reporting the
// failure on stderr: output that did not arrive must not look like success.
int write_stdout(std::string_view out);

// Prints "synthtab: <msg>" as one line on stderr.
void report(std::string_view msg);

}  // namespace synthtab::cli

#endif  // SYNTHTAB_TOOLS_ARGS_H
