// The synthtab command-line tool: dispatches to a command and turns errors
// into one line on stderr and an exit code (2 for bad usage, 1 otherwise).
#include <array>
#include <exception>

#include "args.h"
#include "commands.h"

namespace {

using synthtab::cli::Args;

struct Command {
  std::string_view name;
  int (*run)(const Args &args);  // given the arguments after the name
};

// Commands named by the first argument, besides the default.
constexpr std::array<Command, 2> kCommands{
    {{"render", synthtab::cli::run_render}, {"verify", synthtab::cli::run_verify}}};

int dispatch(const Args &args) {
  using namespace synthtab::cli;
  if (args.empty() || args[0].substr(0, 1) == "-") return run_tables(args);
  for (const Command &c : kCommands)
    if (c.name == args[0]) return c.run(Args(args.begin() + 1, args.end()));
  throw UsageError("unknown command " + quote(args[0]) + ": expected render, verify or " +
                   std::string(kTablesSynopsis));
}

}  // namespace

int main(int argc, char **argv) {
  using namespace synthtab::cli;
  try {
    return dispatch(Args(argv + 1, argv + argc));
  } catch (const UsageError &e) {
    report(e.what());
    return 2;
  } catch (const std::exception &e) {
    report(e.what());
    return 1;
  }
}
