// Runs the synthtab tool as a separate process and checks what it prints, on
// which stream, and its exit code.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <synthtab/tabinit.h>
#include <synthtab/version.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Outcome {
  int status = -1;  // exit code, or 128 + signal
  std::string out, err;
};

// Runs the tool with args; stdout goes to stdout_path when one is given.
Outcome run(const std::vector<std::string>& args, const char* stdout_path = nullptr) {
  Outcome r;
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return r;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (stdout_path)
    posix_spawn_file_actions_addopen(&fa, 1, stdout_path, O_WRONLY, 0);
  else
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  for (int fd : {out[0], out[1], err[0], err[1]}) posix_spawn_file_actions_addclose(&fa, fd);

  std::vector<char*> argv{const_cast<char*>(SYNTHTAB_CLI)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  const int rc = posix_spawn(&pid, SYNTHTAB_CLI, &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(out[1]);
  close(err[1]);
  if (rc != 0) {
    ADD_FAILURE() << "posix_spawn: " << std::strerror(rc);
    close(out[0]);
    close(err[0]);
    return r;
  }
  // Drain both pipes together so neither can fill up and stall the tool.
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  for (int open = 2; open > 0;) {
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; i++) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, n);
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        open--;
      }
    }
  }
  int ws = 0;
  waitpid(pid, &ws, 0);
  r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
  return r;
}

std::vector<std::string> lines(const std::string& s) {
  std::vector<std::string> v;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

bool starts(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

// The live tables after make_decode_tables(scale), keyed by the tool's names.
std::map<std::string, std::vector<double>> live(int32_t scale) {
  make_decode_tables(scale);
  std::map<std::string, std::vector<double>> t;
  for (int i = 0; i < 5; i++)
    t["cos" + std::to_string(64 >> i)].assign(pnts[i], pnts[i] + (16 >> i));
  t["decwin"].assign(decwin, decwin + 544);
  return t;
}

TEST(CliFormats, TextLabelsEveryStageAndRowWithTheLiveValues) {
  const Outcome r = run({});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  auto t = live(32768);
  std::vector<double> want;
  for (const char* name : {"cos64", "cos32", "cos16", "cos8", "cos4", "decwin"})
    want.insert(want.end(), t[name].begin(), t[name].end());

  int stages = 0, rows = 0;
  std::vector<double> got;
  for (const std::string& l : lines(r.out)) {
    EXPECT_LE(l.size(), 80u) << l;
    stages += starts(l, "stage ");
    rows += starts(l, "row ");
    if (!starts(l, "  [")) continue;
    std::istringstream values(l.substr(l.find(']') + 1));
    for (std::string v; values >> v;) got.push_back(std::strtod(v.c_str(), nullptr));
  }
  EXPECT_EQ(stages, 5);
  EXPECT_EQ(rows, 17);
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); i++)
    EXPECT_NEAR(got[i], want[i], 1e-9 * std::fabs(want[i])) << "value " << i;
}

// Each hex line must read back as exactly the live entry, sign of zero too.
TEST(CliFormats, HexReadsBackBitForBit) {
  struct Case {
    std::vector<std::string> args;
    int32_t scale;
  };
  const std::vector<Case> cases = {
      {{"--format", "hex"}, 32768},
      {{"--format=hex", "--scale=-2147483648"}, INT32_MIN},
      {{"--scale", "-1", "--format", "hex"}, -1},
      {{"--format", "hex", "--scale", "0"}, 0},  // every window entry a zero, some of them -0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scale);
    const Outcome r = run(c.args);
    ASSERT_EQ(r.status, 0) << r.err;
    auto t = live(c.scale);
    std::size_t seen = 0;
    for (const std::string& l : lines(r.out)) {
      const std::size_t open = l.find('['), space = l.find(' ');
      ASSERT_TRUE(open != std::string::npos && space != std::string::npos) << l;
      const std::string name = l.substr(0, open), lit = l.substr(space + 1);
      const std::size_t k = std::stoul(l.substr(open + 1));
      ASSERT_TRUE(t.count(name) && k < t[name].size()) << l;
      char* end;
      const double v = std::strtod(lit.c_str(), &end);
      EXPECT_EQ(*end, '\0') << l;
      EXPECT_EQ(std::memcmp(&v, &t[name][k], sizeof v), 0) << l << " vs " << t[name][k];
      if (v == 0 && std::signbit(v)) {
        EXPECT_EQ(lit, "-0x0p+0");
      }
      seen++;
    }
    EXPECT_EQ(seen, 31u + 544u);
  }
}

TEST(CliFormats, CSourceStatesItsScale) {
  const Outcome r = run({"--format=c", "--scale=-7"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("scale -7"), std::string::npos);
  EXPECT_NE(r.out.find("const double *const synthtab_rom_pnts[5]"), std::string::npos);
}

TEST(CliInfo, HelpAndVersion) {
  for (const char* opt : {"--help", "-h"}) {
    const Outcome r = run({"--scale", "5", opt});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(starts(r.out, "usage: synthtab ")) << r.out;
    EXPECT_EQ(r.err, "");
  }
  const Outcome r = run({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "synthtab " SYNTHTAB_VERSION_STRING "\n");
  EXPECT_EQ(r.err, "");
}

TEST(CliArgs, SpellingsOfTheSameRequestAgree) {
  const std::vector<std::vector<std::string>> same = {
      {"--scale", "-5", "--format", "hex"},
      {"--format=hex", "--scale=-5"},
      {"--scale=7", "--format", "c", "--format=hex", "--scale", "-005"},  // the last one counts
  };
  const std::string want = run(same[0]).out;
  ASSERT_FALSE(want.empty());
  for (const auto& args : same) EXPECT_EQ(run(args).out, want) << args[0];
  EXPECT_EQ(run({"--scale=+5"}).out, run({"--scale", "5"}).out);
  EXPECT_EQ(run({"--scale", "2147483647"}).status, 0);
}

TEST(CliArgs, BadInputGetsOneLineExitTwoAndNoOutput) {
  struct Case {
    std::vector<std::string> args;
    std::string named;  // what the message must mention
  };
  const std::vector<Case> cases = {
      {{"--scale", "abc"}, "'abc'"},
      {{"--scale=12x"}, "'12x'"},
      {{"--scale", "1.5"}, "'1.5'"},
      {{"--scale", " 12"}, "' 12'"},
      {{"--scale", "0x10"}, "'0x10'"},
      {{"--scale", ""}, "''"},
      {{"--scale="}, "''"},
      {{"--scale", "+-5"}, "'+-5'"},
      {{"--scale", "2147483648"}, "'2147483648'"},
      {{"--scale", "-2147483649"}, "'-2147483649'"},
      {{"--scale", "99999999999999999999999"}, "'99999999999999999999999'"},
      {{"--scale", "1\n2"}, "'1\\x0A2'"},  // kept on one line
      {{"--format", "hex", "--scale"}, "--scale"},
      {{"--format"}, "--format"},
      {{"--format", "xml"}, "'xml'"},
      {{"--format=TEXT"}, "'TEXT'"},
      {{"--bogus"}, "'--bogus'"},
      {{"--scale", "5", "-x"}, "'-x'"},
      {{"--help=yes"}, "--help"},
      {{"--scale", "5", "stray"}, "'stray'"},
      {{"render"}, "'render'"},  // no such command yet
      {{"--format", "hex", "--scale", "nope"}, "'nope'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.named);
    const Outcome r = run(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_TRUE(starts(r.err, "synthtab: ")) << r.err;
    EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    EXPECT_TRUE(r.err.find("expected") != std::string::npos ||
                r.err.find("usage:") != std::string::npos)
        << r.err;
  }
}

TEST(CliOutput, FailedWriteIsAnError) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{}, {"--format", "c"}, {"--version"}}) {
    const Outcome r = run(args, "/dev/full");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
  }
}

}  // namespace
