// AIFF and AIFF-C: read as they arrive (a stream needs no seeking); written
// as AIFF for integers, AIFF-C 'fl32' for float.
#include <cmath>
#include <cstring>
#include <vector>

#include "audio.h"
#include "bytes.h"

namespace synthtab::cli {
namespace {

constexpr uint32_t kUnknown = 0xFFFFFFFF;
constexpr char kForm[] =
    "an AIFF file of 8- to 32-bit PCM, or AIFF-C of NONE, sowt, fl32 or fl64";
constexpr uint32_t kAifcVersion = 0xA2805140;

// The 80-bit extended float of COMM's rate, if it is a whole number of Hz
// that fits 32 bits; 0 if not.
uint32_t rate_of(const unsigned char *p) {
  const uint64_t exp = get_be(p, 2), mant = get_be(p + 2, 8);
  if (exp & 0x8000 || mant == 0) return 0;
  const int shift = static_cast<int>(exp) - 16383 - 63;
  if (shift >= 0 || shift <= -64) return 0;  // 2^63 Hz or more, or below 1
  if (mant & ((uint64_t{1} << -shift) - 1)) return 0;  // a fraction
  const uint64_t r = mant >> -shift;
  return r <= kUnknown ? static_cast<uint32_t>(r) : 0;
}

void put_rate(std::string &h, uint32_t rate) {
  const int top = 63 - __builtin_clzll(rate);
  put_be(h, 16383 + top, 2);
  put_be(h, uint64_t{rate} << (63 - top), 8);
}

std::unique_ptr<AudioReader> read(Input &in) {
  unsigned char h[64];
  read_exact(in, h, 12, "AIFF header");
  const bool aifc = std::memcmp(h + 8, "AIFC", 4) == 0;
  std::optional<Encoding> enc;
  int channels = 0;
  uint32_t rate = 0;
  uint64_t frames = 0;
  for (;;) {
    read_exact(in, h, 8, "AIFF header");
    const std::string id(reinterpret_cast<char *>(h), 4);
    const uint64_t size = get_be(h + 4, 4), padded = size + (size & 1);
    if (id == "SSND") {
      if (!enc) damaged(in, "has its SSND chunk before its COMM chunk", "the COMM chunk first");
      read_exact(in, h, 8, "AIFF header");
      const uint64_t offset = get_be(h, 4);
      skip(in, offset, "AIFF header");
      const std::size_t align = std::size_t(channels) * enc->bytes;
      std::optional<uint64_t> data = frames * align;
      if (size == 0 || size == kUnknown || frames == kUnknown) {
        data.reset();  // a stream's: to the end
      } else if (size < 8 + offset + *data) {
        damaged(in, "states " + std::to_string(frames) + " frames in an SSND chunk of " +
                        std::to_string(size) + " bytes",
                "a chunk that holds them");
      }
      return std::make_unique<PcmReader>(in, *enc, channels, rate, data);
    }
    if (id == "COMM") {
      const uint64_t need = aifc ? 22 : 18;
      if (size < need)
        damaged(in, "has a COMM chunk of " + std::to_string(size) + " bytes", kForm);
      read_exact(in, h, need, "AIFF header");
      skip(in, padded - need, "AIFF header");
      channels = static_cast<int>(get_be(h, 2));
      frames = get_be(h + 2, 4);
      const uint64_t bits = get_be(h + 6, 2);
      rate = rate_of(h + 8);
      const std::string type = aifc ? std::string(reinterpret_cast<char *>(h + 18), 4) : "NONE";
      Encoding e{static_cast<int>((bits + 7) / 8), false, true, false};
      if (type == "sowt") e.big = false;
      if (type == "fl32" || type == "FL32") e = {4, true, true, false};
      if (type == "fl64" || type == "FL64") e = {8, true, true, false};
      const bool known = type == "NONE" || type == "sowt" || e.real;
      if (!known || (!e.real && (bits < 1 || bits > 32)))
        damaged(in, "holds samples of type " + quote(type) + " at " + std::to_string(bits) + " bits",
                kForm);
      if (channels < 1 || rate < 1)
        damaged(in, "states " + std::to_string(channels) + " channels at a rate of " +
                        std::to_string(rate) + " Hz",
                "at least one channel and a whole rate of 1 Hz or more");
      enc = e;
    } else {
      skip(in, padded, "AIFF header");  // FVER, MARK, NAME, ... and any other
    }
  }
}

class AiffWriter : public AudioWriter {
 public:
  AiffWriter(Output &out, const AudioFormat &f, int64_t frames)
      : out_(out), f_(f), bytes_(f.sample == Sample::kS16 ? 2 : f.sample == Sample::kS24 ? 3 : 4) {
    if (f.channels > 65535)
      throw UsageError(std::to_string(f.channels) + " channels: expected at most 65535 for AIFF");
    if (frames >= 0) check(frames);
    const std::string h = header(frames);
    out_.write(h.data(), h.size());
  }

  void write(const void *frames, std::size_t n) override {
    const std::size_t samples = n * f_.channels;
    buf_.resize(samples * bytes_);
    unsigned char *b = buf_.data();
    if (f_.sample == Sample::kS16) {
      const auto *v = static_cast<const int16_t *>(frames);
      for (std::size_t i = 0; i < samples; i++) {
        b[2 * i] = static_cast<unsigned char>(v[i] >> 8);
        b[2 * i + 1] = static_cast<unsigned char>(v[i]);
      }
    } else if (f_.sample == Sample::kS24) {
      const auto *v = static_cast<const int32_t *>(frames);
      for (std::size_t i = 0; i < samples; i++) {
        b[3 * i] = static_cast<unsigned char>(v[i] >> 16);
        b[3 * i + 1] = static_cast<unsigned char>(v[i] >> 8);
        b[3 * i + 2] = static_cast<unsigned char>(v[i]);
      }
    } else {
      std::memcpy(b, frames, samples * 4);
      big_endian(reinterpret_cast<uint32_t *>(b), samples);
    }
    out_.write(b, buf_.size());
    written_ += n;
  }

  void finish() override {
    if (out_.stream()) return;
    check(static_cast<int64_t>(written_));
    const std::string h = header(static_cast<int64_t>(written_));
    out_.rewrite(0, h.data(), h.size());
  }

 private:
  bool real() const { return f_.sample == Sample::kF32; }
  std::size_t header_size() const { return real() ? 82 : 54; }
  void check(int64_t frames) const {
    if (uint64_t(frames) * f_.channels * bytes_ + header_size() - 8 > kUnknown)
      throw UsageError(std::to_string(frames) + " frames of " + std::to_string(f_.channels) +
                       " channels pass the 4 GiB AIFF holds: expected a shorter INPUT, or wav");
  }
  // The header for frames frames (-1: not known; a stream then states sizes
  // and a count of 0xFFFFFFFF, which means "to the end").
  std::string header(int64_t frames) const {
    const uint64_t data = frames < 0 ? kUnknown - 8 - header_size() : uint64_t(frames) * f_.channels * bytes_;
    std::string h = "FORM";
    put_be(h, frames < 0 ? kUnknown : header_size() - 8 + data, 4);
    h += real() ? "AIFC" : "AIFF";
    if (real()) {
      h += "FVER";
      put_be(h, 4, 4);
      put_be(h, kAifcVersion, 4);
    }
    h += "COMM";
    put_be(h, real() ? 34 : 18, 4);
    put_be(h, f_.channels, 2);
    put_be(h, frames < 0 ? kUnknown : uint64_t(frames), 4);
    put_be(h, 8 * bytes_, 2);
    put_rate(h, f_.rate);
    if (real()) {
      h += "fl32";
      h += "\x0b" "IEEE 32-bit";  // a Pascal string, 12 bytes: even, no pad
    }
    h += "SSND";
    put_be(h, frames < 0 ? kUnknown : 8 + data, 4);
    put_be(h, 0, 4);  // offset
    put_be(h, 0, 4);  // block size
    return h;
  }

  Output &out_;
  AudioFormat f_;
  int bytes_;
  uint64_t written_ = 0;
  std::vector<unsigned char> buf_;
};

}  // namespace

std::unique_ptr<AudioReader> read_aiff(Input &in) { return read(in); }

std::unique_ptr<AudioWriter> write_aiff(Output &out, const AudioFormat &f, int64_t frames) {
  return std::make_unique<AiffWriter>(out, f, frames);
}

}  // namespace synthtab::cli
