#include "io.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace synthtab::cli {
namespace {

constexpr std::size_t kBuffer = std::size_t{1} << 20;
constexpr char kInputForm[] = "INPUT a readable file or stream, or - for stdin";
constexpr char kOutputForm[] =
    "OUTPUT a file in a writable directory, a FIFO, a device, or - for stdout";

[[noreturn]] void bad(const char *verb, const std::string &name, int err, const char *form) {
  throw UsageError(std::string("cannot ") + verb + " " + quote(name) + ": " + std::strerror(err) +
                   ": expected " + form);
}

// The temporary to remove if a signal ends the process. The handler reads
// only these two, so they are set and cleared with the signals held off.
char g_temp[4096];
volatile std::sig_atomic_t g_armed = 0;
constexpr int kSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGPIPE, SIGQUIT,   SIGUSR1,
                            SIGUSR2, SIGALRM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF};

void on_signal(int sig) {
  if (g_armed) unlink(g_temp);
  std::signal(sig, SIG_DFL);
  std::raise(sig);  // delivered on return: dies of the signal, 128 + sig to a shell
}

void handle_signals() {
  for (int sig : kSignals) {
    struct sigaction sa {};
    sigaction(sig, nullptr, &sa);
    if (sa.sa_handler == SIG_IGN) continue;  // as the caller chose (nohup, ignored SIGPIPE)
    sa.sa_handler = on_signal;
    sigfillset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
  }
}

// Holds kSignals off while it lives.
class Hold {
 public:
  Hold() {
    sigset_t s;
    sigemptyset(&s);
    for (int sig : kSignals) sigaddset(&s, sig);
    sigprocmask(SIG_BLOCK, &s, &old_);
  }
  ~Hold() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_;
};

// The path a chain of symlinks ends at (which may not exist yet).
std::string resolve(std::string p, const std::string &name) {
  char link[4096];
  for (int hops = 0; hops < 40; hops++) {
    const ssize_t n = readlink(p.c_str(), link, sizeof link);
    if (n < 0) return p;
    const std::string t(link, n);
    p = t[0] == '/' ? t : p.substr(0, p.rfind('/') + 1) + t;
  }
  bad("write", name, ELOOP, kOutputForm);
}

int open_stream(const std::string &path, const struct stat &st) {
  if (!S_ISSOCK(st.st_mode)) return open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  if (path.size() >= sizeof a.sun_path) return errno = ENAMETOOLONG, -1;
  std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) return fd;
  const int err = errno;
  close(fd);
  return errno = err, -1;
}

}  // namespace

Input::Input(const std::string &operand) : name_(operand) {
  if (operand != "-") fd_ = open(operand.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0 || fstat(fd_, &st_) != 0) bad("read", name_, errno, kInputForm);
  if (S_ISDIR(st_.st_mode)) {
    close(fd_);
    bad("read", name_, EISDIR, kInputForm);
  }
}

Input::~Input() {
  if (fd_ > 0) close(fd_);
}

void Input::shrunk(uint64_t now) const {
  throw UsageError(quote(name_) + " ended after " + std::to_string(now) + " of the " +
                   std::to_string(st_.st_size) +
                   " bytes it held at the start: expected an INPUT that stays as it is");
}

std::size_t Input::fill(unsigned char *p, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    const ssize_t r = ::read(fd_, p + got, n - got);
    if (r > 0) {
      got += r;
    } else if (r == 0) {
      break;
    } else if (errno != EINTR) {
      throw IoError("cannot read " + quote(name_) + ": " + std::strerror(errno));
    }
  }
  return got;
}

std::size_t Input::read(void *buf, std::size_t n) {
  const unsigned char *p;
  const std::size_t got = next(p, n);
  std::memcpy(buf, p, got);
  return got;
}

std::size_t Input::next(const unsigned char *&p, std::size_t n) {
  // What was given back first, then fresh bytes after it. (Mapping a regular
  // file and reading it in place costs more than this copy: the filterbank
  // then reads every page cold, where read(2) leaves the slab in the cache.)
  const std::size_t from = len_ - back_;
  if (back_ >= n) {
    p = buf_.data() + from;
    back_ -= n;
    pos_ += n;
    return n;
  }
  if (back_) std::memmove(buf_.data(), buf_.data() + from, back_);
  std::size_t got = back_;
  back_ = 0;
  if (buf_.size() < n) buf_.resize(n);  // zero-filled once, when it grows
  got += fill(buf_.data() + got, n - got);
  len_ = got;
  p = buf_.data();
  pos_ += got;
  return got;
}

void Input::unread(std::size_t n) {
  pos_ -= n;
  back_ += n;
}

void Input::check_kept() const {
  struct stat now {};
  if (S_ISREG(st_.st_mode) && fstat(fd_, &now) == 0 && now.st_size != st_.st_size)
    shrunk(now.st_size);
}

Output::Output(const std::string &operand, const Input *in) : name_(operand) {
  if (operand.empty()) bad("write", name_, ENOENT, kOutputForm);
  handle_signals();
  buf_.reserve(kBuffer);
  struct stat st {};
  bool exists;
  if (operand == "-") {
    fd_ = 1;
    stream_ = true;
    exists = fstat(1, &st) == 0;
  } else {
    target_ = resolve(operand, name_);
    exists = ::stat(target_.c_str(), &st) == 0;
  }
  if (exists && in && S_ISREG(st.st_mode) && st.st_dev == in->stat().st_dev &&
      st.st_ino == in->stat().st_ino)
    throw UsageError(quote(name_) + " is the input file: expected an OUTPUT other than INPUT");
  if (operand == "-") return;
  if (exists && S_ISDIR(st.st_mode)) bad("write", name_, EISDIR, kOutputForm);
  if (exists && !S_ISREG(st.st_mode)) {
    stream_ = true;
    fd_ = open_stream(target_, st);
    if (fd_ < 0) bad("write", name_, errno, kOutputForm);
    return;
  }

  // The directory must exist, take the name and take a new file: all checked
  // here, before any work.
  const std::size_t slash = target_.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : target_.substr(0, slash + 1);
  const std::string base = target_.substr(slash == std::string::npos ? 0 : slash + 1);
  dir_ = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_ < 0) bad("write", name_, errno, kOutputForm);
  const long name_max = fpathconf(dir_, _PC_NAME_MAX);
  if (base.size() > static_cast<std::size_t>(name_max > 0 ? name_max : NAME_MAX) ||
      target_.size() >= sizeof g_temp - 32) {
    discard();
    bad("write", name_, ENAMETOOLONG, kOutputForm);
  }
  const mode_t mask = umask(0);
  umask(mask);
  const mode_t mode = exists ? st.st_mode & 07777 : 0666 & ~mask;
  fd_ = openat(dir_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  unnamed_ = fd_ >= 0;
  if (!unnamed_ && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    const int err = errno;
    discard();
    bad("write", name_, err, kOutputForm);
  }
  if (!unnamed_) {  // a named temporary beside it
    std::string temp = dir + ".synthtab-XXXXXX";
    Hold hold;
    fd_ = mkostemp(temp.data(), O_CLOEXEC);
    if (fd_ < 0) {
      const int err = errno;
      discard();
      bad("write", name_, err, kOutputForm);
    }
    std::memcpy(g_temp, temp.c_str(), temp.size() + 1);
    g_armed = 1;
    temp_ = true;
  }
  // The permission bits (and, where allowed, the owner) of the file it replaces.
  if (exists && fchown(fd_, st.st_uid, st.st_gid) != 0) {
  }
  if (fchmod(fd_, mode) != 0) {
    const int err = errno;
    discard();
    bad("write", name_, err, kOutputForm);
  }
}

Output::~Output() { discard(); }

void Output::discard() {
  if (fd_ >= 0 && fd_ != 1) close(fd_);
  fd_ = -1;
  if (dir_ >= 0) close(dir_);
  dir_ = -1;
  if (!temp_) return;
  Hold hold;
  unlink(g_temp);
  g_armed = 0;
  temp_ = false;
}

void Output::fail(int err) const {
  throw IoError("cannot write " + quote(name_) + ": " + std::strerror(err ? err : EIO));
}

void Output::write(const void *p, std::size_t n) {
  if (!put(p, n)) fail(errno_);
}

bool Output::emit(const unsigned char *p, std::size_t n, int64_t at) {
  while (n > 0) {
    const ssize_t w = stream_ ? ::write(fd_, p, n) : pwrite(fd_, p, n, at);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return errno_ = w < 0 ? errno : EIO, false;
    p += w;
    n -= w;
    at += w;
  }
  return true;
}

bool Output::flush() {
  if (!emit(buf_.data(), buf_.size(), base_)) return false;
  base_ += buf_.size();
  buf_.clear();
  return true;
}

bool Output::put(const void *data, std::size_t n) {
  const auto *p = static_cast<const unsigned char *>(data);
  const auto len = static_cast<int64_t>(n);
  if (!stream_ && buf_.empty()) base_ = pos_;  // a file may start a run anywhere
  bool direct = false;                         // large and sequential: straight through
  if (pos_ == base_ + static_cast<int64_t>(buf_.size()) && buf_.size() + n > kBuffer) {
    if (!flush()) return false;
    direct = n >= kBuffer;
  }
  if (direct) {
    if (!emit(p, n, base_)) return false;
    base_ += len;
  } else if (pos_ >= base_ && pos_ <= base_ + static_cast<int64_t>(buf_.size())) {
    const auto at = static_cast<std::size_t>(pos_ - base_);  // appends, and headers still held
    const std::size_t over = std::min(n, buf_.size() - at);
    std::memcpy(buf_.data() + at, p, over);
    buf_.insert(buf_.end(), p + over, p + n);
  } else if (!stream_) {
    if (!flush() || !emit(p, n, pos_)) return false;
  } else if (pos_ + len > base_) {
    return errno_ = ESPIPE, false;  // a stream cannot go back
  }                                 // else a rewrite of bytes a stream has sent: dropped
  pos_ += len;
  end_ = std::max(end_, pos_);
  return true;
}

void Output::rewrite(int64_t at, const void *p, std::size_t n) {
  const int64_t pos = pos_;
  pos_ = at;
  const bool ok = put(p, n);
  pos_ = pos;
  if (!ok) fail(errno_);
}

// Moves the bytes from at to the end up by `by`, from the top down.
void Output::shift(int64_t at, int64_t by) {
  if (!flush()) fail(errno_);
  std::vector<unsigned char> chunk(kBuffer);
  for (int64_t to = end_; to > at;) {
    const std::size_t n = static_cast<std::size_t>(std::min<int64_t>(kBuffer, to - at));
    to -= n;
    const ssize_t r = pread(fd_, chunk.data(), n, to);
    if (r != static_cast<ssize_t>(n)) fail(r < 0 ? errno : EIO);
    if (!emit(chunk.data(), n, to + by)) fail(errno_);
  }
  end_ += by;
  base_ = pos_ = end_;
}

void Output::commit() {
  if (errno_ || !flush()) fail(errno_);
  if (stream_) {
    const int fd = fd_;
    fd_ = -1;
    if (fd != 1 && close(fd) != 0) fail(errno);
    return;
  }
  if (fsync(fd_) != 0) fail(errno);  // the data on the disk before the name
  publish();
}

// Gives the synced file a name beside OUTPUT, renames that over OUTPUT, and
// syncs the directory so that the rename is on the disk too.
void Output::publish() {
  Hold hold;
  if (unnamed_) {
    // Linked through /proc, which needs no privilege, while the descriptor
    // keeps the file open.
    const std::size_t slash = target_.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd_);
    int err = EEXIST;
    for (unsigned k = 0; k < 64 && err == EEXIST; k++) {
      std::snprintf(g_temp, sizeof g_temp, "%s.synthtab-%06x", dir.c_str(),
                    (unsigned(getpid()) * 2654435761u + k * 40503u) & 0xFFFFFFu);
      err = linkat(AT_FDCWD, proc, AT_FDCWD, g_temp, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
      if (err == ENOENT)  // no /proc: the descriptor itself, where privileges allow
        err = linkat(fd_, "", AT_FDCWD, g_temp, AT_EMPTY_PATH) == 0 ? 0 : errno;
    }
    if (err) fail(err);
    g_armed = 1;
    temp_ = true;
  }
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) fail(errno);
  if (rename(g_temp, target_.c_str()) != 0) fail(errno);
  g_armed = 0;
  temp_ = false;
  if (fsync(dir_) != 0) fail(errno);
}

namespace {

constexpr char kTag[] = "SYNTHSUB";
constexpr char kNpyMagic[] = "\x93NUMPY";
constexpr int kShapeDigits = 20;  // room for any block count, rewritten in place

// The value after 'key': in a .npy header's dictionary, up to its delimiter.
std::string npy_field(const std::string &dict, const std::string &key) {
  const std::size_t k = dict.find("'" + key + "'");
  if (k == std::string::npos) return "";
  std::size_t v = dict.find(':', k);
  if (v == std::string::npos) return "";
  v = dict.find_first_not_of(' ', v + 1);
  if (v == std::string::npos) return "";
  const std::size_t e = dict[v] == '(' ? dict.find(')', v) + 1 : dict.find_first_of(",}", v);
  return e == std::string::npos || e == 0 ? "" : dict.substr(v, e - v);
}

std::string npy_header(const Subbands &s, uint64_t blocks) {
  char dict[128];
  std::snprintf(dict, sizeof dict, "{'descr': '<f8', 'fortran_order': False, 'shape': (%*llu, %d, 32), }",
                kShapeDigits, static_cast<unsigned long long>(blocks), s.channels);
  std::string h = std::string(kNpyMagic) + '\x01' + '\x00' + "  " + dict;
  h.append(63 - h.size() % 64, ' ');  // the whole header a multiple of 64 bytes
  h += '\n';
  const std::size_t len = h.size() - 10;
  h[8] = static_cast<char>(len & 0xFF);
  h[9] = static_cast<char>(len >> 8);
  return h;
}

}  // namespace

Subbands read_subbands(Input &in) {
  Subbands s;
  unsigned char h[kSubbandHeader];
  const std::size_t got = in.read(h, 8);
  const auto refuse = [&](const std::string &why, const char *form) {
    throw UsageError(quote(in.name()) + why + ": expected " + form);
  };
  if (got == 8 && std::memcmp(h, kTag, 8) == 0) {
    if (in.read(h + 8, 24) != 24) refuse(" ends inside its header", "a whole subband file");
    const uint64_t version = get_le(h + 8, 2), size = get_le(h + 10, 2);
    if (version != 1)
      refuse(" is a subband file of version " + std::to_string(version), "version 1");
    if (size < kSubbandHeader || size % 8)
      refuse(" states a header of " + std::to_string(size) + " bytes",
             "a multiple of 8 from 32 up");
    for (uint64_t left = size - kSubbandHeader; left > 0;) {  // fields of later versions
      unsigned char skip[64];
      const std::size_t n = in.read(skip, std::min<uint64_t>(left, sizeof skip));
      if (n == 0) refuse(" ends inside its header", "a whole subband file");
      left -= n;
    }
    s.layout = Layout::kTagged;
    s.channels = static_cast<int>(std::min<uint64_t>(get_le(h + 12, 4), INT32_MAX));
    s.rate = static_cast<int32_t>(std::min<uint64_t>(get_le(h + 16, 4), INT32_MAX));
    return s;
  }
  if (got == 8 && std::memcmp(h, kNpyMagic, 6) == 0) {
    const int major = h[6];
    const int len_bytes = major == 1 ? 2 : 4;
    if (major < 1 || major > 3) refuse(" is a .npy file of version " + std::to_string(major), "1 to 3");
    if (in.read(h, len_bytes) != std::size_t(len_bytes)) refuse(" ends inside its header", "a whole .npy file");
    std::string dict(get_le(h, len_bytes), '\0');
    if (dict.size() > 65536 || in.read(dict.data(), dict.size()) != dict.size())
      refuse(" ends inside its header", "a whole .npy file");
    const std::string shape = npy_field(dict, "shape");
    unsigned long long blocks = 0;
    int channels = 0, width = 0, end = 0;
    const bool three = std::sscanf(shape.c_str(), "(%llu , %d , %d ) %n", &blocks, &channels, &width, &end) == 3;
    if (!three) {
      channels = 1;
      end = 0;
      std::sscanf(shape.c_str(), "(%llu , %d ) %n", &blocks, &width, &end);
    }
    if (npy_field(dict, "descr") != "'<f8'" || npy_field(dict, "fortran_order") != "False" ||
        width != 32 || channels < 1 || std::size_t(end) != shape.size())
      refuse(" holds " + dict.substr(0, 80),
             "'<f8' in C order of shape (blocks, channels, 32) or (blocks, 32)");
    s.layout = Layout::kNpy;
    s.channels = channels;
    s.blocks = blocks;
    return s;
  }
  in.unread(got);
  return s;
}

Layout subband_layout(const std::string &name) {
  const std::size_t slash = name.rfind('/'), dot = name.rfind('.');
  std::string ext = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                        ? ""
                        : name.substr(dot);
  for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".npy") return Layout::kNpy;
  if (ext == ".f64" || ext == ".raw") return Layout::kRaw;
  return Layout::kTagged;
}

void begin_subbands(Output &out, const Subbands &s) {
  if (s.layout == Layout::kNpy) {
    if (out.stream() && !s.blocks)
      throw UsageError("cannot write a .npy file to a stream from an INPUT of unknown length: "
                       "expected a regular OUTPUT, or another name");
    const std::string h = npy_header(s, s.blocks.value_or(0));
    out.write(h.data(), h.size());
  } else if (s.layout == Layout::kTagged) {
    std::string h = kTag;
    put_le(h, 1, 2);
    put_le(h, kSubbandHeader, 2);
    put_le(h, s.channels, 4);
    put_le(h, s.rate, 4);
    h.append(kSubbandHeader - h.size(), '\0');
    out.write(h.data(), h.size());
  }
}

void end_subbands(Output &out, const Subbands &s, uint64_t blocks) {
  if (s.layout != Layout::kNpy || s.blocks == blocks) return;
  if (out.stream())
    throw UsageError("the input held " + std::to_string(blocks) + " blocks, not the " +
                     std::to_string(*s.blocks) + " the .npy header sent says: expected whole input");
  const std::string h = npy_header(s, blocks);
  out.rewrite(0, h.data(), h.size());
}

}  // namespace synthtab::cli
