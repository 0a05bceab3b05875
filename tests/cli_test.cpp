// Runs the synthtab tool as a separate process and checks what it prints, on
// which stream, and its exit code.
#include <gtest/gtest.h>
#include <synthtab/tabinit.h>
#include <synthtab/version.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "spawn.h"

namespace {

// Runs the tool with args; stdout goes to stdout_path when one is given.
Outcome run(std::vector<std::string> args, const char *stdout_path = nullptr) {
  args.insert(args.begin(), SYNTHTAB_CLI);
  return spawn(args, stdout_path);
}

bool starts(const std::string &s, const std::string &prefix) { return s.rfind(prefix, 0) == 0; }

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
  for (const char *name : {"cos64", "cos32", "cos16", "cos8", "cos4", "decwin"})
    want.insert(want.end(), t[name].begin(), t[name].end());

  int stages = 0, rows = 0;
  std::vector<double> got;
  std::istringstream in(r.out);
  for (std::string l; std::getline(in, l);) {
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
  for (const Case &c : cases) {
    SCOPED_TRACE(c.scale);
    const Outcome r = run(c.args);
    ASSERT_EQ(r.status, 0) << r.err;
    auto t = live(c.scale);
    std::istringstream in(r.out);
    std::size_t seen = 0;
    for (std::string l; std::getline(in, l); seen++) {
      char name[16], lit[40];
      unsigned k;
      ASSERT_EQ(std::sscanf(l.c_str(), "%15[a-z0-9][%u] %39s", name, &k, lit), 3) << l;
      ASSERT_TRUE(t.count(name) && k < t[name].size()) << l;
      const double v = std::strtod(lit, nullptr);
      EXPECT_EQ(std::memcmp(&v, &t[name][k], sizeof v), 0) << l << " vs " << t[name][k];
      if (v == 0 && std::signbit(v)) {
        EXPECT_STREQ(lit, "-0x0p+0");
      }
    }
    EXPECT_EQ(seen, 31u + 544u);
  }
}

TEST(CliFormats, CSourceStatesItsScale) {
  const Outcome r = run({"--format=c", "--scale=-7"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("scale -7,"), std::string::npos);
}

TEST(CliInfo, HelpAndVersion) {
  for (const char *opt : {"--help", "-h"}) {
    const Outcome r = run({"--scale", "5", opt});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(starts(r.out, "usage: synthtab ")) << r.out;
    EXPECT_NE(r.out.find("\n  synthtab render "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n  synthtab verify "), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
  }
  const Outcome r = run({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "synthtab " SYNTHTAB_VERSION_STRING "\n");
  EXPECT_EQ(r.err, "");
}

// --help gives the same answer wherever it stands, whatever else is there.
TEST(CliInfo, HelpWhereverItStands) {
  for (const std::string cmd : {"", "render", "analyze", "verify"}) {
    SCOPED_TRACE(cmd);
    std::vector<std::string> base;
    if (!cmd.empty()) base.push_back(cmd);
    auto with = [&](std::vector<std::string> rest) {
      rest.insert(rest.begin(), base.begin(), base.end());
      return run(rest);
    };
    const Outcome want = with({"--help"});
    EXPECT_EQ(want.status, 0);
    EXPECT_TRUE(starts(want.out, "usage: synthtab")) << want.out;
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"--bogus", "--help"}, {"--help", "--bogus"},
          {"--scale=x", "a", "b", "c", "-h"}, {"--scale", "-h"}}) {
      const Outcome r = with(args);
      EXPECT_EQ(r.status, 0) << args[0];
      EXPECT_EQ(r.out, want.out) << args[0];
      EXPECT_EQ(r.err, "");
    }
  }
}

TEST(CliArgs, BadInputGetsOneLineExitTwoAndNoOutput) {
  struct Case {
    std::vector<std::string> args;
    std::string named;  // what the message must mention
  };
  const std::vector<Case> cases = {
      {{"--scale", "abc"}, "'abc'"},
      {{"--scale=12x"}, "'12x'"},
      {{"--scale", " 12"}, "' 12'"},
      {{"--scale="}, "''"},
      {{"--scale", "2147483648"}, "'2147483648'"},
      {{"--scale", "1\n2"}, "'1\\x0A2'"},  // kept on one line
      {{"--format", "hex", "--scale"}, "--scale"},
      {{"--format", "xml"}, "'xml'"},
      {{"--bogus"}, "'--bogus'"},
      {{"--help=yes"}, "--help"},
      {{"--scale", "5", "stray"}, "'stray'"},
      {{"frobnicate"}, "render, verify, analyze or synthtab ["},  // no such command
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.named);
    const Outcome r = run(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_TRUE(starts(r.err, "synthtab: ")) << r.err;
    EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    EXPECT_TRUE(r.err.find(": expected ") != r.err.npos || r.err.find(": usage: ") != r.err.npos)
        << r.err;
  }
}

// Every command reports a failed write of stdout with exit 1: stdout is a
// node with the full device's numbers, made in a folder of the test's own.
TEST(CliOutput, FailedWriteIsAnError) {
  char dir[] = "/tmp/synthtab-cli-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string full = std::string(dir) + "/full";
  if (mknod(full.c_str(), S_IFCHR | 0600, makedev(1, 7)) != 0) {
    rmdir(dir);
    GTEST_SKIP() << "cannot make a device node here";
  }
  for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
           {}, {"--format", "c"}, {"--version"}, {"render", "--help"}, {"verify", "--blocks=1"}}) {
    const Outcome r = run(args, full.c_str());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
  }
  unlink(full.c_str());
  rmdir(dir);
}

// Operands are cut to the same number of characters whatever their bytes,
// and bytes that are not UTF-8 are shown escaped.
TEST(CliArgs, LongOperandsAreCutToAShortLine) {
  for (const std::string &op : {std::string(100000, '\x80'), std::string(100000, 'x'),
                                std::string(30000, '\xE2') + "\x82\xAC"}) {
    const Outcome r = run({"--format", op});
    EXPECT_EQ(r.status, 2);
    EXPECT_LT(r.err.size(), 400u);
    EXPECT_NE(r.err.find("...", 0), std::string::npos);
  }
  const Outcome euro = run({std::string(100, '\xE2') + "\x82\xAC"});  // 100 bad bytes, then one €
  EXPECT_NE(euro.err.find("'\\xE2\\xE2"), std::string::npos) << euro.err;
  const Outcome ok = run({"--format", "\xE2\x82\xAC"});
  EXPECT_NE(ok.err.find("'\xE2\x82\xAC'"), std::string::npos) << ok.err;
}

}  // namespace
