// synthtab render: turns a file of subband samples into audio through the
// fast filterbank, as raw float64 or as 16-bit PCM WAV.
//
// The input streams through fixed buffers, one block at a time, so memory
// stays flat whatever its size. The output is written to a temporary file
// beside OUTPUT and renamed over it only when everything has succeeded; on any
// failure the temporary is removed and OUTPUT is left as it was.
#include <sndfile.h>
#include <synthtab/synth.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "args.h"
#include "commands.h"

namespace synthtab::cli {
namespace {

constexpr char kHelp[] =
    "usage: synthtab render [--scale N] [--channels 1|2] [--format f64|wav] INPUT OUTPUT\n"
    "\n"
    "Runs subband samples through the synthesis filterbank and writes the audio.\n"
    "\n"
    "INPUT holds little-endian float64 subband samples in blocks of 32 per\n"
    "channel, the channels interleaved block by block: block 0 of channel 0,\n"
    "block 0 of channel 1, block 1 of channel 0, ...\n"
    "\n"
    "  --scale N       output scale, an integer from -2147483648 to 2147483647\n"
    "                  (default 32768: full scale at 16-bit range)\n"
    "  --channels C    1 or 2 (default 1)\n"
    "  --format f64    OUTPUT holds little-endian float64 samples, the channels\n"
    "                  interleaved sample by sample (default)\n"
    "  --format wav    OUTPUT is a 16-bit PCM WAV file at 44100 Hz; samples are\n"
    "                  rounded (halves away from zero) and clipped, and the number\n"
    "                  of clipped samples is reported on stderr\n"
    "  --help          show this help\n"
    "\n"
    "OUTPUT is replaced only on success. Exit status: 0 on success, 2 for a bad\n"
    "command line or input, or an output that cannot be written.\n";

constexpr int kRate = 44100;

struct Options {
  int32_t scale = 32768;
  int channels = 1;
  bool wav = false;
  bool help = false;
  std::string input, output;
};

[[noreturn]] void fail(const std::string &msg) { throw UsageError(msg); }

std::string sys_error(const std::string &what, const std::string &path) {
  return what + " " + quote(path) + ": " + std::strerror(errno);
}

Options parse(const Args &args) {
  Options o;
  std::vector<std::string_view> operands;
  ArgReader r(args, kRenderSynopsis);
  while (!r.done()) {
    if (r.separator()) continue;
    if (auto op = r.operand()) {
      operands.push_back(*op);
    } else if (r.flag("--help") || r.flag("-h")) {
      o.help = true;
    } else if (auto v = r.value("--scale", "N")) {
      o.scale = parse_int32("--scale", *v);
    } else if (auto c = r.value("--channels", "1|2")) {
      if (*c != "1" && *c != "2") fail("bad --channels value " + quote(*c) + ": expected 1 or 2");
      o.channels = *c == "1" ? 1 : 2;
    } else if (auto f = r.value("--format", "f64|wav")) {
      if (*f != "f64" && *f != "wav")
        fail("bad --format value " + quote(*f) + ": expected f64 or wav");
      o.wav = *f == "wav";
    } else {
      r.reject();
    }
  }
  const std::string usage = ": usage: " + std::string(kRenderSynopsis);
  if (o.help) return o;
  if (operands.size() < 2)
    fail(std::string(operands.empty() ? "missing INPUT and OUTPUT" : "missing OUTPUT") +
         " for 'render'" + usage);
  if (operands.size() > 2) fail("unexpected argument " + quote(operands[2]) + usage);
  o.input = operands[0];
  o.output = operands[1];
  return o;
}

// The output under construction: a temporary file in OUTPUT's directory
// (so the final rename stays on one file system), removed unless committed.
class TempOutput {
 public:
  explicit TempOutput(const std::string &target) : target_(target) {
    std::filesystem::path dir = std::filesystem::path(target).parent_path();
    if (dir.empty()) dir = ".";
    std::string pattern = (dir / ".synthtab-render-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) fail(sys_error("cannot write", target));
    // mkstemp makes it private; give it the mode a newly created file gets.
    const mode_t mask = umask(0);
    umask(mask);
    const bool ok = fchmod(fd, 0666 & ~mask) == 0;
    const int err = errno;
    close(fd);
    if (!ok) {
      std::remove(pattern.c_str());
      errno = err;
      fail(sys_error("cannot write", target));
    }
    path_ = pattern;
  }
  ~TempOutput() {
    if (!path_.empty()) std::remove(path_.c_str());
  }
  TempOutput(const TempOutput &) = delete;
  TempOutput &operator=(const TempOutput &) = delete;

  const std::string &path() const { return path_; }

  void commit() {
    if (std::rename(path_.c_str(), target_.c_str()) != 0) fail(sys_error("cannot write", target_));
    path_.clear();
  }

 private:
  std::string target_, path_;
};

// Where the frames go: write() takes n interleaved samples.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual void write(const double *samples, std::size_t n) = 0;
  virtual void finish() = 0;  // flush and close; throws if anything was lost
};

void put_le(unsigned char *p, double d) {
  uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  for (int i = 0; i < 8; i++) p[i] = static_cast<unsigned char>(u >> (8 * i));
}

double get_le(const unsigned char *p) {
  uint64_t u = 0;
  for (int i = 7; i >= 0; i--) u = u << 8 | p[i];
  double d;
  std::memcpy(&d, &u, sizeof d);
  return d;
}

class F64Sink : public Sink {
 public:
  F64Sink(const std::string &path, const std::string &name) : name_(name) {
    f_ = std::fopen(path.c_str(), "wb");
    if (!f_) fail(sys_error("cannot write", name_));
  }
  ~F64Sink() override {
    if (f_) std::fclose(f_);
  }
  void write(const double *samples, std::size_t n) override {
    unsigned char buf[64 * 8];
    for (std::size_t i = 0; i < n; i++) put_le(buf + 8 * i, samples[i]);
    if (std::fwrite(buf, 8, n, f_) != n) fail(sys_error("cannot write", name_));
  }
  void finish() override {
    std::FILE *f = f_;
    f_ = nullptr;
    if (std::fclose(f) != 0) fail(sys_error("cannot write", name_));
  }

 private:
  std::string name_;
  std::FILE *f_ = nullptr;
};

class WavSink : public Sink {
 public:
  WavSink(const std::string &path, const std::string &name, int channels)
      : name_(name), channels_(channels) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    f_ = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f_) fail("cannot write " + quote(name_) + ": " + sf_strerror(nullptr));
  }
  ~WavSink() override {
    if (f_) sf_close(f_);
  }
  void write(const double *samples, std::size_t n) override {
    int16_t pcm[64];
    clipped_ += to_pcm16(samples, n, pcm);
    total_ += n;
    const auto frames = static_cast<sf_count_t>(n / channels_);
    if (sf_writef_short(f_, pcm, frames) != frames)
      fail("cannot write " + quote(name_) + ": " + sf_strerror(f_));
  }
  void finish() override {
    SNDFILE *f = f_;
    f_ = nullptr;
    if (sf_close(f) != 0) fail("cannot write " + quote(name_) + ": " + sf_strerror(nullptr));
  }
  std::size_t clipped() const { return clipped_; }
  std::size_t total() const { return total_; }

 private:
  std::string name_;
  int channels_;
  SNDFILE *f_ = nullptr;
  std::size_t clipped_ = 0, total_ = 0;
};

struct FileCloser {
  void operator()(std::FILE *f) const { std::fclose(f); }
};

}  // namespace

int run_render(const Args &args) {
  const Options o = parse(args);
  if (o.help) return write_stdout(kHelp);

  const std::size_t block = 32 * 8 * o.channels;  // bytes per block of all channels
  const auto bad_size = [&](uintmax_t size) {
    return quote(o.input) + " holds " + std::to_string(size) +
           " bytes, not a whole number of blocks: expected a multiple of " + std::to_string(block) +
           " (32 float64 subband samples x " + std::to_string(o.channels) + " channel" +
           (o.channels == 1 ? "" : "s") + ")";
  };

  std::unique_ptr<std::FILE, FileCloser> in(std::fopen(o.input.c_str(), "rb"));
  if (!in) fail(sys_error("cannot read", o.input));
  struct stat st;
  if (fstat(fileno(in.get()), &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<uintmax_t>(st.st_size) % block != 0)
    fail(bad_size(static_cast<uintmax_t>(st.st_size)));

  TempOutput tmp(o.output);
  std::unique_ptr<Sink> sink;
  WavSink *wav = nullptr;
  if (o.wav)
    sink.reset(wav = new WavSink(tmp.path(), o.output, o.channels));
  else
    sink.reset(new F64Sink(tmp.path(), o.output));

  make_decode_tables(o.scale);
  SynthesisFilterbank bank[2];
  unsigned char raw[2 * 32 * 8];
  double sub[32], y[32], frames[2 * 32];
  uintmax_t bytes = 0;
  for (;;) {
    const std::size_t got = std::fread(raw, 1, block, in.get());
    bytes += got;
    if (got < block) {
      if (std::ferror(in.get())) fail(sys_error("cannot read", o.input));
      if (got == 0) break;
      fail(bad_size(bytes));  // a pipe, or a file that changed under us
    }
    for (int c = 0; c < o.channels; c++) {
      for (int k = 0; k < 32; k++) sub[k] = get_le(raw + 8 * (32 * c + k));
      bank[c].synthesize(sub, y);
      for (int j = 0; j < 32; j++) frames[o.channels * j + c] = y[j];
    }
    sink->write(frames, 32 * o.channels);
  }
  sink->finish();
  tmp.commit();
  if (wav)
    report("render: " + std::to_string(wav->clipped()) + " of " + std::to_string(wav->total()) +
           " samples clipped");
  return 0;
}

}  // namespace synthtab::cli
