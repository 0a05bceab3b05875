// File I/O for the synthtab commands: one INPUT and one OUTPUT operand each,
// "-" meaning stdin or stdout. A command needs four calls:
//
//   Input in(operand);                // opened now; size() known for a file
//   Output out(operand, &in);         // refuses the input's own file
//   out.write(bytes, n);              // or through an AudioWriter (audio.h)
//   out.commit();                     // all went well: flush, sync, name
//
// Input::next() hands out the input a slab at a time, read(2) into a buffer of
// its own; Input::read() copies into the caller's buffer. Neither knows any
// format: audio.h and subbands.h read through them.
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

#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "args.h"
#include "bytes.h"

namespace synthtab::cli {

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
  // A UsageError if a regular file's size changed since it was opened.
  void check_kept() const;
  // The UsageError for a regular file that ended after `now` of the bytes it
  // held when opened.
  [[noreturn]] void shrunk(uint64_t now) const;

 private:
  std::size_t fill(unsigned char *p, std::size_t n);  // read(2) until n or the end

  std::string name_;
  int fd_ = 0;
  struct stat st_ {};
  uint64_t pos_ = 0;                    // bytes handed out
  std::vector<unsigned char> buf_;      // a stream's last slab: len_ bytes
  std::size_t len_ = 0, back_ = 0;      // back_: bytes given back, before len_
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
  // Bytes written so far: the file's length.
  int64_t size() const { return end_; }
  // Moves the bytes from at to the end up by `by` (a regular file only), for
  // a header that grows.
  void shift(int64_t at, int64_t by);
  void commit();

 private:
  // The buffer behind write(): sequential bytes collect here;
  // rewrites land in it, or go to the file with pwrite, or (streams) are
  // dropped when already sent. False, with errno_ set, on error.
  bool put(const void *p, std::size_t n);
  bool flush();
  bool emit(const unsigned char *p, std::size_t n, int64_t at);
  void discard();  // closes everything and removes the temporary
  void publish();  // names the synced file OUTPUT
  [[noreturn]] void fail(int err) const;

  std::string name_, target_;  // target_: the file a temporary replaces
  int fd_ = -1, dir_ = -1;     // dir_: target_'s directory
  bool stream_ = false, temp_ = false, unnamed_ = false;
  std::vector<unsigned char> buf_;
  int64_t base_ = 0;  // file offset of buf_[0]
  int64_t pos_ = 0, end_ = 0;
  int errno_ = 0;
};

}  // namespace synthtab::cli

#endif  // SYNTHTAB_TOOLS_IO_H
