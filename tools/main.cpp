// The synthtab command-line tool: runs the command the first argument names
// (the tables printer when it names none) and turns its errors into one line
// on stderr and an exit code: 2 for bad usage or input, 1 for I/O.
#include <exception>

#include "args.h"
#include "commands.h"

int main(int argc, char **argv) {
  using namespace synthtab::cli;
  try {
    const Args args(argv + 1, argv + argc);
    if (args.empty() || args[0].substr(0, 1) == "-") return run_tables(args);
    std::string names;
    for (const Command &c : kCommands) {
      if (c.name == args[0]) return c.run(Args(args.begin() + 1, args.end()));
      names += (names.empty() ? "" : ", ") + std::string(c.name);
    }
    throw UsageError("unknown command " + quote(args[0]) + ": expected " + names + " or " +
                     std::string(kTables.synopsis));
  } catch (const UsageError &e) {
    report(e.what());
    return 2;
  } catch (const std::exception &e) {
    report(e.what());
    return 1;
  }
}
