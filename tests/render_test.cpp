// synthtab render and verify, run as separate processes: render's output
// against the direct form computed here, WAV read back through libsndfile;
// bad input exits 2 with one line on stderr and leaves no file behind.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <synthtab/synth.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "spawn.h"

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path &p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// Little-endian float64 file helpers.
void write_f64(const fs::path &p, const std::vector<double> &v) {
  std::string bytes(8 * v.size(), '\0');
  for (std::size_t i = 0; i < v.size(); i++) {
    uint64_t u;
    std::memcpy(&u, &v[i], 8);
    for (int b = 0; b < 8; b++) bytes[8 * i + b] = static_cast<char>(u >> (8 * b));
  }
  std::ofstream(p, std::ios::binary) << bytes;
}

std::vector<double> read_f64(const fs::path &p) {
  const std::string bytes = slurp(p);
  std::vector<double> v(bytes.size() / 8);
  for (std::size_t i = 0; i < v.size(); i++) {
    uint64_t u = 0;
    for (int b = 7; b >= 0; b--) u = u << 8 | static_cast<unsigned char>(bytes[8 * i + b]);
    std::memcpy(&v[i], &u, 8);
  }
  return v;
}

class RenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "synthtab-render-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
  }
  void TearDown() override { fs::remove_all(dir_); }

  Outcome tool(std::vector<std::string> args) {
    args.insert(args.begin(), SYNTHTAB_CLI);
    return spawn(args);
  }

  std::set<std::string> files() const {
    std::set<std::string> names;
    for (const auto &e : fs::directory_iterator(dir_)) names.insert(e.path().filename().string());
    return names;
  }

  // A subband file of `blocks` blocks per channel, uniform in [-amp, amp];
  // returns the samples in file order.
  std::vector<double> subbands(const std::string &name, int blocks, int channels, double amp,
                               uint64_t seed) {
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> u(-amp, amp);
    std::vector<double> s(32 * channels * blocks);
    for (double &v : s) v = u(gen);
    write_f64(dir_ / name, s);
    return s;
  }

  fs::path dir_;
};

// What render must write: the direct form times the scale, per channel,
// interleaved sample by sample.
std::vector<double> expected(const std::vector<double> &s, int channels, double scale) {
  const std::size_t blocks = s.size() / (32 * channels);
  std::vector<double> y(s.size());
  for (int c = 0; c < channels; c++) {
    synthtab::ReferenceSynthesis ref;
    double out[32];
    for (std::size_t b = 0; b < blocks; b++) {
      ref.synthesize(&s[32 * (channels * b + c)], out);
      for (int j = 0; j < 32; j++) y[channels * (32 * b + j) + c] = out[j] * scale;
    }
  }
  return y;
}

TEST_F(RenderTest, F64MatchesTheDirectFormMonoAndStereo) {
  struct Case {
    int channels;
    int32_t scale;
    std::vector<std::string> flags;
  };
  for (const Case &k : {Case{1, 32768, {}}, Case{2, -7, {"--channels", "2", "--scale=-7"}},
                        Case{2, 1, {"--scale", "1", "--format", "f64", "--channels=2"}}}) {
    SCOPED_TRACE(k.channels);
    const std::vector<double> s = subbands("in.sub", 150, k.channels, 1.0, 5 + k.channels);
    std::vector<std::string> args{"render"};
    args.insert(args.end(), k.flags.begin(), k.flags.end());
    args.insert(args.end(), {(dir_ / "in.sub").string(), (dir_ / "out.f64").string()});
    const Outcome r = tool(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");

    const std::vector<double> want = expected(s, k.channels, k.scale);
    const std::vector<double> got = read_f64(dir_ / "out.f64");
    ASSERT_EQ(got.size(), want.size());
    double peak = 0, dev = 0;
    for (std::size_t i = 0; i < got.size(); i++) {
      peak = std::max(peak, std::fabs(want[i] / k.scale));
      dev = std::max(dev, std::fabs(got[i] / k.scale - want[i] / k.scale));
    }
    EXPECT_GT(peak, 1.0);
    EXPECT_LE(dev, 1e-12 * std::max(1.0, peak));
    EXPECT_EQ(files(), (std::set<std::string>{"in.sub", "out.f64"}));
  }
}

TEST_F(RenderTest, WavMatchesTheDirectFormWithinOneStepAndCountsClipping) {
  // Quiet mono stays in range; loud stereo clips at both rails.
  for (const auto &[channels, amp] : {std::pair{1, 0.02}, std::pair{2, 0.1}}) {
    SCOPED_TRACE(channels);
    const std::vector<double> s = subbands("in.sub", 200, channels, amp, 11 + channels);
    const fs::path wav = dir_ / "out.wav";
    const Outcome r = tool({"render", "--format=wav", "--channels", std::to_string(channels),
                            (dir_ / "in.sub").string(), wav.string()});
    ASSERT_EQ(r.status, 0) << r.err;

    const std::vector<double> want = expected(s, channels, 32768);
    std::vector<int16_t> pcm(want.size());
    const std::size_t clipped = synthtab::to_pcm16(want.data(), want.size(), pcm.data());
    EXPECT_EQ(r.err, "synthtab: render: " + std::to_string(clipped) + " of " +
                         std::to_string(want.size()) + " samples clipped\n");
    if (channels == 2) {
      EXPECT_TRUE(std::count(pcm.begin(), pcm.end(), 32767) > 0);
      EXPECT_TRUE(std::count(pcm.begin(), pcm.end(), -32768) > 0);
    } else {
      EXPECT_EQ(clipped, 0u);
    }

    SF_INFO info{};
    SNDFILE *f = sf_open(wav.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(info.channels, channels);
    ASSERT_EQ(info.frames, static_cast<sf_count_t>(want.size() / channels));
    std::vector<int16_t> got(want.size());
    EXPECT_EQ(sf_readf_short(f, got.data(), info.frames), info.frames);
    sf_close(f);
    for (std::size_t i = 0; i < got.size(); i++)
      ASSERT_LE(std::fabs(got[i] - std::clamp(want[i], -32768.0, 32767.0)), 1.0) << i;
  }
}

TEST_F(RenderTest, BadInputExits2WithOneLineAndLeavesNoFile) {
  const fs::path in = dir_ / "in.sub", out = dir_ / "out", dir = dir_;
  subbands("in.sub", 3, 1, 1.0, 1);  // 768 bytes: 3 mono blocks, 1.5 stereo ones
  std::ofstream(dir_ / "odd.sub", std::ios::binary) << std::string(32 * 8 + 8, '\0');
  fs::create_directory(dir_ / "sub");
  const std::string i = in.string(), o = out.string();
  const std::vector<std::vector<std::string>> cases = {
      {"render", (dir_ / "odd.sub").string(), o},  // not whole blocks
      {"render", "--channels", "2", i, o},         // not whole stereo blocks
      {"render", "--format", "wav", (dir_ / "odd.sub").string(), o},
      {"render", (dir_ / "missing.sub").string(), o},          // unreadable input
      {"render", (dir_ / "sub").string(), o},                  // a directory as input
      {"render", i, (dir_ / "nodir" / "out").string()},        // unwritable output
      {"render", "--format=wav", i, (dir_ / "sub").string()},  // output is a directory
      {"render", "--bogus", i, o},                             // bad flag
      {"render", "--channels", "3", i, o},                     // bad values
      {"render", "--format", "mp3", i, o},
      {"render", "--scale", "1.5", i, o},
      {"render", i, o, "--scale"},
      {"render", i},  // missing or extra operands
      {"render"},
      {"render", i, o, o},
  };
  for (const auto &args : cases) {
    std::string line;
    for (const auto &a : args) line += a + " ";
    SCOPED_TRACE(line);
    const Outcome r = tool(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("synthtab: ", 0), 0u) << r.err;
    EXPECT_EQ(files(), (std::set<std::string>{"in.sub", "odd.sub", "sub"}));
    EXPECT_TRUE(fs::is_empty(dir_ / "sub"));
  }

  // An existing OUTPUT survives a failed run untouched.
  std::ofstream(out) << "keep";
  EXPECT_EQ(tool({"render", (dir_ / "odd.sub").string(), o}).status, 2);
  EXPECT_EQ(slurp(out), "keep");
}

TEST_F(RenderTest, TruncatedStreamFromAPipeLeavesNoFile) {
  // Through a pipe the size is not known up front: the short last block is
  // found at the end, after output has been written, and still nothing stays.
  subbands("in.sub", 50, 1, 1.0, 2);
  const std::string cmd = "head -c 12000 '" + (dir_ / "in.sub").string() + "' | '" + SYNTHTAB_CLI +
                          "' render --format wav /dev/stdin '" + (dir_ / "out.wav").string() + "'";
  const Outcome r = spawn({"/bin/sh", "-c", cmd});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_NE(r.err.find("12000 bytes"), std::string::npos) << r.err;
  EXPECT_EQ(files(), std::set<std::string>{"in.sub"});
}

TEST_F(RenderTest, VerifyPassesAndRejectsBadBlocks) {
  const Outcome r = tool({"verify", "--blocks", "400"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("pass: largest deviation"), std::string::npos) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 4) << r.out;

  for (const char *bad : {"0", "-3", "many"}) {
    const Outcome e = tool({"verify", "--blocks", bad});
    EXPECT_EQ(e.status, 2) << bad;
    EXPECT_EQ(std::count(e.err.begin(), e.err.end(), '\n'), 1) << e.err;
  }
}

}  // namespace
