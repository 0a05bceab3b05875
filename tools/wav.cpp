// WAV and RF64: read in any of the usual sample formats, as they arrive (a
// stream needs no seeking); written as the canonical header, RF64 past 4 GiB.
#include <algorithm>
#include <cstring>
#include <vector>

#include "audio.h"
#include "bytes.h"

namespace synthtab::cli {
namespace {

constexpr uint32_t kUnknown = 0xFFFFFFFF;  // a size a stream cannot know
constexpr char kForm[] = "a WAV file: PCM of 8, 16, 24 or 32 bits or float of 32 or 64";
// The tail of the KSDATAFORMAT_SUBTYPE GUIDs of WAVE_FORMAT_EXTENSIBLE.
constexpr unsigned char kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::unique_ptr<AudioReader> read(Input &in) {
  unsigned char h[40];
  read_exact(in, h, 12, "WAV header");
  const bool rf64 = std::memcmp(h, "RIFF", 4) != 0;
  std::optional<uint64_t> ds64_data;
  std::optional<Encoding> enc;
  int channels = 0;
  uint32_t rate = 0;
  for (;;) {
    read_exact(in, h, 8, "WAV header");
    const std::string id(reinterpret_cast<char *>(h), 4);
    const uint64_t size = get_le(h + 4, 4);
    if (id == "data") {
      if (!enc) damaged(in, "has its data chunk before its fmt chunk", "the fmt chunk first");
      std::optional<uint64_t> data = size;
      if (rf64 && size == kUnknown) data = ds64_data;
      if (size == 0 || (data && *data == kUnknown)) data.reset();  // a stream's: to the end
      const std::size_t align = std::size_t(channels) * enc->bytes;
      if (data && *data % align)
        damaged(in, "states " + std::to_string(*data) + " bytes of samples, not whole frames",
                "a multiple of " + std::to_string(align));
      return std::make_unique<PcmReader>(in, *enc, channels, rate, data);
    }
    const uint64_t padded = size + (size & 1);
    if (id == "ds64" && rf64) {
      if (size < 24) damaged(in, "has a ds64 chunk of " + std::to_string(size) + " bytes", "28");
      read_exact(in, h, 24, "WAV header");
      ds64_data = get_le(h + 8, 8);
      skip(in, padded - 24, "WAV header");
    } else if (id == "fmt ") {
      if (size < 16) damaged(in, "has a fmt chunk of " + std::to_string(size) + " bytes", kForm);
      const std::size_t take = static_cast<std::size_t>(std::min<uint64_t>(size, 40));
      read_exact(in, h, take, "WAV header");
      skip(in, padded - take, "WAV header");
      unsigned tag = static_cast<unsigned>(get_le(h, 2));
      channels = static_cast<int>(get_le(h + 2, 2));
      rate = static_cast<uint32_t>(get_le(h + 4, 4));
      const uint64_t align = get_le(h + 12, 2), bits = get_le(h + 14, 2);
      if (tag == 0xFFFE) {  // WAVE_FORMAT_EXTENSIBLE: the format is in its GUID
        if (take < 40 || get_le(h + 16, 2) < 22 || std::memcmp(h + 26, kGuidTail, 14) != 0)
          damaged(in, "has an extensible fmt chunk of no known subformat", kForm);
        if (get_le(h + 18, 2) > bits)
          damaged(in, "states more valid bits than its samples hold", kForm);
        tag = static_cast<unsigned>(get_le(h + 24, 2));
      }
      const bool pcm = tag == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
      const bool real = tag == 3 && (bits == 32 || bits == 64);
      if (!pcm && !real)
        damaged(in, "holds samples of format " + std::to_string(tag) + " at " +
                        std::to_string(bits) + " bits",
                kForm);
      if (channels < 1 || rate < 1)
        damaged(in, "states " + std::to_string(channels) + " channels at " + std::to_string(rate) +
                        " Hz",
                "at least one channel and a rate of 1 Hz or more");
      if (align != uint64_t(channels) * bits / 8)
        damaged(in, "states frames of " + std::to_string(align) + " bytes",
                std::to_string(channels * bits / 8) + " for its channels and bits");
      enc = Encoding{static_cast<int>(bits / 8), real, false, bits == 8};
    } else {
      skip(in, padded, "WAV header");  // any other chunk
    }
  }
}

// The canonical header for data bytes of samples (-1: not known): 44 bytes for
// PCM, 58 for float (whose fmt chunk has the extension size and which needs a
// fact chunk); RF64 adds a 36-byte ds64 chunk after "WAVE" that holds the
// 64-bit sizes, the 32-bit ones saying 0xFFFFFFFF.
struct Header {
  int channels, bits;
  uint32_t rate;
  bool real;

  std::size_t size(bool rf64) const { return (real ? 58 : 44) + (rf64 ? 36 : 0); }
  bool fits(int64_t data) const { return data >= 0 && uint64_t(data) + size(false) - 8 <= kUnknown; }
  std::string make(int64_t data, bool rf64) const {
    const int align = channels * bits / 8;
    const uint64_t frames = data < 0 ? kUnknown : data / align;
    const uint64_t riff = size(rf64) - 8 + data;
    std::string h = rf64 ? "RF64" : "RIFF";
    put_le(h, rf64 || data < 0 ? kUnknown : riff, 4);
    h += "WAVE";
    if (rf64) {
      h += "ds64";
      put_le(h, 28, 4);
      put_le(h, riff, 8);
      put_le(h, data, 8);
      put_le(h, frames, 8);
      put_le(h, 0, 4);  // no table of other chunks' sizes
    }
    h += "fmt ";
    put_le(h, real ? 18 : 16, 4);
    put_le(h, real ? 3 : 1, 2);  // WAVE_FORMAT_IEEE_FLOAT or WAVE_FORMAT_PCM
    put_le(h, channels, 2);
    put_le(h, rate, 4);
    put_le(h, uint64_t(rate) * align, 4);
    put_le(h, align, 2);
    put_le(h, bits, 2);
    if (real) {
      put_le(h, 0, 2);
      h += "fact";
      put_le(h, 4, 4);
      put_le(h, rf64 || data < 0 ? kUnknown : frames, 4);
    }
    h += "data";
    put_le(h, rf64 || data < 0 ? kUnknown : data, 4);
    return h;
  }
};

class WavWriter : public AudioWriter {
 public:
  WavWriter(Output &out, const AudioFormat &f, int64_t frames)
      : out_(out), h_{f.channels, f.sample == Sample::kS16 ? 16 : f.sample == Sample::kS24 ? 24 : 32,
                      f.rate, f.sample == Sample::kF32} {
    if (f.channels > 65535 || uint64_t(f.rate) * f.channels * h_.bits / 8 > kUnknown)
      throw UsageError(std::to_string(f.channels) + " channels at " + std::to_string(f.rate) +
                       " Hz make a byte rate WAV cannot state: expected at most 4294967295 "
                       "bytes a second");
    const int64_t data = frames >= 0 ? frames * f.channels * h_.bits / 8 : -1;
    const std::string h = h_.make(data, data >= 0 && !h_.fits(data));
    header_ = static_cast<int64_t>(h.size());
    out_.write(h.data(), h.size());
  }

  void write(const void *frames, std::size_t n) override {
    const std::size_t samples = n * h_.channels;
    if (h_.bits == 24) {
      bytes_.resize(3 * samples);
      const auto *v = static_cast<const int32_t *>(frames);
      for (std::size_t i = 0; i < samples; i++) {
        bytes_[3 * i] = static_cast<unsigned char>(v[i]);
        bytes_[3 * i + 1] = static_cast<unsigned char>(v[i] >> 8);
        bytes_[3 * i + 2] = static_cast<unsigned char>(v[i] >> 16);
      }
      out_.write(bytes_.data(), bytes_.size());
    } else if (kBigEndianHost) {
      const std::size_t len = samples * h_.bits / 8;
      bytes_.assign(static_cast<const unsigned char *>(frames),
                    static_cast<const unsigned char *>(frames) + len);
      if (h_.bits == 16) swap_bytes(reinterpret_cast<uint16_t *>(bytes_.data()), samples);
      else swap_bytes(reinterpret_cast<uint32_t *>(bytes_.data()), samples);
      out_.write(bytes_.data(), len);
    } else {
      out_.write(frames, samples * h_.bits / 8);
    }
  }

  // A file's header states what was written; past 4 GiB, a canonical header
  // written when the size was not known grows into RF64, the samples moved up.
  // A stream's header went out first, stating the sizes it knew.
  void finish() override {
    if (out_.stream()) return;
    const bool rf64 = header_ > int64_t(h_.size(false));
    const int64_t data = out_.size() - header_;
    if (!rf64 && !h_.fits(data)) {
      out_.shift(header_, 36);
      header_ += 36;
    }
    const std::string h = h_.make(data, rf64 || !h_.fits(data));
    out_.rewrite(0, h.data(), h.size());
  }

 private:
  Output &out_;
  Header h_;
  int64_t header_ = 0;  // its length: where the samples start
  std::vector<unsigned char> bytes_;
};

}  // namespace

std::unique_ptr<AudioReader> read_wav(Input &in) { return read(in); }

std::unique_ptr<AudioWriter> write_wav(Output &out, const AudioFormat &f, int64_t frames) {
  return std::make_unique<WavWriter>(out, f, frames);
}

}  // namespace synthtab::cli
