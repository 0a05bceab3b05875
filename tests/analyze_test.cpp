// synthtab analyze as a user runs it: the README's round-trip pipeline as
// written, Ogg Vorbis input against the direct form, and bad input. Each test
// works inside a folder of its own; audio is made and read with libsndfile.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "analysis_helpers.h"
#include "spawn.h"

namespace {

namespace fs = std::filesystem;

// Reads a whole audio file, or raw little-endian float64 when raw is set;
// info gets the file's channels, rate and frame count.
std::vector<double> read_audio(const fs::path &p, SF_INFO &info, bool raw = false) {
  info = {};
  if (raw) {
    info.channels = 1;
    info.samplerate = 1;
    info.format = SF_FORMAT_RAW | SF_FORMAT_DOUBLE | SF_ENDIAN_LITTLE;
  }
  SNDFILE *f = sf_open(p.c_str(), SFM_READ, &info);
  std::vector<double> x;
  if (f) {
    x.resize(info.frames * info.channels);
    x.resize(sf_readf_double(f, x.data(), info.frames) * info.channels);
    sf_close(f);
  }
  return x;
}

std::vector<double> read_f64(const fs::path &p) {
  SF_INFO info;
  return read_audio(p, info, true);
}

// Two channels at 44.1 kHz: sines across the band on the left, noise on the
// right, both well below full scale.
std::vector<double> stereo(std::size_t frames) {
  std::mt19937_64 gen(7);
  std::uniform_real_distribution<double> u(-0.25, 0.25);
  std::vector<double> x(2 * frames);
  for (std::size_t n = 0; n < frames; n++) {
    for (double f : {220.0, 3100.0, 9500.0, 17000.0})
      x[2 * n] += 0.2 * std::sin(2 * std::acos(-1.0) * f / 44100 * n);
    x[2 * n + 1] = u(gen);
  }
  return x;
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
  fs::path at(const std::string &name) const { return dir_ / name; }

  void write_audio(const std::string &name, int format, const std::vector<double> &x) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = format;
    SNDFILE *f = sf_open(at(name).c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(sf_writef_double(f, x.data(), x.size() / 2), sf_count_t(x.size() / 2));
    sf_close(f);
  }

  fs::path dir_;
};

TEST_F(AnalyzeTest, TheReadmePipelineRebuildsAFlacFile) {
  // The round trip exactly as the README prints it, run by the shell in this
  // folder with the tool first on the PATH.
  std::ifstream readme(SYNTHTAB_README);
  std::string pipeline;
  for (std::string line; pipeline.empty() && std::getline(readme, line);)
    if (line.rfind("synthtab analyze song.flac - |", 0) == 0) pipeline = line;
  ASSERT_FALSE(pipeline.empty()) << "no 'synthtab analyze song.flac - | ...' line in the README";

  write_audio("song.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, stereo(44100));
  SF_INFO in_info, out_info;
  const std::vector<double> x = read_audio(at("song.flac"), in_info);  // 16-bit, as stored
  const Outcome r =
      spawn({"/bin/sh", "-c",
             "cd '" + dir_.string() + "' && PATH='" +
                 fs::path(SYNTHTAB_CLI).parent_path().string() + "':\"$PATH\" && " + pipeline});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "synthtab: analyze: 2 channels at 44100 Hz: render --channels 2 --rate 44100\n");

  const std::vector<double> y = read_audio(at("out.flac"), out_info);
  ASSERT_EQ(out_info.channels, 2);
  EXPECT_EQ(out_info.samplerate, 44100);
  EXPECT_EQ(out_info.frames, (in_info.frames + 31) / 32 * 32);
  // Compared where the output reaches, 481 samples late; back at 16 bits.
  const std::vector<double> head(x.begin(), x.end() - 2 * kRoundTripDelay);
  for (int ch = 0; ch < 2; ch++) EXPECT_GE(snr_db(head, y, 2, ch), 80) << ch;
}

TEST_F(AnalyzeTest, OggVorbisInputMatchesTheDirectFormAndRoundTrips) {
  write_audio("in.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, stereo(20000));
  SF_INFO info;
  const std::vector<double> x = read_audio(at("in.ogg"), info);  // decoded as the tool will
  ASSERT_EQ(info.channels, 2);
  const std::size_t frames = x.size() / 2;

  // The subbands, blocks of 32 per channel interleaved block by block, the
  // last block zero-padded; against the direct form on the padded input.
  Outcome r = tool({"analyze", at("in.ogg"), at("sub.f64")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<double> sub = read_f64(at("sub.f64"));
  const std::size_t blocks = (frames + 31) / 32;
  ASSERT_EQ(sub.size(), 64 * blocks);
  std::vector<double> padded(x);
  padded.resize(64 * blocks);
  for (int ch = 0; ch < 2; ch++) {
    DirectAnalysis direct;
    double dev = 0, peak = 0, s[32];
    for (std::size_t b = 0; b < blocks; b++) {
      direct.analyze(&padded[64 * b + ch], s, 2);
      for (int i = 0; i < 32; i++) {
        dev = std::max(dev, std::fabs(sub[64 * b + 32 * ch + i] - s[i]));
        peak = std::max(peak, std::fabs(s[i]));
      }
    }
    EXPECT_LE(dev, 1e-12 * std::max(1.0, peak)) << ch;
  }

  // --flush adds silence until the last sample is through render, at scale 1.
  r = tool({"analyze", "--flush", at("in.ogg"), at("flushed.f64")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<double> flushed = read_f64(at("flushed.f64"));
  EXPECT_EQ(flushed.size(), 64 * ((frames + kRoundTripDelay + 31) / 32));
  EXPECT_TRUE(std::equal(sub.begin(), sub.end(), flushed.begin()));
  r = tool({"render", "--channels", "2", "--scale", "1", at("flushed.f64"), at("out.f64")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<double> y = read_f64(at("out.f64"));
  for (int ch = 0; ch < 2; ch++) EXPECT_GE(snr_db(x, y, 2, ch), 80) << ch;
}

TEST_F(AnalyzeTest, BadInputExits2WithOneLineAndNoOutput) {
  std::ofstream(at("notes.txt")) << "not audio\n";
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"analyze", at("notes.txt"), at("out.f64")},
        {"analyze", at("missing.wav"), at("out.f64")},
        {"analyze", at("notes.txt")},
        {"analyze", "--frobnicate", at("notes.txt"), at("out.f64")}}) {
    const Outcome r = tool(args);
    EXPECT_EQ(r.status, 2) << args[1];
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(fs::exists(at("out.f64")));
  }
}

}  // namespace
