// File I/O for the synthtab commands: one INPUT and one OUTPUT operand each,
// "-" meaning stdin or stdout. A command needs four calls:
//
//   Input in(operand);                // opened now; size() known for a file
//   Output out(operand, &in);         // refuses the input's own file
//   out.write(bytes, n);              // or: SNDFILE *sf = out.sndfile(info);
//   out.commit();                     // all went well: flush, close, rename
//
// Input::next() hands out the input a slab at a time, read(2) into a buffer of
// its own; Input::read() copies into the caller's buffer; in.sndfile(info)
// reads audio from the same descriptor instead.
//
// Where OUTPUT goes:
//   - "-", or an existing FIFO, character or block device or socket: written
//     straight into, as a stream; nothing is ever rewound or replaced.
//   - a regular file, existing or new: an unnamed file in its directory
//     (O_TMPFILE; where the filesystem refuses that, a temporary beside it,
//     created exclusively), written only through its own descriptor, with the
//     existing file's permission bits. commit() syncs it to the disk, links it
//     at OUTPUT's name if there is none (no other name ever exists), else at a
//     temporary name renamed over OUTPUT by the very next call, and syncs the
//     directory. Without a commit the file stays as it was, whatever ends the
//     process: an unnamed file vanishes with it, and a named temporary is
//     removed on every signal that can be caught, after which the process dies
//     of that signal (exit status 128 + its number). Only a SIGKILL between
//     the link and the rename, or any time with a named temporary, leaves one:
//     .synthtab-XXXXXX beside OUTPUT, OUTPUT itself as it was.
//   - a symlink: its final target is treated as above; the link stays.
//
// Errors are exceptions with the whole message in what(): UsageError (exit 2)
// for an operand that cannot be opened, whose directory is missing or not
// writable, whose name is too long, or that is the input itself, and for an
// input that shrinks while read; IoError (exit 1) for a read, write, sync,
// close or rename that fails once open.
#ifndef SYNTHTAB_TOOLS_IO_H
#define SYNTHTAB_TOOLS_IO_H

#include <sndfile.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "args.h"

namespace synthtab::cli {

// Little-endian float64, the format of subband and f64 files, from or to host
// order in place: nothing to do on a little-endian host.
inline void little_endian([[maybe_unused]] double *v, [[maybe_unused]] std::size_t n) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  for (std::size_t i = 0; i < n; i++) {
    uint64_t u;
    std::memcpy(&u, v + i, 8);
    u = __builtin_bswap64(u);
    std::memcpy(v + i, &u, 8);
  }
#endif
}

class Input {
 public:
  explicit Input(const std::string &operand);
  ~Input();
  Input(const Input &) = delete;
  Input &operator=(const Input &) = delete;

  const std::string &name() const { return name_; }
  const struct stat &stat() const { return st_; }
  // A regular file's size when it was opened; nothing for a stream.
  std::optional<uint64_t> size() const {
    return S_ISREG(st_.st_mode) ? std::optional<uint64_t>(st_.st_size) : std::nullopt;
  }
  // Bytes handed out so far (after any given back).
  uint64_t position() const { return pos_; }
  // Reads until n bytes or the end; returns the count, below n only at the end.
  std::size_t read(void *buf, std::size_t n);
  // Points p at the next n bytes (fewer only at the end) and returns their
  // count, in a buffer of the Input's own; valid until the next call.
  std::size_t next(const unsigned char *&p, std::size_t n);
  // Gives back the last n bytes read, for the next read() or next().
  void unread(std::size_t n);
  // Audio through libsndfile (closed with the Input). A stream is read as it
  // arrives where the format allows (WAV, AIFF, Ogg, ...); one that needs
  // seeking (FLAC) is first copied to an unnamed file in $TMPDIR.
  SNDFILE *sndfile(SF_INFO &info);
  // After the last frame: a UsageError unless libsndfile read without error
  // the frames its header states (any count when it states none or the most
  // it can) and a regular file kept its size.
  void check_whole(SNDFILE *sf, uint64_t frames) const;

 private:
  friend struct PipeIo;  // libsndfile's callbacks for a stream
  void spool();
  std::size_t fill(unsigned char *p, std::size_t n);  // read(2) until n or the end
  [[noreturn]] void shrunk(uint64_t now) const;

  std::string name_;
  int fd_ = 0;
  struct stat st_ {};
  SNDFILE *sf_ = nullptr;
  uint64_t pos_ = 0;                    // bytes handed out
  std::vector<unsigned char> buf_;      // a stream's last slab: len_ bytes
  std::size_t len_ = 0, back_ = 0;      // back_: bytes given back, before len_
  std::vector<unsigned char> head_;     // a stream libsndfile reads: its start
  uint64_t seen_ = 0;                   // ... and its bytes read so far
  bool spooled_ = false;
  bool counted_ = false;  // the header states a frame count to check
};

// A WAV file's sample format: 16- or 24-bit PCM, or 32-bit float.
struct WavFormat {
  int channels;
  int32_t rate;
  int bits;
  bool real;
};

class Output {
 public:
  // in, when given, is refused as OUTPUT: same device and inode.
  explicit Output(const std::string &operand, const Input *in = nullptr);
  ~Output();  // without commit(): removes the temporary
  Output(const Output &) = delete;
  Output &operator=(const Output &) = delete;

  bool stream() const { return stream_; }
  void write(const void *p, std::size_t n);
  // Writes n bytes at offset at, over bytes written before; a regular file only.
  void rewrite(int64_t at, const void *p, std::size_t n);
  // A libsndfile writer over this output's buffer; commit() closes it. For a
  // stream, payload (bytes of sample data to come, or -1 if unknown) sets the
  // sizes in the header, which cannot be rewritten afterwards.
  SNDFILE *sndfile(SF_INFO &info, int64_t payload = -1);
  // Starts a WAV file: the canonical RIFF header while the sizes fit in 4 GiB
  // (RF64 past that), for payload bytes of samples, or -1 if unknown. commit()
  // completes it: a regular file's header states the sizes written (RF64 if
  // they grew past 4 GiB); a stream's states them up front, 0xFFFFFFFF if
  // unknown.
  void wav(const WavFormat &f, int64_t payload);
  void commit();
  [[noreturn]] void failed() const { fail(errno_); }  // after a short libsndfile write

 private:
  friend struct VirtualIo;  // libsndfile's callbacks
  // The buffer behind write() and libsndfile: sequential bytes collect here;
  // rewrites land in it, or go to the file with pwrite, or (streams) are
  // dropped when already sent. False, with errno_ set, on error.
  bool put(const void *p, std::size_t n);
  bool flush();
  bool emit(const unsigned char *p, std::size_t n, int64_t at);
  void end_wav();
  void discard();  // closes everything and removes the temporary
  void publish();  // names the synced file OUTPUT
  [[noreturn]] void fail(int err) const;

  std::string name_, target_;  // target_: the file a temporary replaces
  int fd_ = -1, dir_ = -1;     // dir_: target_'s directory
  bool stream_ = false, temp_ = false, unnamed_ = false;
  SNDFILE *sf_ = nullptr;
  std::vector<unsigned char> buf_;
  int64_t base_ = 0;  // file offset of buf_[0]
  int64_t pos_ = 0, end_ = 0, hint_ = -1;
  int errno_ = 0;
  std::optional<WavFormat> wav_;
  int64_t wav_header_ = 0;  // its length: where the samples start
};

}  // namespace synthtab::cli

#endif  // SYNTHTAB_TOOLS_IO_H
