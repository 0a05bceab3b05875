// Analysis then synthesis through the C++ wrapper classes, on a mono signal:
// the C round trip (roundtrip.c) in the style of a C++ decoder. Prints the
// delay (481 samples), the SNR of the rebuilt signal (over 80 dB) and how the
// same signal fares as 16-bit PCM.
//
// Build: c++ -std=c++17 roundtrip.cpp $(pkg-config --cflags --libs synthtab)
#include <synthtab/analysis.h>
#include <synthtab/synth.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr std::size_t kBlocks = 400, kMaxDelay = 1024;

// The SNR in dB of y against x taken `delay` samples late.
double snr_db(const std::vector<double> &x, const std::vector<double> &y, std::size_t delay) {
  double signal = 0, noise = 0;
  for (std::size_t i = 0; i + delay < x.size(); i++) {
    signal += x[i] * x[i];
    noise += (y[i + delay] - x[i]) * (y[i + delay] - x[i]);
  }
  return 10 * std::log10(signal / noise);
}

}  // namespace

int main() {
  // Two tones and their beat, well inside full scale.
  std::vector<double> x(32 * kBlocks), y(x.size());
  for (std::size_t i = 0; i < x.size(); i++)
    x[i] = 0.4 * std::sin(0.05 * i) + 0.3 * std::sin(1.3 * i);

  make_decode_tables(1);  // the synthesis reads the tables: scale 1 gives x's level back
  synthtab::AnalysisFilterbank analysis;
  synthtab::SynthesisFilterbank synthesis;
  double sb[32];
  for (std::size_t at = 0; at < x.size(); at += 32) {
    analysis.analyze(&x[at], sb);
    synthesis.synthesize(sb, &y[at]);
  }

  std::size_t delay = 0;
  for (std::size_t d = 1; d < kMaxDelay; d++)
    if (snr_db(x, y, d) > snr_db(x, y, delay)) delay = d;

  // The same signal at 16-bit scale, converted as a decoder's output stage would.
  std::vector<double> scaled(y.size());
  for (std::size_t i = 0; i < y.size(); i++) scaled[i] = 32768 * y[i];
  std::vector<int16_t> pcm(y.size());
  const std::size_t clipped = synthtab::to_pcm16(scaled.data(), scaled.size(), pcm.data());

  const double snr = snr_db(x, y, delay);
  std::printf("delay %zu samples, SNR %.1f dB, %zu of %zu samples clipped as 16-bit PCM\n", delay,
              snr, clipped, pcm.size());
  return snr > 80 ? 0 : 1;
}
