// synthtab analyze: audio through the analysis filterbank to subband samples,
// in the form render reads. It works through the input a slab of frames at a
// time, so memory stays flat whatever its size.
#include <synthtab/analysis.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "args.h"
#include "commands.h"
#include "audio.h"
#include "bytes.h"
#include "io.h"

namespace synthtab::cli {
namespace {

constexpr char kHelp[] =
    "usage: synthtab analyze [--flush] INPUT OUTPUT\n"
    "\n"
    "Runs audio through the analysis filterbank and writes its subband samples\n"
    "as render reads them: little-endian float64 in blocks of 32 per channel,\n"
    "the channels interleaved block by block. INPUT is audio, told by its first\n"
    "bytes: {audio}, taken at full scale 1; the last block is\n"
    "zero-padded. Either operand may be - for stdin or stdout; a stream is read\n"
    "as it arrives, in flat memory, and never copied aside.\n"
    "\n"
    "The layout comes from OUTPUT's name: .npy a NumPy array of shape (blocks,\n"
    "channels, 32); .f64 or .raw the samples alone; any other name, and -, a\n"
    "subband file whose 32-byte header states the channel count and rate, so\n"
    "render needs neither.\n"
    "\n"
    "  --flush   go on with silence until the last input sample has passed the\n"
    "            481-sample delay of analysis and synthesis, so that render gives\n"
    "            back the whole input (481 samples late)\n"
    "\n"
    "Input with fewer frames than its header states, or damaged, or shrinking\n"
    "while read, is bad input. A regular OUTPUT is replaced only on success,\n"
    "synced to the disk, keeping its permissions; a symlink's target is\n"
    "replaced; a FIFO or device is written into. Exit status: 0 on success, 1\n"
    "for a failed read, write or sync, 2 for a bad command line or input.\n";

constexpr std::size_t kDelay = 481;  // analysis + synthesis, in samples

}  // namespace

int run_analyze(const Args &args) {
  const std::string_view synopsis = synopsis_of("analyze");
  const Parsed p = parse(args, {{"--flush", ""}}, synopsis, 2);
  if (p.help) return write_stdout(with_formats(kHelp));
  if (p.operands.size() < 2)
    throw UsageError((p.operands.empty() ? "missing INPUT and OUTPUT" : "missing OUTPUT") +
                     std::string(": usage: ") + std::string(synopsis));
  const std::string input(p.operands[0]), output(p.operands[1]);

  for (const char *audio : {".wav", ".flac", ".aif", ".aiff", ".ogg", ".oga"})
    if (extension(output) == audio)
      throw UsageError("OUTPUT " + quote(output) + " is named as audio, but analyze writes "
                       "subbands: expected a name ending in .sub, .npy, .f64 or .raw, or -");

  Input in(input);
  const std::unique_ptr<AudioReader> audio = open_audio(in);
  const auto channels = static_cast<std::size_t>(audio->channels());
  Output out(output, &in);

  uint64_t tail = p.has("--flush") ? kDelay : 0;  // silence still to feed at the end
  Subbands head;
  head.layout = subband_layout(output);
  head.channels = audio->channels();
  if (audio->rate() > INT32_MAX)
    throw UsageError(quote(input) + " states a rate of " + std::to_string(audio->rate()) +
                     " Hz: expected at most 2147483647");
  head.rate = static_cast<int32_t>(audio->rate());
  if (audio->frames()) head.blocks = (*audio->frames() + tail + 31) / 32;
  begin_subbands(out, head);

  // Whole blocks per read, about 32768 samples whatever the channel count.
  const std::size_t per_read = 32 * std::max<std::size_t>(1, 1024 / channels);
  std::vector<double> pcm(per_read * channels), sub(per_read * channels);
  std::vector<synthtab_analysis> bank(channels);
  for (synthtab_analysis &a : bank) synthtab_analysis_init(&a);
  uint64_t blocks = 0;
  for (bool eof = false;;) {
    std::size_t got = 0;  // frames in pcm
    while (!eof && got < per_read) {
      const std::size_t n = audio->read(&pcm[got * channels], per_read - got);
      got += n;
      eof = n == 0;
    }
    if (eof) in.check_kept();
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
    blocks += got / 32;
    if (eof && tail == 0) break;
  }
  end_subbands(out, head, blocks);
  out.commit();
  return 0;
}

}  // namespace synthtab::cli
