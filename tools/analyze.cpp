// synthtab analyze: audio through the analysis filterbank to subband samples,
// in the form render reads. It works through the input a slab of frames at a
// time, so memory stays flat whatever its size.
#include <synthtab/analysis.h>

#include <algorithm>
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
    "usage: synthtab analyze [--flush] INPUT OUTPUT\n"
    "\n"
    "Runs audio through the analysis filterbank and writes its subband samples\n"
    "as render reads them: little-endian float64 in blocks of 32 per channel,\n"
    "the channels interleaved block by block. INPUT is any file libsndfile reads\n"
    "(WAV, FLAC, Ogg Vorbis, ...), taken at full scale 1; the last block is\n"
    "zero-padded. Either operand may be - for stdin or stdout.\n"
    "\n"
    "A line on stderr names the channel count and rate as render takes them:\n"
    "  synthtab: analyze: 2 channels at 44100 Hz: render --channels 2 --rate 44100\n"
    "\n"
    "  --flush   go on with silence until the last input sample has passed the\n"
    "            481-sample delay of analysis and synthesis, so that render gives\n"
    "            back the whole input (481 samples late)\n"
    "\n"
    "A regular OUTPUT is replaced only on success, keeping its permissions; a\n"
    "symlink's target is replaced; a FIFO or device is written into.\n"
    "Exit status: 0 on success, 1 for a failed read or write, 2 for a bad\n"
    "command line or input.\n";

constexpr std::size_t kDelay = 481;  // analysis + synthesis, in samples

}  // namespace

int run_analyze(const Args &args) {
  const std::string_view synopsis = synopsis_of("analyze");
  const Parsed p = parse(args, {{"--flush", ""}}, synopsis, 2);
  if (p.help) return write_stdout(kHelp);
  if (p.operands.size() < 2)
    throw UsageError((p.operands.empty() ? "missing INPUT and OUTPUT" : "missing OUTPUT") +
                     std::string(": usage: ") + std::string(synopsis));
  const std::string input(p.operands[0]), output(p.operands[1]);

  Input in(input);
  SF_INFO info{};
  SNDFILE *sf = in.sndfile(info);
  if (info.channels < 1) throw UsageError(quote(input) + " holds no channels: expected audio");
  const auto channels = static_cast<std::size_t>(info.channels);
  Output out(output, &in);

  // Whole blocks per read, about 32768 samples whatever the channel count.
  const std::size_t per_read = 32 * std::max<std::size_t>(1, 1024 / channels);
  std::vector<double> pcm(per_read * channels), sub(per_read * channels);
  std::vector<synthtab_analysis> bank(channels);
  for (synthtab_analysis &a : bank) synthtab_analysis_init(&a);
  uint64_t tail = p.has("--flush") ? kDelay : 0;  // silence still to feed at the end
  for (bool eof = false;;) {
    std::size_t got = 0;  // frames in pcm
    while (!eof && got < per_read) {
      const sf_count_t n = sf_readf_double(sf, &pcm[got * channels], per_read - got);
      if (n > 0) got += static_cast<std::size_t>(n);
      eof = n <= 0;
    }
    if (eof && sf_error(sf) == SF_ERR_SYSTEM)
      throw IoError("cannot read " + quote(input) + ": " + sf_strerror(sf));
    if (eof && sf_error(sf))
      throw UsageError("cannot read " + quote(input) + ": " + sf_strerror(sf));
    if (eof) {  // the tail's silence, then zeros to the end of the block
      const std::size_t pad = std::min<uint64_t>(tail, per_read - got);
      tail -= pad;
      const std::size_t whole = (got + pad + 31) / 32 * 32;
      std::fill(pcm.begin() + got * channels, pcm.begin() + whole * channels, 0.0);
      got = whole;
    }
    for (std::size_t b = 0; b < got / 32; b++)
      for (std::size_t c = 0; c < channels; c++)
        synthtab_analysis_f64(&bank[c], &pcm[32 * b * channels + c],
                              static_cast<ptrdiff_t>(channels), &sub[32 * (b * channels + c)]);
    little_endian(sub.data(), got * channels);
    out.write(sub.data(), 8 * got * channels);
    if (eof && tail == 0) break;
  }
  out.commit();
  report("analyze: " + std::to_string(channels) + (channels == 1 ? " channel" : " channels") +
         " at " + std::to_string(info.samplerate) + " Hz: render --channels " +
         std::to_string(channels) + " --rate " + std::to_string(info.samplerate));
  return 0;
}

}  // namespace synthtab::cli
