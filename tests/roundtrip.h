// Analysis followed by synthesis at scale 1, and the SNR of the result: the
// helpers the analysis tests share.
#pragma once

#include <synthtab/analysis.h>
#include <synthtab/synth.h>

#include <cmath>
#include <cstddef>
#include <vector>

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
