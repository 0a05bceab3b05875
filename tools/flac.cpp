// FLAC through libFLAC's stream decoder and encoder, with callbacks of our
// own over Input and Output, so pipes work both ways. Damage is exit 2: a
// frame failing its CRC or lost sync, an MD5 mismatch where STREAMINFO has a
// sum, fewer (or more) samples than STREAMINFO states.
#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

#include "audio.h"

namespace synthtab::cli {
namespace {

constexpr char kWhole[] = "whole FLAC";

class FlacReader : public AudioReader {
 public:
  explicit FlacReader(Input &in) : in_(in), owned_(FLAC__stream_decoder_new(), FLAC__stream_decoder_delete), d_(owned_.get()) {
    if (!d_) throw std::bad_alloc();
    FLAC__stream_decoder_set_md5_checking(d_, true);
    if (FLAC__stream_decoder_init_stream(d_, on_read, nullptr, nullptr, nullptr, nullptr,
                                         on_write, on_metadata, on_error,
                                         this) != FLAC__STREAM_DECODER_INIT_STATUS_OK)
      throw std::bad_alloc();
    const bool ok = FLAC__stream_decoder_process_until_end_of_metadata(d_);
    check();
    if (!ok || channels_ == 0) damaged(in_, "ends inside its FLAC header", kWhole);
  }

  std::size_t read(double *out, std::size_t n) override {
    while (at_ == pending_.size()) {
      if (ended_) return 0;
      pending_.clear();
      at_ = 0;
      const bool ok = FLAC__stream_decoder_process_single(d_);
      check();
      const FLAC__StreamDecoderState s = FLAC__stream_decoder_get_state(d_);
      if (!ok || s == FLAC__STREAM_DECODER_ABORTED)
        damaged(in_, std::string("cannot be decoded: ") + FLAC__StreamDecoderStateString[s], kWhole);
      if (s == FLAC__STREAM_DECODER_END_OF_STREAM) end();
    }
    const std::size_t frames = std::min(n, (pending_.size() - at_) / channels_);
    std::copy_n(pending_.begin() + at_, frames * channels_, out);
    at_ += frames * channels_;
    return frames;
  }

 private:
  // The stream's end: the MD5 sum and the count STREAMINFO states, if any.
  void end() {
    ended_ = true;
    if (frames_ && decoded_ != *frames_)
      damaged(in_, "ended after " + std::to_string(decoded_) + " of the " +
                       std::to_string(*frames_) + " frames its header states",
              kWhole);
    if (!FLAC__stream_decoder_finish(d_))
      damaged(in_, "fails its MD5 sum after " + std::to_string(decoded_) + " frames", kWhole);
  }
  // What the callbacks met, now that libFLAC has returned.
  void check() {
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    if (!error_.empty())
      damaged(in_, "is damaged after " + std::to_string(decoded_) + " frames (" + error_ + ")",
              kWhole);
  }

  static FLAC__StreamDecoderReadStatus on_read(const FLAC__StreamDecoder *, FLAC__byte buf[],
                                               std::size_t *bytes, void *self) {
    auto &r = *static_cast<FlacReader *>(self);
    try {
      *bytes = r.in_.read(buf, *bytes);
    } catch (...) {
      r.failure_ = std::current_exception();
      return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    }
    return *bytes ? FLAC__STREAM_DECODER_READ_STATUS_CONTINUE
                  : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
  }
  static void on_metadata(const FLAC__StreamDecoder *, const FLAC__StreamMetadata *m, void *self) {
    auto &r = *static_cast<FlacReader *>(self);
    if (m->type != FLAC__METADATA_TYPE_STREAMINFO) return;
    const FLAC__StreamMetadata_StreamInfo &i = m->data.stream_info;
    r.channels_ = static_cast<int>(i.channels);
    r.rate_ = i.sample_rate;
    r.bits_ = static_cast<int>(i.bits_per_sample);
    if (i.total_samples) r.frames_ = i.total_samples;
  }
  static FLAC__StreamDecoderWriteStatus on_write(const FLAC__StreamDecoder *, const FLAC__Frame *f,
                                                 const FLAC__int32 *const buf[], void *self) {
    auto &r = *static_cast<FlacReader *>(self);
    const unsigned n = f->header.blocksize;
    if (int(f->header.channels) != r.channels_ || int(f->header.bits_per_sample) != r.bits_) {
      r.error_ = "a frame unlike STREAMINFO";
      return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    const double unit = 1.0 / double(uint32_t{1} << (r.bits_ - 1));
    r.pending_.resize(std::size_t(n) * r.channels_);
    for (unsigned i = 0; i < n; i++)
      for (int c = 0; c < r.channels_; c++) r.pending_[i * r.channels_ + c] = buf[c][i] * unit;
    r.decoded_ += n;
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }
  static void on_error(const FLAC__StreamDecoder *, FLAC__StreamDecoderErrorStatus s, void *self) {
    auto &r = *static_cast<FlacReader *>(self);
    if (r.error_.empty()) r.error_ = FLAC__StreamDecoderErrorStatusString[s];
  }

  Input &in_;
  std::unique_ptr<FLAC__StreamDecoder, void (*)(FLAC__StreamDecoder *)> owned_;
  FLAC__StreamDecoder *d_;
  int bits_ = 0;
  std::vector<double> pending_;  // the last frame's samples, interleaved
  std::size_t at_ = 0;           // ... of which handed out
  uint64_t decoded_ = 0;
  bool ended_ = false;
  std::string error_;            // damage the decoder reported
  std::exception_ptr failure_;   // an exception a callback caught
};

class FlacWriter : public AudioWriter {
 public:
  FlacWriter(Output &out, const AudioFormat &f, int64_t frames)
      : out_(out), channels_(f.channels),
        owned_(FLAC__stream_encoder_new(), FLAC__stream_encoder_delete), e_(owned_.get()) {
    if (!e_) throw std::bad_alloc();
    if (f.channels > 8 || f.rate > FLAC__MAX_SAMPLE_RATE)
      throw UsageError(std::to_string(f.channels) + " channels at " + std::to_string(f.rate) +
                       " Hz: expected at most 8 channels and " +
                       std::to_string(FLAC__MAX_SAMPLE_RATE) + " Hz for FLAC");
    FLAC__stream_encoder_set_channels(e_, f.channels);
    FLAC__stream_encoder_set_bits_per_sample(e_, f.sample == Sample::kS16 ? 16 : 24);
    FLAC__stream_encoder_set_sample_rate(e_, f.rate);
    FLAC__stream_encoder_set_streamable_subset(e_, f.rate <= 655350);
    FLAC__stream_encoder_set_compression_level(e_, 5);  // as the flac tool's default
    if (frames >= 0) FLAC__stream_encoder_set_total_samples_estimate(e_, frames);
    s16_ = f.sample == Sample::kS16;
    // A regular file gets STREAMINFO's count and MD5 sum written back at the end.
    const bool file = !out.stream();
    const auto status = FLAC__stream_encoder_init_stream(e_, on_write, file ? on_seek : nullptr,
                                                         file ? on_tell : nullptr, nullptr, this);
    rethrow();
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
      throw UsageError(std::string("cannot write FLAC: ") +
                       FLAC__StreamEncoderInitStatusString[status] +
                       ": expected a rate and channels FLAC takes");
  }
  // Unfinished (a failure on the way): the encoder's last words are dropped.
  ~FlacWriter() override {
    closing_ = true;
    owned_.reset();
  }

  void write(const void *frames, std::size_t n) override {
    const std::size_t samples = n * channels_;
    const FLAC__int32 *v = static_cast<const FLAC__int32 *>(frames);
    if (s16_) {
      buf_.resize(samples);
      const auto *s = static_cast<const int16_t *>(frames);
      for (std::size_t i = 0; i < samples; i++) buf_[i] = s[i];
      v = buf_.data();
    }
    const bool ok = FLAC__stream_encoder_process_interleaved(e_, v, static_cast<unsigned>(n));
    rethrow();
    if (!ok) failed();
  }

  void finish() override {
    const bool ok = FLAC__stream_encoder_finish(e_);
    rethrow();
    if (!ok) failed();
  }

 private:
  void rethrow() {
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  }
  [[noreturn]] void failed() const {
    throw IoError(std::string("cannot encode FLAC: ") +
                  FLAC__StreamEncoderStateString[FLAC__stream_encoder_get_state(e_)]);
  }

  static FLAC__StreamEncoderWriteStatus on_write(const FLAC__StreamEncoder *, const FLAC__byte buf[],
                                                 std::size_t bytes, uint32_t, uint32_t, void *self) {
    auto &w = *static_cast<FlacWriter *>(self);
    if (w.closing_) return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    try {
      if (w.pos_ == w.out_.size())
        w.out_.write(buf, bytes);
      else
        w.out_.rewrite(w.pos_, buf, bytes);
      w.pos_ += static_cast<int64_t>(bytes);
    } catch (...) {
      w.failure_ = std::current_exception();
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  }
  static FLAC__StreamEncoderSeekStatus on_seek(const FLAC__StreamEncoder *, FLAC__uint64 at,
                                               void *self) {
    static_cast<FlacWriter *>(self)->pos_ = static_cast<int64_t>(at);
    return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
  }
  static FLAC__StreamEncoderTellStatus on_tell(const FLAC__StreamEncoder *, FLAC__uint64 *at,
                                               void *self) {
    *at = static_cast<FLAC__uint64>(static_cast<FlacWriter *>(self)->pos_);
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
  }

  Output &out_;
  int channels_;
  std::unique_ptr<FLAC__StreamEncoder, void (*)(FLAC__StreamEncoder *)> owned_;
  FLAC__StreamEncoder *e_;
  bool s16_ = false, closing_ = false;
  int64_t pos_ = 0;  // where the encoder writes next
  std::vector<FLAC__int32> buf_;
  std::exception_ptr failure_;
};

}  // namespace

std::unique_ptr<AudioReader> read_flac(Input &in) { return std::make_unique<FlacReader>(in); }

std::unique_ptr<AudioWriter> write_flac(Output &out, const AudioFormat &f, int64_t frames) {
  return std::make_unique<FlacWriter>(out, f, frames);
}

}  // namespace synthtab::cli
