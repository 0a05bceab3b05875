// The audio formats behind one small interface. A reader hands out frames as
// interleaved doubles at full scale 1 and states the channels, the rate and
// the length its header gives (if any); once it has handed out the last
// frame it has checked that the input was whole. A writer takes frames as
// render's kernels make them and finishes its header before Output::commit().
//
// Each format is a file of its own: wav.cpp (WAV and RF64), aiff.cpp (AIFF
// and AIFF-C), flac.cpp (libFLAC) and ogg.cpp (libvorbis); the last two only
// where the build has them (SYNTHTAB_WITH_FLAC, SYNTHTAB_WITH_VORBIS).
#ifndef SYNTHTAB_TOOLS_AUDIO_H
#define SYNTHTAB_TOOLS_AUDIO_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "io.h"

namespace synthtab::cli {

// What an input's first bytes are.
enum class Kind { kUnknown, kWav, kRf64, kAiff, kFlac, kOgg, kSubbands, kNpy };

// Looks at the first bytes (given back: the input is left as it was).
Kind sniff(Input &in);
inline bool is_audio(Kind k) { return k != Kind::kUnknown && k != Kind::kSubbands && k != Kind::kNpy; }
// The formats the tool reads, as a list for messages.
std::string formats_read();
// The audio containers this build reads and writes, e.g. "WAV, RF64, AIFF, FLAC".
std::string audio_formats();
// text with each "{audio}" replaced by audio_formats(), for the help.
std::string with_formats(std::string text);

class AudioReader {
 public:
  virtual ~AudioReader() = default;
  int channels() const { return channels_; }
  uint32_t rate() const { return rate_; }
  std::optional<uint64_t> frames() const { return frames_; }  // as the header states
  // Up to n frames into out (n * channels() doubles); 0 only at the end, when
  // the input has proved whole: anything cut, damaged or partial is a
  // UsageError.
  virtual std::size_t read(double *out, std::size_t n) = 0;

 protected:
  int channels_ = 0;
  uint32_t rate_ = 0;
  std::optional<uint64_t> frames_;
};

// The reader for in's format, told by its first bytes; a UsageError naming
// the formats read for anything else (nothing of it consumed beyond a peek).
std::unique_ptr<AudioReader> open_audio(Input &in);

// The containers render writes, and their sample formats: s16 and s24 come
// as int16_t and int32_t (the 24-bit value), f32 as float, interleaved.
enum class Container { kWav, kFlac, kAiff, kOgg };
enum class Sample { kS16, kS24, kF32 };
struct AudioFormat {
  int channels;
  uint32_t rate;
  Sample sample;
};

class AudioWriter {
 public:
  virtual ~AudioWriter() = default;
  virtual void write(const void *frames, std::size_t n) = 0;
  // Completes the header (sizes, counts, checksums) before out.commit().
  virtual void finish() = 0;
};

// Starts a file of c on out for frames frames (-1: not known yet). A format
// the container cannot state, or one this build lacks, is a UsageError,
// thrown before anything is written.
std::unique_ptr<AudioWriter> make_writer(Container c, Output &out, const AudioFormat &f,
                                         int64_t frames);
// Whether the build has c, and its name for messages.
bool have(Container c);
const char *name_of(Container c);

// The per-format halves of the above.
std::unique_ptr<AudioReader> read_wav(Input &in);
std::unique_ptr<AudioReader> read_aiff(Input &in);
std::unique_ptr<AudioReader> read_flac(Input &in);
std::unique_ptr<AudioReader> read_ogg(Input &in);
std::unique_ptr<AudioWriter> write_wav(Output &out, const AudioFormat &f, int64_t frames);
std::unique_ptr<AudioWriter> write_aiff(Output &out, const AudioFormat &f, int64_t frames);
std::unique_ptr<AudioWriter> write_flac(Output &out, const AudioFormat &f, int64_t frames);
std::unique_ptr<AudioWriter> write_ogg(Output &out, const AudioFormat &f, int64_t frames);

// Samples as a container stores them, to doubles at full scale 1: integers
// of 1 to 4 bytes (8 bits unsigned where `offset`), or IEEE floats of 4 or 8.
struct Encoding {
  int bytes;
  bool real, big, offset;
};
void decode(const Encoding &e, const unsigned char *p, std::size_t samples, double *out);

// WAV and AIFF: frames of e, data bytes of them (nothing: to the end).
class PcmReader : public AudioReader {
 public:
  PcmReader(Input &in, const Encoding &e, int channels, uint32_t rate,
            std::optional<uint64_t> data);
  std::size_t read(double *out, std::size_t n) override;

 private:
  Input &in_;
  Encoding e_;
  std::size_t align_;
  std::optional<uint64_t> left_, data_;
};

// Fixed-size header fields read whole, or a UsageError saying the input ends
// inside its header (what: e.g. "WAV header").
void read_exact(Input &in, void *p, std::size_t n, const char *what);
// Skips n bytes, or a UsageError as above.
void skip(Input &in, uint64_t n, const char *what);
[[noreturn]] void damaged(const Input &in, const std::string &why, const std::string &form);

}  // namespace synthtab::cli

#endif  // SYNTHTAB_TOOLS_AUDIO_H
