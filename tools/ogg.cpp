// Ogg Vorbis through libvorbisfile and libvorbisenc. The bytes vorbisfile
// reads pass a page check of our own on the way, since vorbisfile skips
// what fails its CRC and takes a stream that stops short as ended: every page
// whole with its CRC right, pages back to back, the last one ending its
// stream. A hole vorbisfile meets (OV_HOLE) is damage too. Nothing seeks, so
// pipes are read as they arrive.
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>
#include <vector>

#include "audio.h"
#include "bytes.h"

namespace synthtab::cli {
namespace {

constexpr char kWhole[] = "whole Ogg Vorbis";
// The encoder's quality, from -0.1 to 1: 0.5 is about 160 kbit/s for 44.1 kHz
// stereo, transparent for nearly all material and a third of 16-bit PCM's
// size or less.
constexpr float kQuality = 0.5f;

// Ogg's CRC-32: polynomial 0x04C11DB7, not reflected, starting from 0.
uint32_t ogg_crc(uint32_t crc, const unsigned char *p, std::size_t n) {
  static const auto table = [] {
    std::vector<uint32_t> t(256);
    for (uint32_t i = 0; i < 256; i++) {
      uint32_t r = i << 24;
      for (int k = 0; k < 8; k++) r = r & 0x80000000u ? r << 1 ^ 0x04C11DB7u : r << 1;
      t[i] = r;
    }
    return t;
  }();
  for (std::size_t i = 0; i < n; i++) crc = crc << 8 ^ table[(crc >> 24 ^ p[i]) & 0xFF];
  return crc;
}

// Checks the pages of a byte stream fed to it in pieces; holds one page at
// most (65,307 bytes).
class PageCheck {
 public:
  // An empty string, or what is wrong so far.
  const std::string &error() const { return error_; }
  void feed(const unsigned char *p, std::size_t n) {
    while (n > 0 && error_.empty()) {
      const std::size_t want = need() - page_.size(), take = std::min(want, n);
      page_.insert(page_.end(), p, p + take);
      p += take;
      n -= take;
      if (page_.size() == 27 && std::memcmp(page_.data(), "OggS\0", 5) != 0)
        error_ = "holds bytes that are not an Ogg page at byte " + std::to_string(offset_);
      else if (page_.size() == need() && table_done()) page();
    }
  }
  // At the end of the input: whole pages, the last one ending its stream.
  void end() {
    if (!error_.empty()) return;
    if (!page_.empty())
      error_ = "ends inside a page at byte " + std::to_string(offset_ + page_.size());
    else if (!eos_)
      error_ = "ends after " + std::to_string(offset_) + " bytes without its end-of-stream page";
  }

 private:
  bool table_done() const { return page_.size() >= 27u + page_[26]; }
  std::size_t need() const {
    if (page_.size() < 27) return 27;
    std::size_t n = 27 + page_[26];
    if (page_.size() < n) return n;
    for (int i = 0; i < page_[26]; i++) n += page_[27 + i];
    return n;
  }
  void page() {
    unsigned char *crc = page_.data() + 22;
    const uint32_t stated = static_cast<uint32_t>(get_le(crc, 4));
    std::memset(crc, 0, 4);
    if (ogg_crc(0, page_.data(), page_.size()) != stated)
      error_ = "has a page failing its CRC at byte " + std::to_string(offset_);
    eos_ = page_[5] & 4;
    offset_ += page_.size();
    page_.clear();
  }

  std::vector<unsigned char> page_;
  uint64_t offset_ = 0;  // where page_ starts
  bool eos_ = false;
  std::string error_;
};

class OggReader : public AudioReader {
 public:
  explicit OggReader(Input &in) : in_(in) {
    const ov_callbacks io{on_read, nullptr, nullptr, nullptr};
    const int r = ov_open_callbacks(this, &vf_, nullptr, 0, io);
    check();
    if (r == OV_ENOTVORBIS) damaged(in_, "is Ogg, but not Vorbis", "Ogg Vorbis");
    if (r < 0) damaged(in_, "is cut or damaged in its Vorbis headers (" + why(r) + ")", kWhole);
    open_ = true;
    const vorbis_info *vi = ov_info(&vf_, -1);
    channels_ = vi->channels;
    rate_ = static_cast<uint32_t>(vi->rate);
    if (channels_ < 1 || vi->rate < 1)
      damaged(in_, "states " + std::to_string(channels_) + " channels at " +
                       std::to_string(vi->rate) + " Hz", kWhole);
  }
  ~OggReader() override {
    if (open_) ov_clear(&vf_);
  }

  std::size_t read(double *out, std::size_t n) override {
    float **pcm;
    int link;
    const long got = ov_read_float(&vf_, &pcm, static_cast<int>(std::min<std::size_t>(n, 1 << 16)), &link);
    check();
    if (got < 0)
      damaged(in_, "is damaged after " + std::to_string(frames_read_) + " frames (" + why(got) + ")",
              kWhole);
    if (got == 0) {
      pages_.end();
      check();
      return 0;
    }
    const vorbis_info *vi = ov_info(&vf_, link);  // a chained stream's link
    if (vi->channels != channels_ || vi->rate != long(rate_))
      damaged(in_, "changes its channels or rate after " + std::to_string(frames_read_) + " frames",
              "one channel count and rate throughout");
    for (long i = 0; i < got; i++)
      for (int c = 0; c < channels_; c++) out[i * channels_ + c] = pcm[c][i];
    frames_read_ += got;
    return static_cast<std::size_t>(got);
  }

 private:
  static std::string why(long r) {
    switch (r) {
      case OV_HOLE: return "a hole in the data";
      case OV_EREAD: return "a read failed";
      case OV_ENOTVORBIS: return "not Vorbis";
      case OV_EBADHEADER: return "a bad Vorbis header";
      case OV_EBADLINK: return "a bad link";
      default: return "error " + std::to_string(r);
    }
  }
  // What the read callback met, now that vorbisfile has returned.
  void check() {
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    if (!pages_.error().empty()) damaged(in_, pages_.error(), kWhole);
  }
  static std::size_t on_read(void *p, std::size_t size, std::size_t count, void *self) {
    auto &r = *static_cast<OggReader *>(self);
    std::size_t got = 0;
    try {
      got = r.in_.read(p, size * count);
    } catch (...) {
      r.failure_ = std::current_exception();
      errno = EIO;
      return 0;
    }
    r.pages_.feed(static_cast<unsigned char *>(p), got);
    // Past damage, vorbisfile sees the end; and an end with errno clear,
    // which vorbisfile takes for a failed read otherwise.
    if (!r.pages_.error().empty()) return 0;
    errno = 0;
    return got / size;
  }

  Input &in_;
  OggVorbis_File vf_{};
  bool open_ = false;
  PageCheck pages_;
  uint64_t frames_read_ = 0;
  std::exception_ptr failure_;
};

class OggWriter : public AudioWriter {
 public:
  OggWriter(Output &out, const AudioFormat &f) : out_(out), channels_(f.channels) {
    vorbis_info_init(&vi_);
    if (f.rate > INT32_MAX || vorbis_encode_init_vbr(&vi_, f.channels, f.rate, kQuality) != 0) {
      vorbis_info_clear(&vi_);
      throw UsageError(std::to_string(f.channels) + " channels at " + std::to_string(f.rate) +
                       " Hz: expected a rate and channels the Vorbis encoder takes "
                       "(8000 to 192000 Hz)");
    }
    vorbis_comment_init(&vc_);
    vorbis_comment_add_tag(&vc_, "ENCODER", "synthtab");
    vorbis_analysis_init(&vd_, &vi_);
    vorbis_block_init(&vd_, &vb_);
    ogg_stream_init(&os_, 0x73796e74);  // "synt": one logical stream, a fixed serial
    ogg_packet id, comment, books;
    vorbis_analysis_headerout(&vd_, &vc_, &id, &comment, &books);
    ogg_stream_packetin(&os_, &id);
    ogg_stream_packetin(&os_, &comment);
    ogg_stream_packetin(&os_, &books);
    ogg_page page;
    while (ogg_stream_flush(&os_, &page)) put(page);  // the audio starts on a page of its own
  }
  ~OggWriter() override {
    ogg_stream_clear(&os_);
    vorbis_block_clear(&vb_);
    vorbis_dsp_clear(&vd_);
    vorbis_comment_clear(&vc_);
    vorbis_info_clear(&vi_);
  }

  void write(const void *frames, std::size_t n) override {
    const auto *v = static_cast<const float *>(frames);
    float **buf = vorbis_analysis_buffer(&vd_, static_cast<int>(n));
    for (std::size_t i = 0; i < n; i++)
      for (int c = 0; c < channels_; c++) buf[c][i] = v[i * channels_ + c];
    vorbis_analysis_wrote(&vd_, static_cast<int>(n));
    drain();
  }

  void finish() override {
    vorbis_analysis_wrote(&vd_, 0);  // the end: the last page ends the stream
    drain();
  }

 private:
  void put(const ogg_page &p) {
    out_.write(p.header, p.header_len);
    out_.write(p.body, p.body_len);
  }
  void drain() {
    ogg_packet packet;
    ogg_page page;
    while (vorbis_analysis_blockout(&vd_, &vb_) == 1) {
      vorbis_analysis(&vb_, nullptr);
      vorbis_bitrate_addblock(&vb_);
      while (vorbis_bitrate_flushpacket(&vd_, &packet)) {
        ogg_stream_packetin(&os_, &packet);
        while (ogg_stream_pageout(&os_, &page)) put(page);
      }
    }
    while (ogg_stream_flush(&os_, &page)) put(page);
  }

  Output &out_;
  int channels_;
  vorbis_info vi_{};
  vorbis_comment vc_{};
  vorbis_dsp_state vd_{};
  vorbis_block vb_{};
  ogg_stream_state os_{};
};

}  // namespace

std::unique_ptr<AudioReader> read_ogg(Input &in) { return std::make_unique<OggReader>(in); }

std::unique_ptr<AudioWriter> write_ogg(Output &out, const AudioFormat &f, int64_t) {
  return std::make_unique<OggWriter>(out, f);
}

}  // namespace synthtab::cli
