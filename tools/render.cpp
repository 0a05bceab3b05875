// synthtab render: subband samples through the fast filterbank to audio, as
// raw float64 or as audio (audio.h). It works through the
// input a slab of time slots at a time, so memory stays flat whatever its size.
#include <synthtab/fixed.h>
#include <synthtab/synth.h>

#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "args.h"
#include "commands.h"
#include "audio.h"
#include "bytes.h"
#include "io.h"
#include "subbands.h"

namespace synthtab::cli {
namespace {

constexpr char kHelp[] =
    "usage: synthtab render [OPTIONS] INPUT OUTPUT\n"
    "\n"
    "Runs subband samples through the synthesis filterbank and writes the audio.\n"
    "INPUT holds little-endian float64 subband samples in blocks of 32 per\n"
    "channel, the channels interleaved block by block: a subband file as analyze\n"
    "writes it, whose header states the channel count and rate; a .npy file of\n"
    "shape (blocks, channels, 32); or, with no header, raw samples. Either\n"
    "operand may be - for stdin or stdout. Audio as INPUT is refused: analyze\n"
    "makes subbands of it.\n"
    "\n"
    "The format comes from OUTPUT's name: .wav, .flac, .aif or .aiff, .ogg or\n"
    ".oga (Vorbis), and .f64 or .raw for raw float64; - and a name without an\n"
    "extension are raw float64; another extension needs --format.\n"
    "This build writes {audio}.\n"
    "\n"
    "  --scale N       output scale, an integer (default: the sample format's\n"
    "                  full scale, 32768 for f64 and s16, 8388608 for s24, 1 for\n"
    "                  f32 and ogg)\n"
    "  --channels C    1 or 2; for raw INPUT (default 1), else as its header says\n"
    "  --format F      f64 (little-endian float64 samples, interleaved), wav\n"
    "                  (RF64 past 4 GiB), flac (level 5), aiff or ogg (Vorbis,\n"
    "                  quality 0.5), whatever the name\n"
    "  --sample S      s16 (default), s24, or f32 (wav and aiff); integer samples\n"
    "                  are rounded (halves away from zero) and clipped, and a\n"
    "                  count of clipped samples goes to stderr\n"
    "  --rate N        sample rate (default: as INPUT's header says, else 44100)\n"
    "  --fixed         the integer filterbank (fixed.h), for s16 or s24 output\n"
    "                  with a header: subbands are rounded to its format,\n"
    "                  saturating at +-2 (a count goes to stderr), and the scale\n"
    "                  is full scale\n"
    "\n"
    "A regular OUTPUT is replaced only on success, synced to the disk, keeping\n"
    "its permissions; a symlink's target is replaced; a FIFO or device is\n"
    "written into. Exit status: 0 on success, 1 for a failed read, write or\n"
    "sync, 2 for a bad command line or input.\n";

// The output formats, by --format name and by the extensions that choose them.
enum Format { kF64, kWav, kFlac, kAiff, kOgg };
constexpr std::string_view kFormatNames[] = {"f64", "wav", "flac", "aiff", "ogg"};
struct Extension {
  std::string_view ext;
  Format format;
};
constexpr Extension kExtensions[] = {{".wav", kWav},  {".flac", kFlac}, {".aif", kAiff},
                                     {".aiff", kAiff}, {".ogg", kOgg},   {".oga", kOgg},
                                     {".f64", kF64},  {".raw", kF64}};

// The format OUTPUT's name asks for: f64 for - and a name without an extension.
Format format_of(const std::string &name) {
  const std::string ext = extension(name);
  if (ext.empty()) return kF64;
  std::string known;
  for (const Extension &e : kExtensions) {
    if (e.ext == ext) return e.format;
    known += (known.empty() ? "" : ", ") + std::string(e.ext);
  }
  throw UsageError("unknown output format " + quote(ext) + " of " + quote(name) +
                   ": expected a name ending in " + known + ", or --format");
}

static_assert(int(Container::kWav) == kWav - 1 && int(Container::kOgg) == kOgg - 1);

// Where the audio goes, chosen once from the command line: raw float64, or a
// container of s16, s24 or f32 samples; fixed: through the integer filterbank.
struct Sink {
  Format format;
  Sample sample;
  bool fixed;
};

Sink choose_sink(const Parsed &p, const std::string &output) {
  const Format format =
      p.has("--format") ? Format(p.choice("--format", {"f64", "wav", "flac", "aiff", "ogg"}))
                        : format_of(output);
  const std::string named = " (OUTPUT " + quote(output) + (p.has("--format") ? ", --format " : ", ") +
                            std::string(kFormatNames[format]) + ")";
  const auto sample = Sample(p.choice("--sample", {"s16", "s24", "f32"}));
  const bool fixed = p.has("--fixed");
  if (format == kF64) {
    for (const char *opt : {"--sample", "--rate"})
      if (p.has(opt))
        throw UsageError(std::string(opt) + " needs audio with a header, not raw float64" + named +
                         ": expected OUTPUT named .wav, .flac, .aif, .aiff, .ogg or .oga, or "
                         "--format");
    if (fixed)
      throw UsageError("--fixed makes integer audio with a header, not raw float64" + named +
                       ": expected OUTPUT named .wav, .flac, .aif or .aiff, or --format");
    return {kF64, Sample::kF32, false};
  }
  if (format == kOgg) {
    if (p.has("--sample"))
      throw UsageError("--sample does not apply to Vorbis" + named + ": expected no --sample for ogg");
    if (fixed)
      throw UsageError("--fixed makes integer samples, which Vorbis does not take" + named +
                       ": expected wav, flac or aiff for --fixed");
    return {kOgg, Sample::kF32, false};
  }
  if (format == kFlac && sample == Sample::kF32)
    throw UsageError("--sample f32 needs wav or aiff: expected s16 or s24 for flac");
  if (fixed && sample == Sample::kF32)
    throw UsageError("--fixed makes integer samples: expected --sample s16 or s24 with --fixed");
  if (fixed && p.has("--scale"))
    throw UsageError("--fixed renders at full scale: expected no --scale with --fixed");
  return {format, sample, fixed};
}

// As to_pcm16 for 24 bits.
std::size_t to_pcm24(const double *in, std::size_t n, int32_t *out) {
  std::size_t clipped = 0;
  for (std::size_t i = 0; i < n; i++) out[i] = round_clip<24>(in[i], clipped);
  return clipped;
}

// One channel's subbands through the integer filterbank, to s16, or to s24
// at `stride` in v24; returns the number clipped, and counts subbands beyond
// its range (NaN among them) in `saturated`.
std::size_t fixed_block(synthtab_fixed *f, const double *sub, int16_t *s16, int32_t *v24,
                        std::ptrdiff_t stride, std::size_t &saturated) {
  const double one = std::ldexp(1.0, SYNTHTAB_FIXED_FRAC_BITS);
  int32_t q[32], y[32];
  // [-2, 2) is a signed integer of FRAC_BITS + 2 bits.
  for (int k = 0; k < 32; k++) q[k] = round_clip<SYNTHTAB_FIXED_FRAC_BITS + 2>(sub[k] * one, saturated);
  if (s16) return synthtab_fixed_s16(f, q, s16, stride);
  std::size_t clipped = synthtab_fixed_s32(f, q, y, 1);
  for (int k = 0; k < 32; k++) {  // to 24 bits, rounded, halves away from zero
    const int64_t r = (int64_t{y[k]} + 128 - (y[k] < 0)) >> 8;
    const bool clip = r > 8388607;  // only the top rounds out of range
    clipped += clip && y[k] != INT32_MAX;
    v24[k * stride] = static_cast<int32_t>(clip ? 8388607 : r);
  }
  return clipped;
}

// A buffer left uninitialised: every element is written before it is read.
template <class T>
std::unique_ptr<T[]> scratch(std::size_t n) {
  return std::unique_ptr<T[]>(new T[n]);
}

// Writes slabs on a second thread while the next ones are computed, so that
// the copy into the page cache and the filterbank share the two cores. Up to
// kDepth writes wait in order, which rides out the scheduler's hiccups; one
// that failed is rethrown by the next call.
class Behind {
 public:
  static constexpr std::size_t kDepth = 4;  // slabs in flight, at most

  explicit Behind(Output &out) : out_(out), thread_([this] { run(); }) {}
  ~Behind() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  Behind(const Behind &) = delete;
  Behind &operator=(const Behind &) = delete;

  // Queues n bytes at p, waiting while kDepth are queued: p must stay valid
  // until kDepth more calls have returned, or drain() has.
  void write(const void *p, std::size_t n) {
    std::unique_lock<std::mutex> lock = wait_until(kDepth - 1);
    queue_[(head_ + queued_++) % kDepth] = {p, n};
    lock.unlock();
    cv_.notify_all();
  }
  void drain() { wait_until(0); }

 private:
  std::unique_lock<std::mutex> wait_until(std::size_t most) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] { return queued_ <= most || error_; });
    if (error_) std::rethrow_exception(error_);
    return lock;
  }
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      cv_.wait(lock, [this] { return queued_ || done_; });
      if (!queued_) return;
      const Slab slab = queue_[head_];
      lock.unlock();
      try {
        out_.write(slab.p, slab.n);
      } catch (...) {
        lock.lock();
        error_ = std::current_exception();
        cv_.notify_all();
        return;  // nothing after a failed write
      }
      lock.lock();
      head_ = (head_ + 1) % kDepth, queued_--;
      cv_.notify_all();
    }
  }

  struct Slab {
    const void *p;
    std::size_t n;
  };
  Output &out_;
  std::mutex mutex_;
  std::condition_variable cv_;
  Slab queue_[kDepth] = {};
  std::size_t head_ = 0, queued_ = 0;
  bool done_ = false;
  std::exception_ptr error_;
  std::thread thread_;  // last: starts once the rest is set
};

}  // namespace

int run_render(const Args &args) {
  const std::string_view synopsis = synopsis_of("render");
  const Parsed p = parse(args,
                         {{"--scale", "N"},
                          {"--channels", "1|2"},
                          {"--format", "f64|wav|flac|aiff|ogg"},
                          {"--sample", "s16|s24|f32"},
                          {"--rate", "N"},
                          {"--fixed", ""}},
                         synopsis, 2);
  if (p.help) return write_stdout(with_formats(kHelp));
  const std::string usage = ": usage: " + std::string(synopsis);
  if (p.operands.size() < 2)
    throw UsageError((p.operands.empty() ? "missing INPUT and OUTPUT" : "missing OUTPUT") + usage);
  const std::string input(p.operands[0]), output(p.operands[1]);
  const Sink sink = choose_sink(p, output);
  int channels = 1 + p.choice("--channels", {"1", "2"});
  int32_t rate = p.number("--rate", 44100, 1);
  constexpr int32_t kFullScale[] = {32768, 8388608, 1};
  const int32_t scale = p.number("--scale", sink.format == kF64 ? 32768
                                            : sink.format == kOgg ? 1
                                                                  : kFullScale[int(sink.sample)]);
  if (sink.format != kF64 && !have(Container(sink.format - 1)))
    throw UsageError(std::string("this build does not write ") + name_of(Container(sink.format - 1)) +
                     ": expected " + audio_formats());

  Input in(input);
  if (is_audio(sniff(in)))
    throw UsageError(quote(input) + " is audio, not subbands: expected subbands, which "
                     "synthtab analyze makes of audio");
  const Subbands head = read_subbands(in);
  if (head.layout != Layout::kRaw) {
    if (p.has("--channels") && channels != head.channels)
      throw UsageError("--channels " + std::to_string(channels) + " contradicts " + quote(input) +
                       ", whose header states " + std::to_string(head.channels) +
                       ": expected no --channels, or " + std::to_string(head.channels));
    if (head.channels < 1 || head.channels > 2)
      throw UsageError(quote(input) + " holds " + std::to_string(head.channels) +
                       " channels: expected 1 or 2");
    channels = head.channels;
    if (head.rate > 0) {
      if (p.has("--rate") && rate != head.rate)
        throw UsageError("--rate " + std::to_string(rate) + " contradicts " + quote(input) +
                         ", whose header states " + std::to_string(head.rate) +
                         ": expected no --rate, or " + std::to_string(head.rate));
      rate = head.rate;
    }
  }

  const std::size_t per = 32 * channels, block = 8 * per;  // samples and bytes per block
  const auto bad_size = [&](const std::string &what) {
    return UsageError(quote(input) + what + ": expected a multiple of " + std::to_string(block) +
                      " bytes (32 float64 subband samples x " + std::to_string(channels) +
                      " channel" + (channels == 1 ? ")" : "s)") +
                      (head.layout == Layout::kNpy ? " as its header's shape states" : ""));
  };
  // The bytes after the header: those a regular file holds, and those a
  // .npy header states (-1: not known).
  const int64_t body = in.size() ? static_cast<int64_t>(*in.size() - in.position()) : -1;
  if (body >= 0 && body % block)
    throw bad_size(" holds " + std::to_string(body) + " bytes, not whole blocks");
  const int64_t stated = head.blocks ? static_cast<int64_t>(*head.blocks * block) : -1;
  if (body >= 0 && stated >= 0 && body != stated)
    throw bad_size(" holds " + std::to_string(body) + " bytes after its header, not the " +
                   std::to_string(stated));
  Output out(output, &in);

  const int64_t samples = stated >= 0 ? stated / 8 : body >= 0 ? body / 8 : -1;
  std::unique_ptr<AudioWriter> writer;
  if (sink.format != kF64)
    writer = make_writer(Container(sink.format - 1), out,
                         {channels, static_cast<uint32_t>(rate), sink.sample},
                         samples >= 0 ? samples / channels : -1);
  make_decode_tables(scale);

  // The filterbank writes each channel straight into the interleaved buffer
  // of the output's own sample format, from the input's slab where it was
  // read. A slab of 256 blocks (128 KiB of mono input) stays in the cache.
  constexpr std::size_t kBlocks = 256;
  const bool f64 = sink.format == kF64, s16 = !f64 && sink.sample == Sample::kS16,
             s24 = !f64 && sink.sample == Sample::kS24, f32 = !f64 && sink.sample == Sample::kF32;
  auto sub = scratch<double>(kBlocks * per);
  // f64 output takes its slabs in turn from a ring one longer than the writer's
  // queue: the one being filled is never one being written.
  constexpr std::size_t kRing = Behind::kDepth + 1;
  auto pcms = scratch<double>(f64 ? kRing * kBlocks * per : (s24 && !sink.fixed) ? kBlocks * per : 0);
  auto v16 = scratch<int16_t>(s16 ? kBlocks * per : 0);
  auto v24 = scratch<int32_t>(s24 ? kBlocks * per : 0);
  auto v32 = scratch<float>(f32 ? kBlocks * per : 0);
  synthtab_synth bank[2];
  synthtab_synth_init(&bank[0]);
  synthtab_synth_init(&bank[1]);
  synthtab_fixed fbank[2];
  synthtab_fixed_init(&fbank[0]);
  synthtab_fixed_init(&fbank[1]);
  uint64_t total = 0;
  std::size_t clipped = 0, saturated = 0;
  std::unique_ptr<Behind> behind(f64 ? new Behind(out) : nullptr);
  for (std::size_t slab = 0;; slab++) {
    double *pcm = pcms.get() + (f64 ? slab % kRing * kBlocks * per : 0);
    const unsigned char *bytes;
    const std::size_t got = in.next(bytes, kBlocks * block), blocks = got / block;
    const std::size_t n = blocks * per;
    total += got;
    // Used where it was read when the host's order and alignment allow; else copied.
    const double *s = reinterpret_cast<const double *>(bytes);
    if (kBigEndianHost || reinterpret_cast<uintptr_t>(bytes) % alignof(double)) {
      std::memcpy(sub.get(), bytes, 8 * n);
      little_endian(sub.get(), n);
      s = sub.get();
    }
    for (std::size_t b = 0; b < blocks; b++)
      for (int c = 0; c < channels; c++) {
        const double *x = s + per * b + 32 * c;
        const std::size_t at = per * b + c;
        if (sink.fixed)
          clipped += fixed_block(&fbank[c], x, s16 ? &v16[at] : nullptr, &v24[at], channels,
                                 saturated);
        else if (s16)
          clipped += synthtab_synth_s16(&bank[c], x, &v16[at], channels);
        else if (f32)
          synthtab_synth_f32(&bank[c], x, &v32[at], channels);
        else
          synthtab_synth_f64(&bank[c], x, &pcm[at], channels);
      }
    if (f64) {
      little_endian(pcm, n);
      behind->write(pcm, 8 * n);
    } else {
      if (s24 && !sink.fixed) clipped += to_pcm24(pcm, n, v24.get());
      const void *v = s16 ? static_cast<const void *>(v16.get())
                    : s24 ? static_cast<const void *>(v24.get())
                          : static_cast<const void *>(v32.get());
      writer->write(v, n / channels);
    }
    if (got < kBlocks * block) {
      if (got % block) throw bad_size(" ended mid-block after " + std::to_string(total) + " bytes");
      break;
    }
  }
  if (body >= 0 && total < uint64_t(body)) in.shrunk(in.position());
  if (stated >= 0 && total != uint64_t(stated))
    throw UsageError(quote(input) + " ended after " + std::to_string(total) + " of the " +
                     std::to_string(stated) + " bytes its header states: expected whole input");
  if (behind) behind->drain();
  if (writer) writer->finish();
  out.commit();
  if (saturated)
    report("render: " + std::to_string(saturated) + " subband samples beyond +-2 saturated");
  if (clipped)
    report("render: " + std::to_string(clipped) + " of " + std::to_string(total / 8) +
           " samples clipped");
  return 0;
}

}  // namespace synthtab::cli
