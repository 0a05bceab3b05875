// synthtab analyze as a user runs it, inside a folder of the test's own: the
// speech recordings of Debian's alsa-utils and files that other software made
// (Python's wave and aifc, flac, oggenc) against the direct form and rebuilt
// through render, from files and pipes; the README's pipeline exactly as
// printed; headers of every kind; cut, damaged and foreign input.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "analysis_helpers.h"
#include "audio_tools.h"
#include "spawn.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSounds = "/usr/share/sounds/alsa";  // alsa-utils

// A recording of alsa-utils as Python reads it; missing is a failure under CI,
// which installs it.
std::vector<double> recording(const std::string &name) {
  const ToolAudio a = read_with_tools((kSounds / name).string(), fs::temp_directory_path().string());
  if (!a.error.empty() && std::getenv("CI")) ADD_FAILURE() << "cannot read " << kSounds / name;
  return a.x;
}

class AnalyzeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "synthtab-analyze-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
  }
  void TearDown() override { fs::remove_all(dir_); }

  Outcome tool(std::vector<std::string> args) {
    args.insert(args.begin(), SYNTHTAB_CLI);
    return spawn(args);
  }
  std::string at(const std::string &name) const { return (dir_ / name).string(); }
  static bool built(const std::string &format) { return tool_has(SYNTHTAB_CLI, format); }
  Outcome analyze(const std::string &in, const std::string &out, bool pipe) {
    return pipe ? piped(in, {SYNTHTAB_CLI, "analyze", "-", out}) : tool({"analyze", in, out});
  }

  // x (interleaved, full scale 1) at `width` bytes a sample, as the other
  // tools write a file of name's kind; returns what they decode from it, or
  // nothing with a skip message in skip_.
  std::vector<double> made_by_tools(const std::string &name, const std::vector<double> &x,
                                    int channels, int width, long rate = 44100) {
    const double full = std::ldexp(1.0, 8 * width - 1);
    std::vector<int32_t> v;
    for (double s : x) v.push_back(static_cast<int32_t>(std::clamp(std::round(s * full), -full, full - 1)));
    const std::string why = write_with_tools(at(name), channels, rate, width, v, dir_.string());
    const ToolAudio a = why.empty() ? read_with_tools(at(name), dir_.string()) : ToolAudio{};
    skip_ = why.empty() ? a.error : why;
    EXPECT_TRUE(skip_.empty() || skip_.rfind("SKIP", 0) == 0) << skip_;
    return skip_.empty() ? a.x : std::vector<double>{};
  }

  // Runs input through analyze, from the file and from a pipe: its subbands
  // must match the direct form on x, the samples other software decodes from
  // it (within tolerance where that decoding is coarser). Then through
  // analyze --flush and render at scale 1; returns what render wrote.
  std::vector<double> through_tool(const std::string &input, const std::vector<double> &x,
                                   int channels, double tolerance = 1e-12) {
    Outcome r = analyze(input, at("sub.f64"), false);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LE(deviation(read_f64(at("sub.f64")), subbands<DirectAnalysis>(x, channels)), tolerance);
    r = analyze(input, at("piped.f64"), true);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(slurp(at("piped.f64")) == slurp(at("sub.f64")));
    r = tool({"analyze", "--flush", input, at("flushed.f64")});
    EXPECT_EQ(r.status, 0) << r.err;
    r = tool({"render", "--channels", std::to_string(channels), "--scale", "1", at("flushed.f64"),
              at("out.f64")});
    EXPECT_EQ(r.status, 0) << r.err;
    return read_f64(at("out.f64"));
  }

  fs::path dir_;
  std::string skip_;
};

class Recording : public AnalyzeTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(Recording, MatchesTheDirectFormAndComesBack481SamplesLate) {
  const std::vector<double> x = recording(GetParam());
  if (x.empty()) GTEST_SKIP() << "no " << kSounds / GetParam() << " (alsa-utils)";
  EXPECT_GE(snr_db(x, through_tool(kSounds / GetParam(), x, 1), 1), 80);
}

INSTANTIATE_TEST_SUITE_P(AlsaUtils, Recording,
                         ::testing::Values("Front_Center.wav", "Front_Left.wav", "Front_Right.wav",
                                           "Noise.wav", "Rear_Center.wav", "Rear_Left.wav",
                                           "Rear_Right.wav", "Side_Left.wav", "Side_Right.wav"));

// Files other software made, in every sample width and container, from files
// and pipes; stereo keeps its channels apart.
struct Made {
  const char *name;
  int channels, width;
};

class MadeByOthers : public AnalyzeTest, public ::testing::WithParamInterface<Made> {};

TEST_P(MadeByOthers, MatchesTheDirectFormAndKeepsChannelsApart) {
  const Made k = GetParam();
  const std::string ext = k.name + std::string(k.name).rfind('.') + 1;
  if (!built(ext)) GTEST_SKIP() << "a build without " << ext;
  const std::vector<double> left = recording("Front_Left.wav"),
                            right = recording("Front_Right.wav");
  if (left.empty() || right.empty()) GTEST_SKIP() << "no alsa-utils recordings";
  std::vector<double> x;
  for (std::size_t n = 0; n < std::min(left.size(), right.size()); n++)
    for (int ch = 0; ch < k.channels; ch++) x.push_back(ch ? right[n] : left[n]);
  x = made_by_tools(k.name, x, k.channels, k.width);
  if (x.empty()) GTEST_SKIP() << skip_;
  // oggdec decodes to 16 bits, the tool to float: they differ by its rounding.
  const bool ogg = ext == "ogg";
  const std::vector<double> y = through_tool(at(k.name), x, k.channels, ogg ? 1e-4 : 1e-12);
  for (int ch = 0; ch < k.channels; ch++)
    EXPECT_GE(snr_db(x, y, k.channels, ch), ogg ? 60 : 80) << ch;
  if (k.channels == 2) {
    std::vector<double> swapped(y.size());
    for (std::size_t n = 0; n < y.size(); n++) swapped[n] = y[n ^ 1];
    for (int ch = 0; ch < 2; ch++) EXPECT_LT(snr_db(x, swapped, 2, ch), 3) << ch;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, MadeByOthers,
    ::testing::Values(Made{"u8.wav", 1, 1}, Made{"s16.wav", 2, 2}, Made{"s24.wav", 2, 3},
                      Made{"s32.wav", 1, 4}, Made{"s8.aiff", 1, 1}, Made{"s16.aif", 2, 2},
                      Made{"s24.aiff", 1, 3}, Made{"s32.aiff", 2, 4}, Made{"s16.flac", 2, 2},
                      Made{"s24.flac", 1, 3}, Made{"pair.ogg", 2, 2}),
    [](const auto &info) {
      const std::string n = info.param.name;
      return n.substr(0, n.find('.')) + "_" + n.substr(n.find('.') + 1);
    });

TEST_F(AnalyzeTest, TheReadmePipelineRebuildsAFlacFile) {
  if (!built("flac")) GTEST_SKIP() << "a build without FLAC";
  std::ifstream readme(SYNTHTAB_README);
  std::string pipeline;
  for (std::string line; pipeline.empty() && std::getline(readme, line);)
    if (line.rfind("synthtab analyze song.flac - |", 0) == 0) pipeline = line;
  ASSERT_FALSE(pipeline.empty()) << "no 'synthtab analyze song.flac - | ...' line in the README";

  // Sines across the band on the left, noise on the right, at 16 bits.
  std::mt19937_64 gen(7);
  std::uniform_real_distribution<double> noise(-0.25, 0.25);
  std::vector<double> song(2 * 44100);
  for (std::size_t n = 0; n < song.size() / 2; n++) {
    for (double f : {220.0, 3100.0, 9500.0, 17000.0})
      song[2 * n] += 0.2 * std::sin(2 * std::acos(-1.0) * f / 44100 * n);
    song[2 * n + 1] = noise(gen);
  }
  const std::vector<double> x = made_by_tools("song.flac", song, 2, 2);
  if (x.empty()) GTEST_SKIP() << skip_;

  // As printed, by the shell, in this folder, with the tool first on the PATH.
  const Outcome r =
      spawn({"/bin/sh", "-c",
             "cd '" + dir_.string() + "' && PATH='" +
                 fs::path(SYNTHTAB_CLI).parent_path().string() + "':\"$PATH\" && " + pipeline});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // quiet: the subband file's header carries channels and rate
  const ToolAudio out = read_with_tools(at("out.flac"), dir_.string());
  ASSERT_EQ(out.error, "");
  const std::vector<double> &y = out.x;
  EXPECT_EQ(out.channels, 2);
  EXPECT_EQ(out.rate, 44100);
  // As long as the input in whole blocks; compared where it reaches, 481 late.
  ASSERT_EQ(y.size(), (x.size() / 2 + 31) / 32 * 64);
  const std::vector<double> head(x.begin(), x.end() - 2 * kRoundTripDelay);
  for (int ch = 0; ch < 2; ch++) EXPECT_GE(snr_db(head, y, 2, ch), 80) << ch;
}

// Noise on both channels, a second of it at rate.
std::vector<double> noise(int rate, uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(-0.5, 0.5);
  std::vector<double> x(2 * rate);
  for (double &v : x) v = u(gen);
  return x;
}

TEST_F(AnalyzeTest, SubbandFilesCarryChannelsAndRate) {
  if (made_by_tools("in.wav", noise(48000, 1), 2, 2, 48000).empty()) GTEST_SKIP() << skip_;
  ASSERT_EQ(tool({"analyze", at("in.wav"), at("x.sub")}).status, 0);
  ASSERT_EQ(tool({"analyze", at("in.wav"), at("x.npy")}).status, 0);
  const Outcome r = tool({"render", at("x.sub"), at("out.wav")});  // no options
  ASSERT_EQ(r.status, 0) << r.err;
  const ToolAudio y = read_with_tools(at("out.wav"), dir_.string());
  EXPECT_EQ(y.rate, 48000);
  EXPECT_EQ(y.channels, 2);
  EXPECT_EQ(y.x.size(), 2u * 1500 * 32);

  // The header, as the README lays it out; the .npy one, as NumPy reads it.
  const std::string sub = slurp(at("x.sub")), npy = slurp(at("x.npy"));
  ASSERT_GT(sub.size(), 32u);
  EXPECT_EQ(sub.substr(0, 8), "SYNTHSUB");
  EXPECT_EQ(sub.substr(8, 12), std::string("\x01\x00\x20\x00\x02\x00\x00\x00\x80\xBB\x00\x00", 12));
  EXPECT_EQ(sub.substr(20, 12), std::string(12, '\0'));
  ASSERT_GT(npy.size(), 10u);
  EXPECT_EQ(npy.substr(0, 8), std::string("\x93NUMPY\x01\x00", 8));
  const std::size_t head = 10 + static_cast<unsigned char>(npy[8]) + 256 * static_cast<unsigned char>(npy[9]);
  EXPECT_EQ(head % 64, 0u);
  const std::string dict = npy.substr(10, head - 10);
  EXPECT_EQ(dict.back(), '\n');
  EXPECT_NE(dict.find("'descr': '<f8'"), std::string::npos) << dict;
  EXPECT_NE(dict.find("'fortran_order': False"), std::string::npos) << dict;
  EXPECT_NE(dict.find(" 1500, 2, 32)"), std::string::npos) << dict;
  EXPECT_TRUE(npy.substr(head) == sub.substr(32));

  // .npy from a pipe: its count set at the end; and back through render.
  EXPECT_EQ(analyze(at("in.wav"), at("y.npy"), true).status, 0);
  EXPECT_TRUE(slurp(at("y.npy")) == npy);
  EXPECT_EQ(tool({"render", "--rate=48000", at("y.npy"), at("out2.wav")}).status, 0);
  EXPECT_TRUE(slurp(at("out2.wav")) == slurp(at("out.wav")));

  // render - | analyze -: the stream's WAV header states no sizes, and is whole.
  ASSERT_EQ(tool({"analyze", at("out.wav"), at("want.sub")}).status, 0);
  const Outcome p = piped(
      at("x.sub"), {"/bin/sh", "-c", "\"$0\" render --format=wav - - | \"$0\" analyze - \"$1\"",
                    SYNTHTAB_CLI, at("piped.sub")});
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_TRUE(slurp(at("piped.sub")) == slurp(at("want.sub")));
}

// One set of samples in every header and sample format the tool reads, each
// written here byte by byte: all give the very same subband file.
TEST_F(AnalyzeTest, EveryHeaderKindGivesTheSameSubbands) {
  std::mt19937 gen(5);
  std::vector<int16_t> v(2 * 3000);
  for (int16_t &s : v) s = static_cast<int16_t>(gen());
  // Samples at `bytes` each (the 16-bit values moved up), or as float of 4 or 8.
  const auto samples = [&](int bytes, bool real, bool big) {
    std::string d;
    for (int16_t s : v) {
      uint64_t u = static_cast<uint64_t>(static_cast<int64_t>(s)) << (8 * bytes - 16);
      const float f = s / 32768.0f;
      const double g = s / 32768.0;
      uint32_t w;
      std::memcpy(&w, &f, 4);
      if (real && bytes == 4) u = w;
      if (real && bytes == 8) std::memcpy(&u, &g, 8);
      d += bytes_of(u, bytes, big);
    }
    return d;
  };
  // A chunk stating its body's size, or `size`, padded to an even size.
  const auto chunk = [](const std::string &id, const std::string &body, bool big = false,
                        int64_t size = -1) {
    return id + bytes_of(size < 0 ? body.size() : uint64_t(size), 4, big) + body +
           std::string(body.size() % 2, '\0');
  };
  const auto fmt = [&](int tag, int bytes, bool extensible) {
    return chunk(
        "fmt ",
        bytes_of(extensible ? 0xFFFE : tag, 2) + bytes_of(2, 2) + bytes_of(44100, 4) +
            bytes_of(44100 * 2 * bytes, 4) + bytes_of(2 * bytes, 2) + bytes_of(8 * bytes, 2) +
            (extensible
                 ? bytes_of(22, 2) + bytes_of(8 * bytes, 2) + bytes_of(3, 4) + bytes_of(tag, 2) +
                       std::string("\0\0\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 14)
                 : ""));  // channel mask 3, then the GUID's tail
  };
  const auto riff = [&](const std::string &chunks, int64_t size = -1) {
    return chunk("RIFF", "WAVE" + chunks, false, size);
  };
  const auto aiff = [&](const std::string &type, int bytes, bool real, bool big) {
    const std::string comm = bytes_of(2, 2, true) + bytes_of(3000, 4, true) +
                             bytes_of(8 * bytes, 2, true) +
                             std::string("\x40\x0E\xAC\x44\0\0\0\0\0\0", 10) +  // 44100 as 80 bits
                             (type.empty() ? "" : type + std::string("\x04name\0", 6));
    return chunk("FORM",
                 (type.empty() ? "AIFF" : "AIFC" + chunk("FVER", "\xA2\x80\x51\x40", true)) +
                     chunk("COMM", comm, true) + chunk("NAME", "odd", true) +
                     chunk("SSND", std::string(8, '\0') + samples(bytes, real, big), true),
                 true);
  };
  const std::string s16 = samples(2, false, false), odd = chunk("LIST", "odd"),
                    stream = chunk("data", s16, false, 0xFFFFFFFF);
  const auto rf64 = [&](uint64_t data_size) {  // 0: a ds64 that states no data size either
    const std::string ds64 = bytes_of(0, 8) + bytes_of(data_size, 8) + bytes_of(3000, 8) +
                             bytes_of(0, 4);
    return chunk("RF64", "WAVE" + chunk("ds64", ds64) + fmt(1, 2, false) + stream, false,
                 0xFFFFFFFF);
  };
  const std::vector<std::pair<std::string, std::string>> kinds = {
      {"canonical", riff(fmt(1, 2, false) + chunk("data", s16))},
      {"extensible", riff(fmt(1, 2, true) + chunk("data", s16))},
      {"odd chunks", riff(odd + fmt(1, 2, false) + odd + chunk("data", s16) + odd)},
      {"stream sizes", riff(fmt(1, 2, false) + stream, 0xFFFFFFFF)},
      {"zero sizes", riff(fmt(1, 2, false) + chunk("data", s16, false, 0))},
      {"rf64", rf64(s16.size())},
      {"rf64 stream", rf64(0)},
      {"s24", riff(fmt(1, 3, false) + chunk("data", samples(3, false, false)))},
      {"s32", riff(fmt(1, 4, true) + chunk("data", samples(4, false, false)))},
      {"f32", riff(fmt(3, 4, false) + chunk("data", samples(4, true, false)))},
      {"f64", riff(fmt(3, 8, true) + chunk("data", samples(8, true, false)))},
      {"aiff", aiff("", 2, false, true)},
      {"aifc NONE", aiff("NONE", 3, false, true)},
      {"aifc sowt", aiff("sowt", 2, false, false)},
      {"aifc fl32", aiff("fl32", 4, true, true)},
      {"aifc fl64", aiff("fl64", 8, true, true)},
  };
  std::string want;
  for (const auto &[name, bytes] : kinds) {
    SCOPED_TRACE(name);
    std::ofstream(at("in"), std::ios::binary) << bytes;
    for (const bool pipe : {false, true}) {
      const Outcome r = analyze(at("in"), at("out.sub"), pipe);
      ASSERT_EQ(r.status, 0) << pipe << ": " << r.err;
      const std::string got = slurp(at("out.sub"));
      if (want.empty()) want = got;
      EXPECT_TRUE(got == want) << pipe;
    }
  }
  EXPECT_EQ(want.size(), 32 + 8u * 2 * 32 * ((3000 + 31) / 32));
}

// Cut or damaged input, from a file or a pipe: exit 2, one line naming the
// file, OUTPUT untouched.
TEST_F(AnalyzeTest, CutOrDamagedInputIsRefused) {
  std::vector<std::pair<std::string, std::string>> cases;
  const auto with = [](std::string s, std::size_t at, const std::string &b) {
    return s.replace(at, b.size(), b);
  };
  const auto flip = [](char c, int bits) { return std::string(1, static_cast<char>(c ^ bits)); };
  uint64_t seed = 2;
  for (const std::string ext : {"wav", "aiff", "flac", "ogg"}) {
    if (!built(ext) || made_by_tools("whole." + ext, noise(44100, seed++), 2, 2).empty()) continue;
    const std::string w = slurp(at("whole." + ext));
    const std::size_t n = w.size();
    // Cut: in the header (WAV: inside RIFF, the fmt chunk, the data chunk's
    // header), half way, mid-frame; Ogg from the header pages to the last page.
    std::vector<std::size_t> cuts = {n / 2, n - 1};
    if (ext == "wav") cuts.insert(cuts.end(), {0, 4, 11, 12, 20, 35, 36, 40, 43});
    if (ext == "aiff") cuts.insert(cuts.end(), {20, 40});
    if (ext == "flac") cuts.insert(cuts.end(), {20, 41});
    if (ext == "ogg") cuts = {40, 160, 360};
    for (int k = 1; ext == "ogg" && k < 13; k++) cuts.push_back(n * k / 13);
    for (std::size_t cut : cuts)
      cases.push_back({"cut" + std::to_string(cut) + "." + ext, w.substr(0, cut)});
    if (ext == "wav") {  // data chunks of 2^32 - 4 bytes, and of a partial frame
      cases.push_back({"claim.wav", with(w.substr(0, 44 + 1000), 40, "\xFC\xFF\xFF\xFF")});
      cases.push_back({"partial.wav", with(w, 40, std::string(1, static_cast<char>(w[40] - 2)))});
    }
    if (ext == "flac") {  // a frame's CRC, STREAMINFO's MD5 sum
      cases.push_back({"crc.flac", with(w, n / 2, std::string(64, '\0'))});
      cases.push_back({"md5.flac", with(w, 30, flip(w[30], 1))});
    }
    for (int k = 1; ext == "ogg" && k < 12; k++)  // single flipped bytes across the audio pages
      cases.push_back(
          {"flip" + std::to_string(k) + ".ogg", with(w, n * k / 12, flip(w[n * k / 12], 0x10))});
  }
  for (const auto &[name, bytes] : cases) {
    SCOPED_TRACE(name);
    std::ofstream(at(name), std::ios::binary) << bytes;
    std::ofstream(at("out.sub")) << "keep";
    for (const bool pipe : {false, true}) {
      const Outcome r = analyze(at(name), at("out.sub"), pipe);
      EXPECT_EQ(r.status, 2) << pipe;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      EXPECT_NE(r.err.find(pipe ? "'-'" : "'" + at(name).substr(0, 40)), std::string::npos)
          << r.err;
      EXPECT_NE(r.err.find(": expected "), std::string::npos) << r.err;
      EXPECT_EQ(r.err.find("not Vorbis"), std::string::npos) << r.err;  // cut, not foreign
      EXPECT_EQ(slurp(at("out.sub")), "keep");
    }
    fs::remove(at(name));
  }
}

// Cut while analyze reads it: analyze writes to a FIFO that nobody drains
// yet, so it is blocked there, a fraction of the way in, when the cut comes.
TEST_F(AnalyzeTest, InputCutWhileReadIsRefused) {
  std::vector<double> x(2 * 1500000, 0.25);  // 6 MB of 16-bit stereo: 24 MB of subbands
  if (made_by_tools("in.wav", x, 2, 2).empty()) GTEST_SKIP() << skip_;
  ASSERT_EQ(mkfifo(at("pipe").c_str(), 0600), 0);
  Running p = start({SYNTHTAB_CLI, "analyze", at("in.wav"), at("pipe")});
  std::FILE *reader = std::fopen(at("pipe").c_str(), "rb");
  ASSERT_NE(reader, nullptr);
  fs::resize_file(at("in.wav"), 3000000);
  slurp(reader);
  const Outcome r = finish(p);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("'" + at("in.wav").substr(0, 50)), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("ended after 749989 of the 1500000 frames"), std::string::npos) << r.err;
}

// An endless WAV stream (sizes 0xFFFFFFFF) through a FIFO: subbands come out
// while it still flows, nothing lands in TMPDIR, and its end is whole.
TEST_F(AnalyzeTest, StreamIsAnalysedAsItArrives) {
  fs::create_directory(at("tmp"));
  ASSERT_EQ(mkfifo(at("in").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(at("out").c_str(), 0600), 0);
  std::atomic<std::size_t> received{0};
  std::thread drain([&] {
    if (std::FILE *f = std::fopen(at("out").c_str(), "rb")) {
      char buf[4096];
      for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) received += n;
      std::fclose(f);
    }
  });
  const char *old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", at("tmp").c_str(), 1);
  std::FILE *feed = nullptr;  // opened beside the start, which waits for a writer
  std::thread open_feed([&] { feed = std::fopen(at("in").c_str(), "wb"); });
  Running p = start({SYNTHTAB_CLI, "analyze", "-", at("out")}, nullptr, at("in").c_str());
  open_feed.join();
  old ? setenv("TMPDIR", saved.c_str(), 1) : unsetenv("TMPDIR");
  ASSERT_NE(feed, nullptr);
  const std::string header("RIFF\xFF\xFF\xFF\xFFWAVEfmt \x10\0\0\0\x01\0\x01\0\x44\xAC\0\0"
                           "\x88\x58\x01\0\x02\0\x10\0data\xFF\xFF\xFF\xFF", 44);
  std::fwrite(header.data(), 1, header.size(), feed);
  const std::string second(2 * 44100, '\x10');
  while (received == 0) {  // a second of audio at a time, until subbands come out
    ASSERT_EQ(std::fwrite(second.data(), 1, second.size(), feed), second.size());
    std::fflush(feed);
  }
  EXPECT_TRUE(fs::is_empty(at("tmp")));
  std::fclose(feed);
  const Outcome r = finish(p);
  drain.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ((received - 32) % (8 * 32), 0u);
}

// A chunk of 100 KB before "fmt " needs no seeking: from a pipe, the same
// subbands as from the file, and nothing in TMPDIR, whether it exists or not.
TEST_F(AnalyzeTest, StreamsAreNeverCopiedAside) {
  if (made_by_tools("plain.wav", noise(8000, 4), 2, 2, 8000).empty()) GTEST_SKIP() << skip_;
  const std::string plain = slurp(at("plain.wav"));
  std::ofstream(at("far.wav"), std::ios::binary)
      << "RIFF" + bytes_of(plain.size() + 100000, 4) + "WAVEJUNK" + bytes_of(100000, 4) +
             std::string(100000, '\0') + plain.substr(12);
  ASSERT_EQ(tool({"analyze", at("far.wav"), at("file.sub")}).status, 0);
  fs::create_directory(at("tmp"));
  for (const std::string tmp : {"tmp", "missing"}) {
    const Outcome r = piped(
        at("far.wav"), {"env", "TMPDIR=" + at(tmp), SYNTHTAB_CLI, "analyze", "-", at("pipe.sub")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(slurp(at("pipe.sub")) == slurp(at("file.sub")));
  }
  EXPECT_TRUE(fs::is_empty(at("tmp")));
}

// Input of no format the tool reads (an ID3 tag, MPEG audio frames, text,
// subbands) and OUTPUT named as audio: exit 2, one line, no output, before
// any work (the OUTPUT name is refused even when INPUT does not exist).
TEST_F(AnalyzeTest, BadInputExits2WithOneLineAndNoOutput) {
  std::ofstream(at("notes.txt")) << "not audio\n";
  std::ofstream(at("tagged"), std::ios::binary)
      << std::string("ID3\x04\0\0\0\0\x0f\x76", 10) << std::string(4086, '\x55');
  std::ofstream(at("frames"), std::ios::binary) << std::string("\xFF\xFB\x90\x64", 4) + std::string(4092, '\0');
  std::ofstream(at("in.sub"), std::ios::binary) << "SYNTHSUB" << std::string(24 + 256 * 8, '\0');
  // A WAV header stating 65,535 channels (512 MiB of filterbank states).
  std::ofstream(at("wide.wav"), std::ios::binary)
      << std::string("RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\xFF\xFF\x44\xAC\0\0"
                     "\0\0\0\0\xFF\xFF\x08\0data\0\0\0\0", 44);
  const char *outputs[] = {"o", "o.wav", "o.FLAC", "o.aif", "o.aiff", "o.ogg", "o.oga"};
  // The arguments, and what the line says.
  std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{at("notes.txt")}, ": usage"},
      {{"--frobnicate", at("notes.txt"), at("o")}, ": usage"},
      {{at("wide.wav"), at("o")}, "65535 channels: expected at most 256"}};
  for (const char *in : {"notes.txt", "tagged", "frames", "in.sub"})
    cases.push_back({{at(in), at("o")}, ": expected"});
  for (const char *o : outputs)
    cases.push_back({{at("missing.wav"), at(o)}, o[1] ? "named as audio" : ": expected"});
  for (const auto &[args, says] : cases) {
    SCOPED_TRACE(args[0] + " " + args.back());
    std::vector<std::string> cmd{"analyze"};
    cmd.insert(cmd.end(), args.begin(), args.end());
    const Outcome r = tool(cmd);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
    for (const char *o : outputs) EXPECT_FALSE(fs::exists(at(o))) << o;
  }
  // A format the build left out: named as such.
  for (const auto &[format, magic] : {std::pair{"flac", "fLaC"}, std::pair{"ogg", "OggS"}}) {
    if (built(format)) continue;
    std::ofstream(at("lacking"), std::ios::binary) << magic << std::string(60, '\0');
    const Outcome r = tool({"analyze", at("lacking"), at("o")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("which this build does not read"), std::string::npos) << r.err;
  }
  // Tagged input, from a pipe: refused before anything is written or copied.
  const Outcome r =
      piped(at("tagged"), {"env", "TMPDIR=" + at("no-tmp"), SYNTHTAB_CLI, "analyze", "-", at("o")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(std::string("expected WAV, RF64, AIFF") + (built("flac") ? ", FLAC" : "") +
                       (built("ogg") ? ", Ogg Vorbis" : "") + ", subband files and .npy"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(at("o")));
}

}  // namespace
