// synthtab analyze as a user runs it, inside a folder of the test's own: the
// speech recordings of Debian's alsa-utils (WAV, and a stereo pair as Ogg
// Vorbis) against the direct form and rebuilt through render, the README's
// pipeline exactly as printed, and bad input.
#include <gtest/gtest.h>
#include <sndfile.h>
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
#include "spawn.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSounds = "/usr/share/sounds/alsa";  // alsa-utils

// A whole audio file, or raw little-endian float64 when raw is set; info gets
// its channels and rate. Empty when it cannot be read.
std::vector<double> read_audio(const fs::path &p, SF_INFO &info, bool raw = false) {
  info = {};
  if (raw) info = {0, 1, 1, SF_FORMAT_RAW | SF_FORMAT_DOUBLE | SF_ENDIAN_LITTLE, 0, 0};
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

// A recording of alsa-utils; missing is a failure under CI, which installs it.
std::vector<double> recording(const std::string &name) {
  SF_INFO info;
  std::vector<double> x = read_audio(kSounds / name, info);
  if (x.empty() && std::getenv("CI")) ADD_FAILURE() << "cannot read " << kSounds / name;
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
  std::string at(const std::string &name) const { return (dir_ / name).string(); }

  void write_stereo(const std::string &name, int format, const std::vector<double> &x,
                    int rate = 44100) {
    SF_INFO info{0, rate, 2, format, 0, 0};
    SNDFILE *f = sf_open(at(name).c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(sf_writef_double(f, x.data(), x.size() / 2), sf_count_t(x.size() / 2));
    sf_close(f);
  }

  // Runs input through analyze: its subbands must match the direct form on x,
  // the samples libsndfile decodes from it. Then through analyze --flush and
  // render at scale 1; returns what render wrote.
  std::vector<double> through_tool(const std::string &input, const std::vector<double> &x,
                                   int channels) {
    Outcome r = tool({"analyze", input, at("sub.f64")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LE(deviation(read_f64(at("sub.f64")), subbands<DirectAnalysis>(x, channels)), 1e-12);
    r = tool({"analyze", "--flush", input, at("flushed.f64")});
    EXPECT_EQ(r.status, 0) << r.err;
    r = tool({"render", "--channels", std::to_string(channels), "--scale", "1", at("flushed.f64"),
              at("out.f64")});
    EXPECT_EQ(r.status, 0) << r.err;
    return read_f64(at("out.f64"));
  }

  fs::path dir_;
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

TEST_F(AnalyzeTest, StereoOggVorbisKeepsItsChannelsApart) {
  // Two speakers, one per channel, encoded here as Ogg Vorbis.
  const std::vector<double> left = recording("Front_Left.wav"),
                            right = recording("Front_Right.wav");
  if (left.empty() || right.empty()) GTEST_SKIP() << "no alsa-utils recordings";
  std::vector<double> pair(2 * std::min(left.size(), right.size()));
  for (std::size_t n = 0; n < pair.size() / 2; n++)
    pair[2 * n] = left[n], pair[2 * n + 1] = right[n];
  write_stereo("pair.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, pair);
  SF_INFO info;
  const std::vector<double> x = read_audio(at("pair.ogg"), info);  // decoded as the tool sees it
  ASSERT_EQ(info.channels, 2);

  const std::vector<double> y = through_tool(at("pair.ogg"), x, 2);
  std::vector<double> swapped(y.size());
  for (std::size_t n = 0; n < y.size(); n++) swapped[n] = y[n ^ 1];
  for (int ch = 0; ch < 2; ch++) {
    EXPECT_GE(snr_db(x, y, 2, ch), 80) << ch;
    EXPECT_LT(snr_db(x, swapped, 2, ch), 3) << ch;  // not the other channel's
  }
}

TEST_F(AnalyzeTest, TheReadmePipelineRebuildsAFlacFile) {
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
  write_stereo("song.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, song);
  SF_INFO in_info, out_info;
  const std::vector<double> x = read_audio(at("song.flac"), in_info);

  // As printed, by the shell, in this folder, with the tool first on the PATH.
  const Outcome r =
      spawn({"/bin/sh", "-c",
             "cd '" + dir_.string() + "' && PATH='" +
                 fs::path(SYNTHTAB_CLI).parent_path().string() + "':\"$PATH\" && " + pipeline});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // quiet: the subband file's header carries channels and rate
  const std::vector<double> y = read_audio(at("out.flac"), out_info);
  EXPECT_EQ(out_info.channels, 2);
  EXPECT_EQ(out_info.samplerate, 44100);
  // As long as the input in whole blocks; compared where it reaches, 481 late.
  ASSERT_EQ(y.size(), (x.size() / 2 + 31) / 32 * 64);
  const std::vector<double> head(x.begin(), x.end() - 2 * kRoundTripDelay);
  for (int ch = 0; ch < 2; ch++) EXPECT_GE(snr_db(head, y, 2, ch), 80) << ch;

  // FLAC seeks: through a pipe it must give the same subbands as from the file.
  EXPECT_EQ(spawn({"/bin/sh", "-c",
                   "cd '" + dir_.string() + "' && '" + SYNTHTAB_CLI +
                       "' analyze song.flac a.sub 2>err && cat song.flac | '" + SYNTHTAB_CLI +
                       "' analyze - b.sub 2>err && cmp a.sub b.sub"})
                .status,
            0);
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
  write_stereo("in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, noise(48000, 1), 48000);
  ASSERT_EQ(tool({"analyze", at("in.wav"), at("x.sub")}).status, 0);
  ASSERT_EQ(tool({"analyze", at("in.wav"), at("x.npy")}).status, 0);
  const Outcome r = tool({"render", at("x.sub"), at("out.wav")});  // no options
  ASSERT_EQ(r.status, 0) << r.err;
  SF_INFO info;
  const std::vector<double> y = read_audio(at("out.wav"), info);
  EXPECT_EQ(info.samplerate, 48000);
  EXPECT_EQ(info.channels, 2);
  EXPECT_EQ(y.size(), 2u * 1500 * 32);

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
  EXPECT_EQ(spawn({"/bin/sh", "-c", "cat '" + at("in.wav") + "' | '" + SYNTHTAB_CLI +
                                        "' analyze - '" + at("y.npy") + "'"})
                .status,
            0);
  EXPECT_TRUE(slurp(at("y.npy")) == npy);
  EXPECT_EQ(tool({"render", "--rate=48000", at("y.npy"), at("out2.wav")}).status, 0);
  EXPECT_TRUE(slurp(at("out2.wav")) == slurp(at("out.wav")));
}

// Cut or damaged input, from a file or a pipe: exit 2, one line naming the
// file and how far it got, OUTPUT untouched.
TEST_F(AnalyzeTest, CutOrDamagedInputIsRefused) {
  write_stereo("whole.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, noise(44100, 2));
  write_stereo("whole.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, noise(44100, 3));
  const std::string flac = slurp(at("whole.flac")), wav = slurp(at("whole.wav"));
  std::string crc = flac;
  crc.replace(crc.size() / 2, 64, std::string(64, '\0'));
  std::string claim = wav.substr(0, 44 + 1000);  // a data chunk of 2^32 - 4 bytes
  claim.replace(40, 4, std::string("\xFC\xFF\xFF\xFF", 4));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"half.flac", flac.substr(0, flac.size() / 2)},
      {"crc.flac", crc},
      {"claim.wav", claim},
      {"half.wav", wav.substr(0, wav.size() / 2)},
      {"frame.wav", wav.substr(0, wav.size() - 1)},  // cut mid-frame
  };
  for (const auto &[name, bytes] : cases) {
    SCOPED_TRACE(name);
    std::ofstream(at(name), std::ios::binary) << bytes;
    std::ofstream(at("out.sub")) << "keep";
    const std::string tool = "'" + std::string(SYNTHTAB_CLI) + "' analyze ";
    for (const std::string &how : {tool + "'" + at(name) + "'", "cat '" + at(name) + "' | " + tool + "-"}) {
      const Outcome r = spawn({"/bin/sh", "-c", how + " '" + at("out.sub") + "'"});
      EXPECT_EQ(r.status, 2) << how;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      EXPECT_NE(r.err.find(" after "), std::string::npos) << r.err;  // how far it got
      EXPECT_EQ(slurp(at("out.sub")), "keep");
    }
  }
}

// Cut while analyze reads it: analyze writes to a FIFO that nobody drains
// yet, so it is blocked there, a fraction of the way in, when the cut comes.
TEST_F(AnalyzeTest, InputCutWhileReadIsRefused) {
  std::vector<double> x(2 * 1500000, 0.25);  // 6 MB of 16-bit stereo: 24 MB of subbands
  write_stereo("in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, x);
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

// A header that reaches past the stream's kept head (a 100 KB chunk before
// "fmt ") sends the stream to a copy in TMPDIR: the same subbands as from the
// file where TMPDIR exists, an I/O failure naming it where it does not.
TEST_F(AnalyzeTest, StreamNeedingSeeksIsCopiedToTmpdir) {
  write_stereo("plain.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, noise(8000, 4), 8000);
  const std::string plain = slurp(at("plain.wav"));
  std::string junk = "JUNK" + std::string("\xA0\x86\x01\0", 4) + std::string(100000, '\0');
  std::string wav = plain.substr(0, 12) + junk + plain.substr(12);
  const uint32_t riff = static_cast<uint32_t>(wav.size() - 8);
  for (int i = 0; i < 4; i++) wav[4 + i] = static_cast<char>(riff >> (8 * i));
  std::ofstream(at("far.wav"), std::ios::binary) << wav;
  ASSERT_EQ(tool({"analyze", at("far.wav"), at("file.sub")}).status, 0);
  fs::create_directory(at("tmp"));
  for (const std::string tmp : {"tmp", "missing"}) {
    const Outcome r = spawn({"/bin/sh", "-c", "cat '" + at("far.wav") + "' | TMPDIR='" + at(tmp) +
                                                  "' '" + SYNTHTAB_CLI + "' analyze - '" +
                                                  at("pipe.sub") + "'"});
    EXPECT_EQ(r.status, tmp == "tmp" ? 0 : 1) << r.err;
    if (tmp == "missing") {
      EXPECT_NE(r.err.find(at("missing").substr(0, 40)), std::string::npos) << r.err;
    }
  }
  EXPECT_TRUE(slurp(at("pipe.sub")) == slurp(at("file.sub")));
  EXPECT_TRUE(fs::is_empty(at("tmp")));
}

TEST_F(AnalyzeTest, BadInputExits2WithOneLineAndNoOutput) {
  std::ofstream(at("notes.txt")) << "not audio\n";
  for (const std::vector<std::string> &args : {std::vector<std::string>{at("notes.txt"), at("o")},
                                               {at("missing.wav"), at("o")},
                                               {at("notes.txt")},
                                               {"--frobnicate", at("notes.txt"), at("o")}}) {
    std::vector<std::string> cmd{"analyze"};
    cmd.insert(cmd.end(), args.begin(), args.end());
    const Outcome r = tool(cmd);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(fs::exists(at("o")));
  }
}

}  // namespace
