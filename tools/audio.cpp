#include "audio.h"

#include <algorithm>
#include <cstring>

#include "bytes.h"

namespace synthtab::cli {

Kind sniff(Input &in) {
  unsigned char h[12] = {};
  const std::size_t got = in.read(h, sizeof h);
  in.unread(got);
  const auto is = [&](std::size_t at, const char *tag) {
    const std::size_t n = std::strlen(tag);
    return got >= at + n && std::memcmp(h + at, tag, n) == 0;
  };
  if (is(0, "RIFF") && is(8, "WAVE")) return Kind::kWav;
  if ((is(0, "RF64") || is(0, "BW64")) && is(8, "WAVE")) return Kind::kRf64;
  if (is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC"))) return Kind::kAiff;
  if (is(0, "fLaC")) return Kind::kFlac;
  if (is(0, "OggS")) return Kind::kOgg;
  if (is(0, "SYNTHSUB")) return Kind::kSubbands;
  if (is(0, "\x93NUMPY")) return Kind::kNpy;
  return Kind::kUnknown;
}

std::string formats_read() {
  return "WAV, RF64, AIFF, FLAC, Ogg Vorbis, subband files and .npy";
}

bool have(Container c) {
  switch (c) {
    case Container::kFlac:
#ifdef SYNTHTAB_WITH_FLAC
      return true;
#else
      return false;
#endif
    case Container::kOgg:
#ifdef SYNTHTAB_WITH_VORBIS
      return true;
#else
      return false;
#endif
    default:
      return true;
  }
}

const char *name_of(Container c) {
  constexpr const char *kNames[] = {"WAV", "FLAC", "AIFF", "Ogg Vorbis"};
  return kNames[static_cast<int>(c)];
}

std::string audio_formats() {
  std::string s = "WAV, RF64, AIFF, AIFF-C";
  for (Container c : {Container::kFlac, Container::kOgg})
    if (have(c)) s += std::string(", ") + name_of(c);
  return s;
}

std::string with_formats(std::string text) {
  for (std::size_t at; (at = text.find("{audio}")) != std::string::npos;)
    text.replace(at, 7, audio_formats());
  return text;
}

void damaged(const Input &in, const std::string &why, const std::string &form) {
  throw UsageError(quote(in.name()) + " " + why + ": expected " + form);
}

void read_exact(Input &in, void *p, std::size_t n, const char *what) {
  if (in.read(p, n) != n)
    damaged(in, std::string("ends inside its ") + what, "whole audio");
}

void skip(Input &in, uint64_t n, const char *what) {
  while (n > 0) {
    const unsigned char *p;
    const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(n, 1 << 16));
    if (in.next(p, want) != want) damaged(in, std::string("ends inside its ") + what, "whole audio");
    n -= want;
  }
}

std::unique_ptr<AudioReader> open_audio(Input &in) {
  const Kind k = sniff(in);
  const auto lacks = [&](const char *what) {
    throw UsageError(quote(in.name()) + " is " + what + ", which this build does not read: "
                     "expected " + audio_formats());
  };
  switch (k) {
    case Kind::kWav:
    case Kind::kRf64:
      return read_wav(in);
    case Kind::kAiff:
      return read_aiff(in);
    case Kind::kFlac:
      if (!have(Container::kFlac)) lacks("FLAC");
      return read_flac(in);
    case Kind::kOgg:
      if (!have(Container::kOgg)) lacks("Ogg");
      return read_ogg(in);
    case Kind::kSubbands:
    case Kind::kNpy:
      throw UsageError(quote(in.name()) + " holds subbands, not audio: expected " +
                       audio_formats() + " (render makes audio of subbands)");
    case Kind::kUnknown:
      break;
  }
  throw UsageError(quote(in.name()) + " starts with bytes of no format synthtab reads: expected " +
                   formats_read());
}

std::unique_ptr<AudioWriter> make_writer(Container c, Output &out, const AudioFormat &f,
                                         int64_t frames) {
  if (!have(c))
    throw UsageError(std::string("this build does not write ") + name_of(c) + ": expected " +
                     audio_formats());
  switch (c) {
    case Container::kWav:
      return write_wav(out, f, frames);
    case Container::kAiff:
      return write_aiff(out, f, frames);
    case Container::kFlac:
      return write_flac(out, f, frames);
    case Container::kOgg:
      return write_ogg(out, f, frames);
  }
  return nullptr;
}

void decode(const Encoding &e, const unsigned char *p, std::size_t n, double *out) {
  if (e.real) {
    for (std::size_t i = 0; i < n; i++, p += e.bytes) {
      const uint64_t u = e.big ? get_be(p, e.bytes) : get_le(p, e.bytes);
      if (e.bytes == 4) {
        float f;
        const auto v = static_cast<uint32_t>(u);
        std::memcpy(&f, &v, 4);
        out[i] = f;
      } else {
        std::memcpy(&out[i], &u, 8);
      }
    }
    return;
  }
  if (e.bytes == 2 && !e.big) {  // the common case, kept quick
    for (std::size_t i = 0; i < n; i++)
      out[i] = static_cast<int16_t>(p[2 * i] | p[2 * i + 1] << 8) * (1.0 / 32768);
    return;
  }
  const double unit = 1.0 / (uint64_t{1} << (8 * e.bytes - 1));
  const int shift = 64 - 8 * e.bytes;
  for (std::size_t i = 0; i < n; i++, p += e.bytes) {
    uint64_t u = e.big ? get_be(p, e.bytes) : get_le(p, e.bytes);
    if (e.offset) u ^= uint64_t{1} << (8 * e.bytes - 1);
    // Sign-extended from the top: an arithmetic shift of the value moved up.
    out[i] = static_cast<double>(static_cast<int64_t>(u << shift) >> shift) * unit;
  }
}

PcmReader::PcmReader(Input &in, const Encoding &e, int channels, uint32_t rate,
                     std::optional<uint64_t> data)
    : in_(in), e_(e), align_(std::size_t(channels) * e.bytes), left_(data), data_(data) {
  channels_ = channels;
  rate_ = rate;
  if (data) frames_ = *data / align_;
}

std::size_t PcmReader::read(double *out, std::size_t n) {
  std::size_t want = n * align_;
  if (left_) want = static_cast<std::size_t>(std::min<uint64_t>(want, *left_));
  if (want == 0) return 0;
  const unsigned char *p;
  const std::size_t got = in_.next(p, want);
  if (left_ && got < want)
    damaged(in_, "ended after " + std::to_string((*data_ - *left_ + got) / align_) + " of the " +
                     std::to_string(*data_ / align_) + " frames its header states",
            "whole audio");
  if (got % align_)
    damaged(in_, "ends inside a frame", "whole frames of " + std::to_string(align_) + " bytes");
  if (left_) *left_ -= got;
  decode(e_, p, got / e_.bytes, out);
  return got / align_;
}

}  // namespace synthtab::cli

namespace synthtab::cli {
// The formats a build leaves out: never reached, as have() says no first.
#ifndef SYNTHTAB_WITH_FLAC
std::unique_ptr<AudioReader> read_flac(Input &) { return nullptr; }
std::unique_ptr<AudioWriter> write_flac(Output &, const AudioFormat &, int64_t) { return nullptr; }
#endif
#ifndef SYNTHTAB_WITH_VORBIS
std::unique_ptr<AudioReader> read_ogg(Input &) { return nullptr; }
std::unique_ptr<AudioWriter> write_ogg(Output &, const AudioFormat &, int64_t) { return nullptr; }
#endif
}  // namespace synthtab::cli
