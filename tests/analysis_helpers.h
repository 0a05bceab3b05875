// What the analysis tests share: the direct form to hold the filterbank to,
// analysis followed by synthesis at scale 1, and the SNR of the result.
#pragma once

#include <synthtab/analysis.h>
#include <synthtab/synth.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// The direct form, one formula per step, the window read from the data file
// (SYNTHTAB_WINDOW_DATA).
class DirectAnalysis {
 public:
  DirectAnalysis() {
    std::ifstream in(SYNTHTAB_WINDOW_DATA);
    for (std::string line; std::getline(in, line);) {
      std::istringstream fields(line);
      int i;
      double d;
      if (line[0] != '#' && fields >> i >> d && i >= 0 && i < 512) c_[i] = d / 32;
    }
    const double pi = std::acos(-1.0);
    for (int i = 0; i < 32; i++)
      for (int k = 0; k < 64; k++) m_[i][k] = std::cos((2 * i + 1) * (k - 16) * pi / 64);
  }

  // One channel of interleaved input, like the filterbank.
  void analyze(const double *in, double *s, std::ptrdiff_t stride = 1) {
    std::memmove(x_ + 32, x_, 480 * sizeof(double));
    for (int i = 0; i < 32; i++) x_[i] = in[(31 - i) * stride];
    double y[64] = {};
    for (int i = 0; i < 64; i++)
      for (int j = 0; j < 8; j++) y[i] += c_[i + 64 * j] * x_[i + 64 * j];
    for (int i = 0; i < 32; i++) {
      s[i] = 0;
      for (int k = 0; k < 64; k++) s[i] += m_[i][k] * y[k];
    }
  }

 private:
  double c_[512] = {}, x_[512] = {}, m_[32][64];
};

// The subbands of interleaved x as synthtab analyze writes them: blocks of 32
// per channel, interleaved block by block, x zero-padded to whole blocks. F is
// synthtab::AnalysisFilterbank or DirectAnalysis.
template <class F>
std::vector<double> subbands(const std::vector<double> &x, int channels) {
  const std::size_t blocks = (x.size() / channels + 31) / 32;
  std::vector<double> in(x), out(32 * channels * blocks);
  in.resize(out.size());
  for (int ch = 0; ch < channels; ch++) {
    F f;
    for (std::size_t b = 0; b < blocks; b++)
      f.analyze(&in[32 * channels * b + ch], &out[32 * (channels * b + ch)], channels);
  }
  return out;
}

// max |a - b| relative to max(1, max |b|), for a and b of one size.
inline double deviation(const std::vector<double> &a, const std::vector<double> &b) {
  double dev = 0, peak = 0;
  for (std::size_t i = 0; i < a.size() && i < b.size(); i++) {
    dev = std::max(dev, std::fabs(a[i] - b[i]));
    peak = std::max(peak, std::fabs(b[i]));
  }
  return a.size() == b.size() ? dev / std::max(1.0, peak) : HUGE_VAL;
}

// The delay of analysis + synthesis, in samples.
constexpr std::size_t kRoundTripDelay = 481;

// Runs each channel of interleaved x through its own analysis (reading it
// with a stride) and synthesis at scale 1. x is zero-padded to whole blocks
// and then by one block per 32 samples of delay, so every input sample comes
// out; returns the output, interleaved likewise.
inline std::vector<double> round_trip(const std::vector<double> &x, int channels) {
  const std::size_t frames = x.size() / channels;
  const std::size_t blocks = (frames + kRoundTripDelay + 31) / 32;
  std::vector<double> in(x), out(32 * blocks * channels);
  in.resize(out.size());
  make_decode_tables(1);
  for (int ch = 0; ch < channels; ch++) {
    synthtab::AnalysisFilterbank analysis;
    synthtab::SynthesisFilterbank synthesis;
    double s[32], y[32];
    for (std::size_t b = 0; b < blocks; b++) {
      analysis.analyze(&in[32 * b * channels + ch], s, channels);
      synthesis.synthesize(s, y);
      for (int j = 0; j < 32; j++) out[(32 * b + j) * channels + ch] = y[j];
    }
  }
  return out;
}

// SNR in dB of channel ch of y, taken `delay` samples late, against that of x.
inline double snr_db(const std::vector<double> &x, const std::vector<double> &y, int channels,
                     int ch = 0, std::size_t delay = kRoundTripDelay) {
  double signal = 0, noise = 0;
  for (std::size_t n = ch; n < x.size(); n += channels) {
    const double e = y[n + delay * channels] - x[n];
    signal += x[n] * x[n];
    noise += e * e;
  }
  return 10 * std::log10(signal / noise);
}
