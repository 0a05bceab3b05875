// synthtab render: subband samples through the fast filterbank to audio, as
// raw float64 or, through libsndfile, as WAV or FLAC. It works through the
// input a slab of time slots at a time, so memory stays flat whatever its size.
#include <synthtab/fixed.h>
#include <synthtab/synth.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "args.h"
#include "commands.h"
#include "io.h"

namespace synthtab::cli {
namespace {

constexpr char kHelp[] =
    "usage: synthtab render [OPTIONS] INPUT OUTPUT\n"
    "\n"
    "Runs subband samples through the synthesis filterbank and writes the audio.\n"
    "INPUT holds little-endian float64 subband samples in blocks of 32 per\n"
    "channel, the channels interleaved block by block. Either operand may be -\n"
    "for stdin or stdout.\n"
    "\n"
    "  --scale N       output scale, an integer (default: the sample format's\n"
    "                  full scale, 32768 for f64 and s16, 8388608 for s24, 1 for f32)\n"
    "  --channels C    1 or 2 (default 1)\n"
    "  --format f64    little-endian float64 samples, interleaved (default)\n"
    "  --format wav    WAV (RF64 past 4 GiB) or FLAC, through libsndfile; integer\n"
    "  --format flac   samples are rounded (halves away from zero) and clipped, and\n"
    "                  a count of clipped samples goes to stderr\n"
    "  --sample S      s16 (default), s24, or f32 (wav only)\n"
    "  --rate N        sample rate in the header (default 44100)\n"
    "  --fixed         the integer filterbank (fixed.h), for wav or flac at s16 or\n"
    "                  s24: subbands are rounded to its format, saturating at +-2\n"
    "                  (a count goes to stderr), and the scale is full scale\n"
    "\n"
    "A regular OUTPUT is replaced only on success, keeping its permissions; a\n"
    "symlink's target is replaced; a FIFO or device is written into.\n"
    "Exit status: 0 on success, 1 for a failed read or write, 2 for a bad\n"
    "command line or input.\n";

enum Format { kF64, kWav, kFlac };
enum Sample { kS16, kS24, kF32 };

// As to_pcm16 for 24 bits, each in the top of an int as libsndfile takes it.
std::size_t to_pcm24(const double *in, std::size_t n, int *out) {
  std::size_t clipped = 0;
  for (std::size_t i = 0; i < n; i++) out[i] = 256 * synthtab::round_clip<24>(in[i], clipped);
  return clipped;
}

// One channel's subbands through the integer filterbank, to s16 or to s24
// in the top of an int; returns the number clipped, and counts subbands
// beyond its range (NaN among them) in `saturated`.
std::size_t fixed_block(synthtab_fixed *f, const double *sub, int16_t *s16, int *s24,
                        std::ptrdiff_t stride, std::size_t *saturated) {
  const double one = std::ldexp(1.0, SYNTHTAB_FIXED_FRAC_BITS);
  int32_t q[32], y[32];
  for (int k = 0; k < 32; k++) {
    const double v = std::round(sub[k] * one);
    const bool in = v >= -2 * one && v < 2 * one;  // false for NaN
    *saturated += !in;
    q[k] = static_cast<int32_t>(in ? v : std::isnan(v) ? 0 : v < 0 ? -2 * one : 2 * one - 1);
  }
  if (s16) return synthtab_fixed_s16(f, q, s16, stride);
  std::size_t clipped = synthtab_fixed_s32(f, q, y, 1);
  for (int k = 0; k < 32; k++) {  // to 24 bits, rounded, halves away from zero
    const int64_t r = (int64_t{y[k]} + 128 - (y[k] < 0)) >> 8;
    const bool clip = r > 8388607;  // only the top rounds out of range
    clipped += clip && y[k] != INT32_MAX;
    s24[k * stride] = 256 * static_cast<int>(clip ? 8388607 : r);
  }
  return clipped;
}

}  // namespace

int run_render(const Args &args) {
  const std::string_view synopsis = synopsis_of("render");
  const Parsed p = parse(args,
                         {{"--scale", "N"},
                          {"--channels", "1|2"},
                          {"--format", "f64|wav|flac"},
                          {"--sample", "s16|s24|f32"},
                          {"--rate", "N"},
                          {"--fixed", ""}},
                         synopsis, 2);
  if (p.help) return write_stdout(kHelp);
  const std::string usage = ": usage: " + std::string(synopsis);
  if (p.operands.size() < 2)
    throw UsageError((p.operands.empty() ? "missing INPUT and OUTPUT" : "missing OUTPUT") + usage);
  const int channels = 1 + p.choice("--channels", {"1", "2"});
  const auto format = Format(p.choice("--format", {"f64", "wav", "flac"}));
  const auto sample = Sample(p.choice("--sample", {"s16", "s24", "f32"}));
  const int32_t rate = p.number("--rate", 44100, 1);
  if (format == kF64 && (p.has("--sample") || p.has("--rate")))
    throw UsageError("--sample and --rate need --format wav or flac" + usage);
  if (format == kFlac && sample == kF32)
    throw UsageError("--sample f32 needs --format wav: expected s16 or s24 for flac");
  const bool fixed = p.has("--fixed");
  if (fixed && (format == kF64 || sample == kF32 || p.has("--scale")))
    throw UsageError("--fixed needs --format wav or flac, --sample s16 or s24, and no --scale" +
                     usage);
  constexpr int32_t kFullScale[] = {32768, 8388608, 1};
  const int32_t scale = p.number("--scale", format == kF64 ? 32768 : kFullScale[sample]);
  const std::string input(p.operands[0]), output(p.operands[1]);

  const std::size_t per = 32 * channels, block = 8 * per;  // samples and bytes per block
  const auto bad_size = [&](const std::string &what) {
    return UsageError(quote(input) + what + ": expected a multiple of " + std::to_string(block) +
                      " bytes (32 float64 subband samples x " + std::to_string(channels) +
                      " channel" + (channels == 1 ? ")" : "s)"));
  };
  Input in(input);
  if (in.size() && *in.size() % block)
    throw bad_size(" holds " + std::to_string(*in.size()) + " bytes, not whole blocks");
  Output out(output, &in);

  SNDFILE *sf = nullptr;
  if (format != kF64) {
    constexpr int kSubtype[] = {SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_FLOAT};
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    const int64_t payload = in.size() ? static_cast<int64_t>(*in.size() / 8 * (2 + sample)) : -1;
    // RF64 is written as plain WAV (extensible) while the sizes fit in 4 GiB.
    info.format = (format == kWav ? SF_FORMAT_RF64 : SF_FORMAT_FLAC) | kSubtype[sample];
    sf = out.sndfile(info, payload);
  }
  make_decode_tables(scale);

  constexpr std::size_t kBlocks = 4096;  // per read: 1 MiB of mono input
  std::vector<double> sub(kBlocks * per), pcm(kBlocks * per);
  std::vector<int16_t> s16(sample == kS16 ? kBlocks * per : 0);
  std::vector<int> s24(sample == kS24 ? kBlocks * per : 0);
  synthtab_synth bank[2];
  synthtab_synth_init(&bank[0]);
  synthtab_synth_init(&bank[1]);
  synthtab_fixed fbank[2];
  synthtab_fixed_init(&fbank[0]);
  synthtab_fixed_init(&fbank[1]);
  uint64_t total = 0;
  std::size_t clipped = 0, saturated = 0;
  for (;;) {
    const std::size_t got = in.read(sub.data(), kBlocks * block), blocks = got / block;
    const std::size_t n = blocks * per;
    const auto frames = static_cast<sf_count_t>(n / channels);
    total += got;
    little_endian(sub.data(), n);
    // The filterbank interleaves the channels itself, writing at a stride.
    for (std::size_t b = 0; b < blocks; b++)
      for (int c = 0; c < channels; c++) {
        const double *s = &sub[per * b + 32 * c];
        if (fixed)
          clipped += fixed_block(&fbank[c], s, sample == kS16 ? &s16[per * b + c] : nullptr,
                                 sample == kS24 ? &s24[per * b + c] : nullptr, channels,
                                 &saturated);
        else if (sample == kS16 && format != kF64)
          clipped += synthtab_synth_s16(&bank[c], s, &s16[per * b + c], channels);
        else
          synthtab_synth_f64(&bank[c], s, &pcm[per * b + c], channels);
      }
    sf_count_t done = frames;
    if (format == kF64) {
      little_endian(pcm.data(), n);
      out.write(pcm.data(), 8 * n);
    } else if (sample == kS16) {
      done = sf_writef_short(sf, s16.data(), frames);
    } else if (sample == kS24) {
      if (!fixed) clipped += to_pcm24(pcm.data(), n, s24.data());
      done = sf_writef_int(sf, s24.data(), frames);
    } else {
      done = sf_writef_double(sf, pcm.data(), frames);
    }
    if (done != frames) out.failed();
    if (got < kBlocks * block) {
      if (got % block) throw bad_size(" ended mid-block after " + std::to_string(total) + " bytes");
      break;
    }
  }
  if (in.size() && total < *in.size())
    throw UsageError(quote(input) + " ended after " + std::to_string(total) + " of the " +
                     std::to_string(*in.size()) +
                     " bytes it held at the start: expected an INPUT that stays as it is");
  out.commit();
  if (saturated)
    report("render: " + std::to_string(saturated) + " subband samples beyond +-2 saturated");
  if (clipped)
    report("render: " + std::to_string(clipped) + " of " + std::to_string(total / 8) +
           " samples clipped");
  return 0;
}

}  // namespace synthtab::cli
