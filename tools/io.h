// File I/O for the synthtab commands: one INPUT and one OUTPUT operand each,
// "-" meaning stdin or stdout. A command needs four calls:
//
//   Input in(operand);                // opened now; size() known for a file
//   Output out(operand, &in);         // refuses the input's own file
//   out.write(bytes, n);              // or: SNDFILE *sf = out.sndfile(info);
//   out.commit();                     // all went well: flush, close, rename
//
// Input::read() fills a buffer with direct read(2) calls; in.sndfile(info)
// reads audio from the same descriptor instead.
//
// Where OUTPUT goes:
//   - "-", or an existing FIFO, character or block device or socket: written
//     straight into, as a stream; nothing is ever rewound or replaced.
//   - a regular file, existing or new: a temporary beside it (created
//     exclusively, written only through its own descriptor, with the existing
//     file's permission bits) that is renamed over it by commit(). Without a
//     commit the temporary is removed and the file stays as it was; so it is
//     on SIGINT, SIGTERM, SIGHUP and SIGPIPE, after which the process dies of
//     that signal (exit status 128 + its number).
//   - a symlink: its final target is treated as above; the link stays.
//
// Errors are exceptions with the whole message in what(): UsageError (exit 2)
// for an operand that cannot be opened or is the input itself, IoError (exit
// 1) for a read, write, close or rename that fails once open.
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
  // Reads until n bytes or the end; returns the count, below n only at the end.
  std::size_t read(void *buf, std::size_t n);
  // Audio through libsndfile on the same descriptor (a stream is copied to an
  // unnamed temporary file first, for formats that seek); closed with the Input.
  SNDFILE *sndfile(SF_INFO &info);

 private:
  void spool();

  std::string name_;
  int fd_ = 0;
  struct stat st_ {};
  SNDFILE *sf_ = nullptr;
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
  // A libsndfile writer over this output's buffer; commit() closes it. For a
  // stream, payload (bytes of sample data to come, or -1 if unknown) sets the
  // sizes in the header, which cannot be rewritten afterwards.
  SNDFILE *sndfile(SF_INFO &info, int64_t payload = -1);
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
  void discard();  // closes everything and removes the temporary
  [[noreturn]] void fail(int err) const;

  std::string name_, target_;  // target_: the file a temporary replaces
  int fd_ = -1;
  bool stream_ = false, temp_ = false;
  SNDFILE *sf_ = nullptr;
  std::vector<unsigned char> buf_;
  int64_t base_ = 0;  // file offset of buf_[0]
  int64_t pos_ = 0, end_ = 0, hint_ = -1;
  int errno_ = 0;
};

}  // namespace synthtab::cli

#endif  // SYNTHTAB_TOOLS_IO_H
