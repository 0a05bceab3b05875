// synthtab render and verify, run as separate processes: render's output
// against the direct form computed here, audio read back through other
// software (audio_tools.h);
// bad input exits 2 with one line on stderr and leaves no file behind; FIFOs,
// device nodes, links and signals, all inside a folder of the test's own.
#include <gtest/gtest.h>
#include <synthtab/synth.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "audio_tools.h"
#include "spawn.h"

namespace {

namespace fs = std::filesystem;

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

// The little-endian unsigned integer of n bytes at s[at].
uint64_t le(const std::string &s, std::size_t at, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; i--) v = v << 8 | static_cast<unsigned char>(s.at(at + i));
  return v;
}

// While it lives, the tool runs with the calls named failing (faults.c).
class Faults {
 public:
  explicit Faults(const char *calls) {
    const char *asan = std::getenv("ASAN_OPTIONS");
    asan_ = asan ? asan : "";
    setenv("LD_PRELOAD", SYNTHTAB_FAULTS, 1);
    setenv("SYNTHTAB_FAULTS", calls, 1);
    // The shim is loaded before the sanitizers' runtime.
    setenv("ASAN_OPTIONS", (asan_ + ":verify_asan_link_order=0").c_str(), 1);
  }
  ~Faults() {
    unsetenv("LD_PRELOAD");
    unsetenv("SYNTHTAB_FAULTS");
    setenv("ASAN_OPTIONS", asan_.c_str(), 1);
  }

 private:
  std::string asan_;
};

// Writes bytes into a FIFO, or reads one to its end, from a thread of its own.
class FifoPeer {
 public:
  FifoPeer(const fs::path &fifo, std::string feed) : feed_(std::move(feed)) {
    t_ = std::thread([this, fifo] {
      if (std::FILE *f = std::fopen(fifo.c_str(), feed_.empty() ? "rb" : "wb")) {
        std::setvbuf(f, nullptr, _IONBF, 0);
        if (feed_.empty())
          got_ = slurp(f);  // closes f
        else
          std::fwrite(feed_.data(), 1, feed_.size(), f), std::fclose(f);
      }
    });
  }
  ~FifoPeer() { join(); }
  const std::string &join() {
    if (t_.joinable()) t_.join();
    return got_;
  }

 private:
  std::string feed_, got_;
  std::thread t_;
};

class RenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "synthtab-render-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::vector<std::string> cmd(std::vector<std::string> args) {
    args.insert(args.begin(), SYNTHTAB_CLI);
    return args;
  }
  Outcome tool(std::vector<std::string> args, const char *out = nullptr, const char *in = nullptr) {
    return spawn(cmd(std::move(args)), out, in);
  }
  std::string at(const std::string &name) const { return (dir_ / name).string(); }
  static bool built(const std::string &format) { return tool_has(SYNTHTAB_CLI, format); }
  // A refusal: exit 2 and one line on stderr, which it returns.
  static std::string refused(const Outcome &r) {
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    return r.err;
  }
  std::string refused(std::vector<std::string> args) { return refused(tool(std::move(args))); }
  std::string fifo(const std::string &name) const {
    EXPECT_EQ(mkfifo(at(name).c_str(), 0600), 0);
    return at(name);
  }

  // Whether process pid holds a file in dir_ open for writing (an unnamed
  // one shows as "dir/#inode (deleted)").
  bool writes_in_dir(pid_t pid) const {
    const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(fds, ec)) {
      const std::string target = fs::read_symlink(e.path(), ec).string();
      if (!ec && target.rfind(dir_.string() + "/", 0) == 0 && target.find("/pipe") == target.npos &&
          target.find("in.sub") == target.npos)
        return true;
    }
    return false;
  }

  // Whether pid has not yet exited (a zombie has).
  static bool running(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
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
    const std::vector<double> got = read_f64(at("out.f64"));
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

TEST_F(RenderTest, AudioReadsBackWithItsRateAndSamplesAndCountsClipping) {
  struct Case {
    std::vector<std::string> flags;
    int channels, rate, width;  // width: bytes per sample
    double amp, full;           // subband amplitude; the format's full scale
  };
  const std::vector<Case> cases = {
      {{"--format=wav"}, 1, 44100, 2, 0.02, 32768},
      {{"--format", "wav", "--rate", "48000"}, 2, 48000, 2, 0.1, 32768},  // loud: clips
      {{"--format=wav", "--sample=s24", "--rate=96000"}, 2, 96000, 3, 0.1, 8388608},
      {{"--format=wav", "--sample=f32"}, 1, 44100, 4, 0.1, 1},
      {{"--format=aiff", "--sample=s24", "--rate=22050"}, 2, 22050, 3, 0.02, 8388608},
      {{"--format=flac", "--rate=48000"}, 2, 48000, 2, 0.02, 32768},
      {{"--format=flac", "--sample=s24"}, 1, 44100, 3, 0.02, 8388608},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.flags.front() + " " + k.flags.back());
    if (!built(k.flags[0] == "--format" ? k.flags[1] : k.flags[0].substr(9))) continue;
    const std::vector<double> s = subbands("in.sub", 200, k.channels, k.amp, k.channels + k.rate);
    std::vector<std::string> args = k.flags;
    args.insert(args.begin(), "render");
    args.insert(args.end(), {"--channels", std::to_string(k.channels), at("in.sub"), at("out")});
    const Outcome r = tool(args);
    ASSERT_EQ(r.status, 0) << r.err;

    const std::vector<double> want = expected(s, k.channels, k.full);
    const bool integer = k.full > 1;
    std::size_t clipped = 0;
    for (double v : want) clipped += integer && std::fabs(std::round(v)) > k.full - (v > 0);
    EXPECT_EQ(r.err, clipped ? "synthtab: render: " + std::to_string(clipped) + " of " +
                                   std::to_string(want.size()) + " samples clipped\n"
                             : "");
    EXPECT_EQ(clipped > 0, integer && k.amp > 0.05);

    std::vector<double> got;
    if (integer) {
      const ToolAudio a = read_with_tools(at("out"), dir_.string());
      if (a.error.rfind("SKIP", 0) == 0) continue;
      ASSERT_EQ(a.error, "");
      EXPECT_EQ(a.rate, k.rate);
      EXPECT_EQ(a.channels, k.channels);
      EXPECT_EQ(a.width, k.width);
      for (double v : a.x) got.push_back(v * k.full);
    } else {  // float WAV, which Python's wave does not read: the canonical 58-byte header
      const std::string b = slurp(dir_ / "out");
      for (std::size_t at = 58; at + 4 <= b.size(); at += 4) {
        const auto u = static_cast<uint32_t>(le(b, at, 4));
        float f;
        std::memcpy(&f, &u, 4);
        got.push_back(f);
      }
    }
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); i++)
      ASSERT_LE(std::fabs(got[i] - (integer ? std::clamp(want[i], -k.full, k.full - 1) : want[i])),
                integer ? 1.0 : 1e-6)
          << i;
  }
}

TEST_F(RenderTest, BadInputExits2WithOneLineAndLeavesNoFile) {
  const fs::path in = dir_ / "in.sub", out = dir_ / "out", dir = dir_;
  subbands("in.sub", 3, 1, 1.0, 1);  // 768 bytes: 3 mono blocks, 1.5 stereo ones
  const std::string input = slurp(in);
  std::ofstream(dir_ / "odd.sub", std::ios::binary) << std::string(32 * 8 + 8, '\0');
  fs::create_directory(dir_ / "sub");
  fs::create_symlink("in.sub", dir_ / "link");
  const std::string i = in.string(), o = out.string();
  std::vector<std::vector<std::string>> cases = {
      {"render", at("odd.sub"), o},         // not whole blocks
      {"render", "--channels", "2", i, o},  // not whole stereo blocks
      {"render", "--format", "wav", at("odd.sub"), o},
      {"render", at("missing.sub"), o},  // unreadable input
      {"render", at("sub"), o},          // a directory as input
      {"render", i, at("nodir/out")},    // unwritable output
      {"render", i, at(std::string(300, 'n'))},  // a name too long, found before any work
      {"render", i, ""},
      {"render", "--format=wav", i, at("sub")},  // output is a directory
      {"render", i, i},                          // the input itself, by any name
      {"render", i, at("link")},
      {"render", "--format=flac", i, at("sub/../in.sub")},
      {"render", "--bogus", i, o},          // bad flag
      {"render", "--channels", "3", i, o},  // bad values
      {"render", "--format", "mp3", i, o},
      {"render", "--scale", "1.5", i, o},
      {"render", "--format=wav", "--rate=0", i, o},
      {"render", "--format=wav", "--sample=s8", i, o},
      {"render", "--format=flac", "--sample=f32", i, o},  // valid only in a WAV
      {"render", "--rate=48000", i, o},                   // f64 has no header
      {"render", i, o, "--scale"},
      {"render", i},  // missing or extra operands
      {"render"},
      {"render", i, o, o},
  };
  // Mistakes with a line of their own: what it says, and what it must not name.
  std::ofstream(dir_ / "huge.sub", std::ios::binary)  // 2147483647 Hz
      << std::string("SYNTHSUB\x01\x00\x20\x00\x02\x00\x00\x00\xFF\xFF\xFF\x7F", 20)
      << std::string(12 + 8 * 64, '\0');
  const std::map<std::vector<std::string>, std::pair<std::string, std::string>> own = {
      {{"--fixed", i, at("o.f64")}, {"--fixed makes integer audio with a header", "--scale"}},
      {{"--fixed", i, at("o.ogg")}, {"which Vorbis does not take", "--scale"}},
      {{"--fixed", "--sample=f32", i, at("o.wav")}, {"expected --sample s16 or s24", "--scale"}},
      {{"--fixed", "--scale=5", i, at("o.wav")}, {"expected no --scale", "Vorbis"}},
      {{"--sample=s24", i, at("o.f64")}, {"--sample needs audio with a header", "--rate"}},
      {{"--rate=48000", i, at("o.f64")}, {"--rate needs audio with a header", "--sample"}},
      {{"--sample=s16", i, at("o.ogg")}, {"--sample does not apply to Vorbis", "--rate"}},
      // A byte rate past what a WAV header states: refused before anything is written.
      {{"--rate=2147483647", "--sample=s24", i, at("o.wav")}, {"byte rate", ""}},
      {{at("huge.sub"), at("o.wav")}, {"byte rate", ""}},
  };
  for (const auto &k : own) {
    cases.push_back(k.first);
    cases.back().insert(cases.back().begin(), "render");
  }
  for (const auto &args : cases) {
    std::string line;
    for (const auto &a : args) line += a + " ";
    SCOPED_TRACE(line);
    const Outcome r = tool(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("synthtab: ", 0), 0u) << r.err;
    EXPECT_TRUE(r.err.find(": expected") != r.err.npos || r.err.find(": usage: ") != r.err.npos)
        << r.err;
    if (const auto mine = own.find({args.begin() + 1, args.end()}); mine != own.end()) {
      const auto &[says, never] = mine->second;
      EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
      EXPECT_TRUE(never.empty() || r.err.find(never) == r.err.npos) << r.err;
    }
    EXPECT_EQ(files(), (std::set<std::string>{"in.sub", "odd.sub", "sub", "link", "huge.sub"}));
    EXPECT_TRUE(fs::is_empty(dir_ / "sub"));
    EXPECT_TRUE(slurp(in) == input);
  }

  // An existing OUTPUT survives a failed run untouched.
  std::ofstream(out) << "keep";
  EXPECT_EQ(tool({"render", (dir_ / "odd.sub").string(), o}).status, 2);
  EXPECT_EQ(slurp(out), "keep");
}

// Audio of every kind as INPUT, from a file and from a pipe: refused,
// pointing to analyze.
TEST_F(RenderTest, AudioAsInputIsRefused) {
  const std::string wav_tail(
      "\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x44\xAC\0\0\x88\x58\x01\0\x02\0\x10\0data\0\0\0\0",
      40);
  for (const std::string &audio :
       {"RIFF" + wav_tail, "RF64" + wav_tail, std::string("FORM\0\0\0 AIFFCOMM", 16),
        std::string("fLaC\0\0\0\x22", 8), std::string("OggS\0\x02", 6)}) {
    SCOPED_TRACE(audio.substr(0, 4));
    std::ofstream(dir_ / "audio", std::ios::binary) << audio << std::string(8 * 32 * 64, '\0');
    for (const bool pipe : {false, true}) {
      const std::string err = pipe ? refused(piped(at("audio"), cmd({"render", "-", at("o.wav")})))
                                   : refused({"render", at("audio"), at("o.wav")});
      EXPECT_NE(err.find("is audio, not subbands"), std::string::npos) << err;
      EXPECT_NE(err.find("analyze"), std::string::npos) << err;
      EXPECT_FALSE(fs::exists(dir_ / "o.wav"));
    }
  }
}

TEST_F(RenderTest, StreamEndingMidBlockLeavesNoFile) {
  // From a pipe the size is not known up front: the short last block is found
  // at the end, after output has been written, and still nothing stays.
  subbands("in.sub", 50, 1, 1.0, 2);
  const std::string pipe = fifo("pipe");
  FifoPeer feed(pipe, slurp(dir_ / "in.sub").substr(0, 12000));
  const Outcome r = tool({"render", "--format", "wav", "-", at("out.wav")}, nullptr, pipe.c_str());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_NE(r.err.find("12000 bytes"), std::string::npos) << r.err;
  EXPECT_EQ(files(), (std::set<std::string>{"in.sub", "pipe"}));
}

TEST_F(RenderTest, InputShrinkingMidRenderIsAnError) {
  // The tool reads 1 MiB at a time and blocks on the FIFO, which nobody
  // drains yet, before it reads a third; so it has read at most 2 MiB when
  // the file is cut to 3 MiB, whatever the timing.
  subbands("in.sub", 32768, 1, 1.0, 3);  // 8 MiB
  const std::string pipe = fifo("pipe");
  Running p = start(cmd({"render", at("in.sub"), pipe}));
  std::FILE *reader = std::fopen(pipe.c_str(), "rb");
  ASSERT_NE(reader, nullptr);
  fs::resize_file(dir_ / "in.sub", 3 << 20);
  const std::string got = slurp(reader);
  const Outcome r = finish(p);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("ended after 3145728 of the 8388608 bytes"), std::string::npos) << r.err;
  EXPECT_GE(got.size(), std::size_t{1} << 20);  // what went out stays
}

TEST_F(RenderTest, OutputKinds) {
  subbands("in.sub", 8192, 2, 0.1, 4);  // 4 MiB: more than the output buffer holds
  const std::string in = at("in.sub");
  for (const char *format : {"f64", "wav", "aiff", "flac", "ogg"}) {
    SCOPED_TRACE(format);
    if (!built(format)) continue;
    ASSERT_EQ(tool({"render", "--channels=2", "--format", format, in, at("file")}).status, 0);
    const std::string want = slurp(dir_ / "file");

    // A FIFO reader gets what a file gets, and so does "-" both ways through
    // pipes, but for the header when the size is unknown up front. A stream's
    // FLAC header goes without its MD5 sum. Ogg has nothing to rewrite.
    const bool f64 = std::string(format) == "f64" || std::string(format) == "ogg";
    const std::size_t from = std::string(format) == "flac" ? 8192 : 0;
    const std::string pipe = fifo("pipe");
    FifoPeer reader(pipe, "");
    EXPECT_EQ(tool({"render", "--channels=2", "--format", format, in, pipe}).status, 0);
    EXPECT_EQ(reader.join().size(), want.size());
    EXPECT_TRUE(reader.join().substr(from) == want.substr(from));

    const std::string from_pipe = fifo("stdin"), to_pipe = fifo("stdout");
    FifoPeer feed(from_pipe, slurp(in)), drain(to_pipe, "");
    const std::vector<std::string> args{"render", "--channels=2", "--format", format, "-", "-"};
    EXPECT_EQ(tool(args, to_pipe.c_str(), from_pipe.c_str()).status, 0);
    EXPECT_EQ(drain.join().size(), want.size());
    EXPECT_TRUE(drain.join().substr(f64 ? 0 : 8192) == want.substr(f64 ? 0 : 8192));
    if (std::string(format) == "flac") {  // both pass flac's own test; the file has its MD5 sum
      EXPECT_NE(want.substr(26, 16), std::string(16, '\0'));
      std::ofstream(at("stream"), std::ios::binary) << drain.join();
      for (const char *name : {"file", "stream"})
        EXPECT_TRUE(!have_program("flac") || spawn({"flac", "-t", "-s", at(name)}).status == 0)
            << name;
      fs::remove(at("stream"));
    }
    for (const std::string &p : {pipe, from_pipe, to_pipe}) fs::remove(p);
  }

  // A device node is written into and stays a device node; one with the full
  // device's numbers fails the write with exit 1.
  if (mknod(at("null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0 &&
      mknod(at("full").c_str(), S_IFCHR | 0600, makedev(1, 7)) == 0) {
    EXPECT_EQ(tool({"render", in, at("null")}).status, 0);
    EXPECT_TRUE(fs::is_character_file(at("null")));
    const Outcome r = tool({"render", in, at("full")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_character_file(at("full")));
  }

  // A link's final target is replaced and the links stay; permission bits stay.
  fs::create_directory(dir_ / "d");
  std::ofstream(dir_ / "d" / "target") << "old";
  fs::permissions(dir_ / "d" / "target", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink("d/link2", dir_ / "link1");
  fs::create_symlink("target", dir_ / "d" / "link2");
  EXPECT_EQ(tool({"render", "--channels=2", "--format", "aiff", in, at("file")}).status, 0);
  EXPECT_EQ(tool({"render", "--channels=2", "--format", "aiff", in, at("link1")}).status, 0);
  EXPECT_TRUE(fs::is_symlink(dir_ / "link1"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "d" / "link2"));
  EXPECT_EQ(fs::status(dir_ / "d" / "target").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_TRUE(slurp(dir_ / "d" / "target") == slurp(dir_ / "file"));  // the last output
  std::set<std::string> names = files();
  names.erase("null");
  names.erase("full");
  EXPECT_EQ(names, (std::set<std::string>{"in.sub", "file", "d", "link1"}));
}

// With O_TMPFILE no signal can leave a file behind; on a filesystem without
// it, the named temporary is removed on every signal that can be caught.
TEST_F(RenderTest, SignalsAndKillLeaveTheDirectoryAsItWas) {
  std::ofstream(dir_ / "out") << "keep";
  for (const bool named : {false, true})
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGKILL}) {
    if (named && sig == SIGKILL) continue;
    SCOPED_TRACE(std::to_string(sig) + (named ? " named" : ""));
    std::optional<Faults> no_tmpfile;
    if (named) no_tmpfile.emplace("tmpfile");
    const std::string pipe = fifo("pipe");
    Running p = start(cmd({"render", pipe, at("out")}));
    std::FILE *feed = std::fopen(pipe.c_str(), "wb");
    ASSERT_NE(feed, nullptr);
    EXPECT_EQ(std::fwrite(std::string(2560, '\0').data(), 1, 2560, feed), 2560u);
    std::fflush(feed);
    while (!writes_in_dir(p.pid) && running(p.pid)) std::this_thread::yield();  // output open
    if (named) {
      EXPECT_EQ(files().size(), 3u);  // pipe, out and the temporary
    }
    kill(p.pid, sig);
    EXPECT_EQ(finish(p).status, 128 + sig);
    std::fclose(feed);
    fs::remove(pipe);
    EXPECT_EQ(files(), std::set<std::string>{"out"});
    EXPECT_EQ(slurp(dir_ / "out"), "keep");
  }
  // A file size limit ends it with SIGXFSZ at the first write.
  subbands("in.sub", 64, 1, 1.0, 9);
  const Outcome r = spawn({"/bin/sh", "-c", "ulimit -f 1 && exec '" + std::string(SYNTHTAB_CLI) +
                                                "' render '" + at("in.sub") + "' '" + at("out") + "'"});
  EXPECT_EQ(r.status, 128 + SIGXFSZ) << r.err;
  EXPECT_EQ(files(), (std::set<std::string>{"in.sub", "out"}));
  EXPECT_EQ(slurp(dir_ / "out"), "keep");
}

TEST_F(RenderTest, FormatComesFromOutputsName) {
  struct Case {
    std::string name;
    std::vector<std::string> flags;
    std::string magic;  // the file's first bytes, at 0 and 8; empty for raw float64
    int width;          // bytes per sample, as the other tools read it; 0: not read
  };
  const std::vector<Case> cases = {
      {"o.wav", {}, "RIFFWAVE", 2},
      {"O.WAV", {"--sample=s24"}, "RIFFWAVE", 3},
      {"o.flac", {}, "fLaC", 2},
      {"o.aif", {}, "FORMAIFF", 2},
      {"o.aiff", {"--sample=f32"}, "FORMAIFC", 0},
      {"o.ogg", {}, "OggS", 2},
      {"o.oga", {}, "OggS", 2},
      {"o.mp3", {"--format=wav"}, "RIFFWAVE", 2},
      {"o.wav", {"--format=f64"}, "", 0},
      {"o.f64", {}, "", 0},
      {"o.raw", {}, "", 0},
      {"o", {}, "", 0},
      {".hidden", {}, "", 0},
  };
  subbands("in.sub", 40, 2, 0.02, 11);
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    std::vector<std::string> args{"render", "--channels=2"};
    args.insert(args.end(), k.flags.begin(), k.flags.end());
    args.insert(args.end(), {at("in.sub"), at(k.name)});
    const Outcome r = tool(args);
    if (k.magic == "fLaC" && !built("flac")) continue;
    if (k.magic == "OggS" && !built("ogg")) continue;
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string b = slurp(at(k.name));
    if (k.magic.empty()) {
      EXPECT_EQ(b.size(), 8u * 40 * 64);
    } else {
      EXPECT_EQ(b.substr(0, 4) + (k.magic.size() > 4 ? b.substr(8, 4) : ""), k.magic);
    }
    if (k.magic == "FORMAIFC") {  // float, which Python's aifc does not read: its COMM chunk
      EXPECT_EQ(b.substr(24, 4) + b.substr(50, 4), "COMMfl32");
      EXPECT_EQ(b.substr(32, 6), std::string("\0\x02\0\0\x05\0", 6));  // 2 channels, 1280 frames
      EXPECT_EQ(b.size(), 82u + 4 * 2 * 40 * 32);
    }
    if (k.width) {
      const ToolAudio a = read_with_tools(at(k.name), dir_.string());
      if (a.error.rfind("SKIP", 0) != 0) {
        ASSERT_EQ(a.error, "");
        EXPECT_EQ(a.width, k.width);
        EXPECT_EQ(a.channels, 2);
        EXPECT_EQ(a.x.size(), 2u * 40 * 32);
      }
    }
    fs::remove(at(k.name));
  }
  // Any other extension is refused before anything is written.
  const Outcome r = tool({"render", at("in.sub"), at("out.mp3")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("unknown output format '.mp3'"), std::string::npos) << r.err;
  EXPECT_EQ(files(), std::set<std::string>{"in.sub"});
}

// The header, byte by byte: canonical RIFF, PCM (tag 1) in 44 bytes or float
// (tag 3, with its fact chunk) in 58, whatever route the samples took.
TEST_F(RenderTest, WavHeaderIsTheCanonicalOne) {
  struct Case {
    std::string sample;
    int channels, bits, tag, size;
  };
  for (const Case &k : {Case{"s16", 1, 16, 1, 44}, Case{"s16", 2, 16, 1, 44},
                        Case{"s24", 2, 24, 1, 44}, Case{"f32", 2, 32, 3, 58}}) {
    SCOPED_TRACE(k.sample + std::to_string(k.channels));
    subbands("in.sub", 30, k.channels, 0.02, 12);
    const std::vector<std::string> flags{"render", "--rate=48000", "--sample=" + k.sample,
                                         "--channels=" + std::to_string(k.channels)};
    const std::string from_file = at("a.wav"), from_pipe = at("b.wav"), pipe = fifo("pipe");
    auto args = flags;
    args.insert(args.end(), {at("in.sub"), from_file});
    ASSERT_EQ(tool(args).status, 0);
    // From a pipe the size is not known up front: the header is rewritten at the end.
    FifoPeer feed(pipe, slurp(dir_ / "in.sub"));
    args = flags;
    args.insert(args.end(), {"-", from_pipe});
    ASSERT_EQ(tool(args, nullptr, pipe.c_str()).status, 0);
    const std::string h = slurp(from_file);
    EXPECT_TRUE(h == slurp(from_pipe));

    const uint64_t align = k.channels * k.bits / 8, data = 30 * 32 * align;
    ASSERT_EQ(h.size(), k.size + data);
    EXPECT_EQ(h.substr(0, 4), "RIFF");
    EXPECT_EQ(le(h, 4, 4), h.size() - 8);
    EXPECT_EQ(h.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(le(h, 16, 4), k.tag == 1 ? 16u : 18u);
    EXPECT_EQ(le(h, 20, 2), unsigned(k.tag));
    EXPECT_EQ(le(h, 22, 2), unsigned(k.channels));
    EXPECT_EQ(le(h, 24, 4), 48000u);
    EXPECT_EQ(le(h, 28, 4), 48000 * align);
    EXPECT_EQ(le(h, 32, 2), align);
    EXPECT_EQ(le(h, 34, 2), unsigned(k.bits));
    if (k.tag == 3) {
      EXPECT_EQ(le(h, 36, 2), 0u);
      EXPECT_EQ(h.substr(38, 4), "fact");
      EXPECT_EQ(le(h, 42, 4), 4u);
      EXPECT_EQ(le(h, 46, 4), 30u * 32);
    }
    EXPECT_EQ(h.substr(k.size - 8, 4), "data");
    EXPECT_EQ(le(h, k.size - 4, 4), data);

    // To a stream, with the size unknown, the sizes are the most a header states.
    const std::string out_pipe = fifo("out"), in_pipe = fifo("in");
    FifoPeer feed2(in_pipe, slurp(dir_ / "in.sub")), drain(out_pipe, "");
    args = flags;
    args.insert(args.end(), {"-", "--format=wav", out_pipe});
    ASSERT_EQ(tool(args, nullptr, in_pipe.c_str()).status, 0);
    const std::string streamed = drain.join();
    EXPECT_EQ(le(streamed, 4, 4), 0xFFFFFFFFu);
    EXPECT_EQ(le(streamed, k.size - 4, 4), 0xFFFFFFFFu);
    EXPECT_TRUE(streamed.substr(k.size) == h.substr(k.size));
    for (const char *name : {"a.wav", "b.wav", "pipe", "out", "in"}) fs::remove(at(name));
  }
}

// A subband file with the synthtab header or as .npy, both written here byte by
// byte, renders as the raw samples do with the channels and rate they state.
TEST_F(RenderTest, SubbandHeadersStateChannelsAndRate) {
  const std::vector<double> s = subbands("raw.f64", 50, 2, 0.02, 13);
  const std::string body = slurp(dir_ / "raw.f64");
  ASSERT_EQ(tool({"render", "--channels=2", "--rate=48000", at("raw.f64"), at("want.wav")}).status, 0);
  const std::string want = slurp(dir_ / "want.wav");

  const auto tagged = [](uint32_t version, uint32_t size, uint32_t channels, uint32_t rate) {
    std::string h = "SYNTHSUB";
    for (auto [v, n] : {std::pair{version, 2}, {size, 2}, {channels, 4}, {rate, 4}})
      for (int i = 0; i < n; i++) h += static_cast<char>(v >> (8 * i));
    return h + std::string(size - 20, '\0');
  };
  const auto npy = [](const std::string &dict) {
    std::string h = std::string("\x93NUMPY\x01\x00", 8) + "  " + dict;
    h += std::string(63 - h.size() % 64, ' ') + "\n";
    h[8] = static_cast<char>(h.size() - 10);
    h[9] = static_cast<char>((h.size() - 10) >> 8);
    return h;
  };
  struct Case {
    std::string name, head;
    std::vector<std::string> flags;
    int status;
  };
  const std::string shape = "{'descr': '<f8', 'fortran_order': False, 'shape': (50, 2, 32), }";
  const std::vector<Case> cases = {
      {"in.sub", tagged(1, 32, 2, 48000), {}, 0},
      {"in.sub", tagged(1, 48, 2, 48000), {"--channels=2", "--rate=48000"}, 0},  // grown
      {"in.npy", npy(shape), {"--rate=48000"}, 0},
      {"in.sub", tagged(1, 32, 2, 48000), {"--channels=1"}, 2},  // contradicted
      {"in.sub", tagged(1, 32, 2, 48000), {"--rate=44100"}, 2},
      {"in.sub", tagged(2, 32, 2, 48000), {}, 2},  // a later version
      {"in.sub", tagged(1, 36, 2, 48000), {}, 2},  // not a multiple of 8
      {"in.sub", tagged(1, 32, 3, 48000), {}, 2},  // more channels than render takes
      {"in.npy", npy("{'descr': '<f4', 'fortran_order': False, 'shape': (50, 2, 32), }"), {}, 2},
      {"in.npy", npy("{'descr': '<f8', 'fortran_order': True, 'shape': (50, 2, 32), }"), {}, 2},
      {"in.npy", npy("{'descr': '<f8', 'fortran_order': False, 'shape': (51, 2, 32), }"), {}, 2},
      {"in.npy", npy("{'descr': '<f8', 'fortran_order': False, 'shape': (100, 2, 16), }"), {}, 2},
      // Hostile headers, as render reports them (subbands_test has the whole table).
      {"in.sub", tagged(1, 32, 0, 48000), {}, 2},
      {"in.npy", npy("{}\n\x1b[2J\xc2\x9b" "31m"), {}, 2},
      {"in.npy", std::string("\x93NUMPY\x02\x00\xff\xff\xff\xff", 12) + shape, {}, 2},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.head.substr(0, 12) + std::to_string(k.head.size()));
    std::ofstream(dir_ / k.name, std::ios::binary) << k.head << body;
    auto args = k.flags;
    args.insert(args.begin(), "render");
    args.insert(args.end(), {at(k.name), at("out.wav")});
    const Outcome r = tool(args);
    EXPECT_EQ(r.status, k.status) << r.err;
    if (k.status == 0) {
      EXPECT_TRUE(slurp(dir_ / "out.wav") == want);
    } else {
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      EXPECT_EQ(r.err.find_first_of("\x1b\x9b"), std::string::npos) << r.err;
      EXPECT_FALSE(fs::exists(dir_ / "out.wav"));
    }
    fs::remove(dir_ / "out.wav");
    fs::remove(dir_ / k.name);
  }
}

TEST_F(RenderTest, SyncsTheFileBeforeTheRenameAndTheDirectoryAfter) {
  subbands("in.sub", 40, 1, 0.02, 14);
  std::ofstream(dir_ / "out.wav") << "keep";
  if (spawn({"/bin/sh", "-c", "command -v strace"}).status == 0) {
    // (LeakSanitizer cannot run under ptrace.)
    const Outcome r = spawn({"/bin/sh", "-c",
                             "ASAN_OPTIONS=detect_leaks=0 strace -o '" + at("trace") + "' -e trace=fsync,rename,renameat,renameat2 '" +
                                 SYNTHTAB_CLI + "' render '" + at("in.sub") + "' '" +
                                 at("out.wav") + "'"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> calls;  // the call names, in order
    std::ifstream trace(dir_ / "trace");
    for (std::string line; std::getline(trace, line);)
      if (line.rfind("fsync", 0) == 0 || line.rfind("rename", 0) == 0)
        calls.push_back(line.substr(0, line.find('(')));
    EXPECT_EQ(calls, (std::vector<std::string>{"fsync", "rename", "fsync"}));
    fs::remove(dir_ / "trace");
  } else {
    ADD_FAILURE() << "no strace (in .ci/deps' test list)";
  }
  // A sync that fails is an I/O failure: exit 1, OUTPUT as it was.
  std::ofstream(dir_ / "out.wav") << "keep";
  Faults faults("fsync");
  const Outcome r = tool({"render", at("in.sub"), at("out.wav")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Input/output error"), std::string::npos) << r.err;
  EXPECT_EQ(slurp(dir_ / "out.wav"), "keep");
  EXPECT_EQ(files(), (std::set<std::string>{"in.sub", "out.wav"}));
}

// Just over 4 GiB of 32-bit float WAV, fed through a pipe, reads back whole.
TEST_F(RenderTest, WavPastFourGiBIsRf64AndReadsBackWhole) {
#ifdef SYNTHTAB_SANITIZED
  GTEST_SKIP() << "minutes under the sanitizers";
#endif
  const std::size_t frames = (std::size_t{1} << 30) + 32 * 1024;
  const std::uintmax_t need = 4 * frames + (std::uintmax_t{64} << 20);
  if (fs::space(dir_).available < need)
    GTEST_SKIP() << "needs " << (need >> 20) << " MiB free in " << dir_.parent_path()
                 << " (TMPDIR), has " << (fs::space(dir_).available >> 20);
  // A failed render must fail the test, not end it by SIGPIPE in the feeder.
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &old);
  const std::string pipe = fifo("pipe");
  std::thread feed([&] {
    std::FILE *f = std::fopen(pipe.c_str(), "wb");
    const std::string zeros(1 << 20, '\0');
    for (std::size_t left = 8 * frames; f && left > 0; left -= std::min(left, zeros.size()))
      std::fwrite(zeros.data(), 1, std::min(left, zeros.size()), f);
    if (f) std::fclose(f);
  });
  const Outcome r =
      tool({"render", "--format=wav", "--sample=f32", "-", at("big.wav")}, nullptr, pipe.c_str());
  feed.join();
  sigaction(SIGPIPE, &old, nullptr);
  ASSERT_EQ(r.status, 0) << r.err;
  // The header grew into RF64 (a ds64 chunk after "WAVE") and states it all.
  std::string h(58 + 36, '\0');
  std::ifstream(dir_ / "big.wav", std::ios::binary).read(h.data(), h.size());
  EXPECT_EQ(h.substr(0, 4) + h.substr(8, 8), "RF64WAVEds64");
  EXPECT_EQ(le(h, 4, 4), 0xFFFFFFFFu);
  EXPECT_EQ(le(h, 20, 8), fs::file_size(dir_ / "big.wav") - 8);  // RIFF size
  EXPECT_EQ(le(h, 28, 8), 4 * frames);                          // data size
  EXPECT_EQ(le(h, 36, 8), frames);                              // sample count
  EXPECT_EQ(h.substr(86, 8), std::string("data\xFF\xFF\xFF\xFF", 8));
  EXPECT_EQ(fs::file_size(dir_ / "big.wav"), 94 + 4 * frames);
  fs::remove(dir_ / "big.wav");
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

// Durable replacement, traced: a new OUTPUT is linked straight at its name (no
// temporary name exists even for a moment); over an existing one the
// temporary is renamed by the very next system call.
TEST_F(RenderTest, ReplacementNamesOnlyOutputOrRenamesAtOnce) {
  if (!have_program("strace")) GTEST_SKIP() << "no strace";
  subbands("in.sub", 40, 1, 0.02, 16);
  for (const bool exists : {false, true}) {
    if (exists) std::ofstream(dir_ / "out.wav") << "keep";
    const Outcome r = spawn({"env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-s", "4096", "-o",
                             at("trace"), SYNTHTAB_CLI, "render", at("in.sub"), at("out.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> calls;
    std::ifstream trace(dir_ / "trace");
    for (std::string line; std::getline(trace, line);) calls.push_back(line);
    const auto link = std::find_if(calls.rbegin(), calls.rend(), [](const std::string &c) {
      return c.rfind("linkat(", 0) == 0 && c.find(") = 0") != std::string::npos;
    });
    ASSERT_TRUE(link != calls.rend() && link != calls.rbegin());
    EXPECT_NE(link->find(exists ? "/.synthtab-" : "/out.wav\""), std::string::npos) << *link;
    EXPECT_TRUE(!exists || link[-1].rfind("rename(", 0) == 0) << link[-1];
    for (const std::string &c : calls) EXPECT_TRUE(exists || c.find(".synthtab-") == c.npos) << c;
    fs::remove(dir_ / "out.wav");
  }
}

// Rendering from a pipe, something done mid-run: only a SIGKILL between the
// link and the rename over an existing OUTPUT leaves a temporary, whole, and
// OUTPUT as it was.
TEST_F(RenderTest, ReplacementLeavesOutputWholeOrAsItWas) {
  subbands("in.sub", 40, 1, 0.02, 17);
  ASSERT_EQ(tool({"render", at("in.sub"), at("want")}).status, 0);
  const std::string input = slurp(dir_ / "in.sub"), want = slurp(dir_ / "want");
  fs::remove(dir_ / "want");
  struct Case {
    const char *faults, *before, *meanwhile;  // OUTPUT's content at the start and mid-run
    int status;
  };
  for (const Case &k : {Case{"tmpfile", nullptr, nullptr, 0},  // a named temporary, bare name
                        Case{"", nullptr, "other", 0},          // OUTPUT created meanwhile
                        Case{"rename-kill", nullptr, nullptr, 0},  // a new OUTPUT: no rename
                        Case{"rename-kill", "keep", nullptr, 128 + SIGKILL}}) {
    SCOPED_TRACE(std::string(k.faults) + (k.before ? " over OUTPUT" : ""));
    if (k.before) std::ofstream(dir_ / "out") << k.before;
    const std::string pipe = fifo("pipe");
    std::optional<Faults> faults;
    if (*k.faults) faults.emplace(k.faults);
    Running p = start({"/bin/sh", "-c",
                       "cd '" + dir_.string() + "' && exec '" + SYNTHTAB_CLI + "' render pipe out"});
    std::FILE *feed = std::fopen(pipe.c_str(), "wb");
    ASSERT_NE(feed, nullptr);
    std::fwrite(input.data(), 1, 2560, feed);
    std::fflush(feed);
    while (!writes_in_dir(p.pid) && running(p.pid)) std::this_thread::yield();  // output open
    std::set<std::string> others = files();  // a named temporary, mid-run
    for (const char *f : {"pipe", "out", "in.sub"}) others.erase(f);
    EXPECT_EQ(others.size(), *k.faults == 't' ? 1u : 0u);
    for (const std::string &t : others) EXPECT_EQ(t.rfind(".synthtab-", 0), 0u) << t;
    if (k.meanwhile) std::ofstream(dir_ / "out") << k.meanwhile;
    std::fwrite(input.data() + 2560, 1, input.size() - 2560, feed);
    std::fclose(feed);
    EXPECT_EQ(finish(p).status, k.status);
    faults.reset();
    fs::remove(pipe);
    EXPECT_TRUE(slurp(dir_ / "out") == (k.status ? k.before : want));
    others = files();
    for (const char *f : {"out", "in.sub"}) others.erase(f);
    EXPECT_EQ(others.size(), k.status ? 1u : 0u);
    for (const std::string &t : others) {
      EXPECT_EQ(t.rfind(".synthtab-", 0), 0u) << t;
      EXPECT_TRUE(slurp(dir_ / t) == want);  // whole and synced
      fs::remove(dir_ / t);
    }
    fs::remove(dir_ / "out");
  }
}

}  // namespace
