// The analysis on real recordings: the speech WAVs of Debian's alsa-utils,
// read through libsndfile, match the direct form, and analysis + synthesis
// rebuilds them, stereo channels apart. Skipped where alsa-utils is missing,
// except under CI (the CI script installs it).
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "analysis_helpers.h"

namespace {

const std::string kSounds = "/usr/share/sounds/alsa/";

// The samples of a mono recording, full scale 1; empty when it cannot be read.
std::vector<double> read_mono(const std::string &name) {
  SF_INFO info{};
  SNDFILE *f = sf_open((kSounds + name).c_str(), SFM_READ, &info);
  std::vector<double> x;
  if (f && info.channels == 1) {
    x.resize(info.frames);
    x.resize(sf_readf_double(f, x.data(), info.frames));
  }
  if (f) sf_close(f);
  return x;
}

std::vector<double> recording(const std::string &name) {
  std::vector<double> x = read_mono(name);
  if (x.empty() && std::getenv("CI")) ADD_FAILURE() << "cannot read " << kSounds << name;
  return x;
}

class Recording : public ::testing::TestWithParam<std::string> {};

TEST_P(Recording, MatchesTheDirectFormAndRoundTrips) {
  const std::vector<double> x = recording(GetParam());
  if (x.empty()) GTEST_SKIP() << "no " << kSounds << GetParam() << " (alsa-utils)";
  EXPECT_LE(deviation(x), 1e-12);
  EXPECT_GE(snr_db(x, round_trip(x, 1), 1), 80);
}

INSTANTIATE_TEST_SUITE_P(AlsaUtils, Recording,
                         ::testing::Values("Front_Center.wav", "Front_Left.wav", "Front_Right.wav",
                                           "Noise.wav", "Rear_Center.wav", "Rear_Left.wav",
                                           "Rear_Right.wav", "Side_Left.wav", "Side_Right.wav"),
                         [](const auto &info) {
                           return info.param.substr(0, info.param.find('.'));
                         });

TEST(StereoRecording, KeepsItsChannelsApart) {
  // Two different speakers, one per channel, through one interleaved buffer.
  const std::vector<double> left = recording("Front_Left.wav"),
                            right = recording("Front_Right.wav");
  if (left.empty() || right.empty()) GTEST_SKIP() << "no alsa-utils recordings";
  const std::size_t frames = std::min(left.size(), right.size());
  std::vector<double> x(2 * frames);
  for (std::size_t n = 0; n < frames; n++) x[2 * n] = left[n], x[2 * n + 1] = right[n];
  const std::vector<double> y = round_trip(x, 2);
  for (int ch = 0; ch < 2; ch++) {
    EXPECT_LE(deviation(x, 2, ch), 1e-12) << ch;
    EXPECT_GE(snr_db(x, y, 2, ch), 80) << ch;
  }
  // Each output channel is its own input and not the other's.
  std::vector<double> swapped(y.size());
  for (std::size_t n = 0; n < y.size(); n++) swapped[n] = y[n ^ 1];
  for (int ch = 0; ch < 2; ch++) EXPECT_LT(snr_db(x, swapped, 2, ch), 3) << ch;
}

}  // namespace
