#include "io.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
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
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

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
  if (sf_) sf_close(sf_);
  if (fd_ > 0) close(fd_);
}

std::size_t Input::read(void *buf, std::size_t n) {
  auto *p = static_cast<char *>(buf);
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

// Some formats (FLAC) make libsndfile seek, which a pipe cannot: a stream is
// first copied into an unnamed temporary file, gone with the process.
void Input::spool() {
  FILE *f = std::tmpfile();
  const int t = f ? dup(fileno(f)) : -1;
  if (f) std::fclose(f);
  if (t < 0)
    throw IoError("cannot copy " + quote(name_) + " to a temporary file: " + std::strerror(errno));
  std::vector<char> buf(kBuffer);
  for (std::size_t n; (n = read(buf.data(), buf.size())) > 0;)
    for (std::size_t done = 0; done < n;) {
      const ssize_t w = ::write(t, buf.data() + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) {
        const int err = errno;
        close(t);
        throw IoError("cannot copy " + quote(name_) +
                      " to a temporary file: " + std::strerror(err));
      }
      done += w;
    }
  lseek(t, 0, SEEK_SET);
  if (fd_ > 0) close(fd_);
  fd_ = t;
}

SNDFILE *Input::sndfile(SF_INFO &info) {
  if (lseek(fd_, 0, SEEK_CUR) < 0 && errno == ESPIPE) spool();
  sf_ = sf_open_fd(fd_, SFM_READ, &info, SF_FALSE);
  if (!sf_)
    throw UsageError("cannot read " + quote(name_) + ": " + sf_strerror(nullptr) +
                     ": expected audio libsndfile reads (WAV, FLAC, ...)");
  return sf_;
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

  std::string temp = target_.substr(0, target_.rfind('/') + 1) + ".synthtab-XXXXXX";
  if (temp.size() >= sizeof g_temp) bad("write", name_, ENAMETOOLONG, kOutputForm);
  {
    Hold hold;
    fd_ = mkostemp(temp.data(), O_CLOEXEC);
    if (fd_ < 0) bad("write", name_, errno, kOutputForm);
    std::memcpy(g_temp, temp.c_str(), temp.size() + 1);
    g_armed = 1;
    temp_ = true;
  }
  // The permission bits (and, where allowed, the owner) of the file it replaces.
  const mode_t mask = umask(0);
  umask(mask);
  if (exists && fchown(fd_, st.st_uid, st.st_gid) != 0) {
  }
  if (fchmod(fd_, exists ? st.st_mode & 07777 : 0666 & ~mask) != 0) {
    const int err = errno;
    discard();
    bad("write", name_, err, kOutputForm);
  }
}

Output::~Output() { discard(); }

void Output::discard() {
  if (sf_) sf_close(sf_);
  sf_ = nullptr;
  if (fd_ >= 0 && fd_ != 1) close(fd_);
  fd_ = -1;
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

// libsndfile writes through put(), and seeks only move pos_.
struct VirtualIo {
  static Output &out(void *u) { return *static_cast<Output *>(u); }
  static sf_count_t length(void *u) {
    const Output &o = out(u);
    return o.hint_ >= 0 ? o.end_ + o.hint_ : o.end_;
  }
  static sf_count_t seek(sf_count_t off, int whence, void *u) {
    Output &o = out(u);
    const sf_count_t at = off + (whence == SEEK_CUR ? o.pos_ : whence == SEEK_END ? o.end_ : 0);
    return at < 0 ? -1 : (o.pos_ = at);
  }
  static sf_count_t read(void *, sf_count_t, void *) { return 0; }
  static sf_count_t write(const void *p, sf_count_t n, void *u) {
    return out(u).put(p, static_cast<std::size_t>(n)) ? n : 0;
  }
  static sf_count_t tell(void *u) { return out(u).pos_; }
};

SNDFILE *Output::sndfile(SF_INFO &info, int64_t payload) {
  static SF_VIRTUAL_IO io{VirtualIo::length, VirtualIo::seek, VirtualIo::read, VirtualIo::write,
                          VirtualIo::tell};
  sf_ = sf_open_virtual(&io, SFM_WRITE, &info, this);
  if (!sf_)
    throw UsageError("cannot write " + quote(name_) + ": " + sf_strerror(nullptr) +
                     ": expected a rate and sample format the container takes");
  // RF64 only where the sizes pass 4 GiB; plain WAV otherwise.
  if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64)
    sf_command(sf_, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
  if (stream_) {
    // The header goes out first, so it states the final sizes now: those
    // expected, or for an unknown length the most a plain WAV can say.
    // Twice: the first may change the header's own length.
    for (int i = 0; i < 2; i++) {
      hint_ = payload >= 0 ? payload : 0xFFFFFFF0 - end_;
      sf_command(sf_, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    }
    hint_ = -1;
  }
  return sf_;
}

void Output::commit() {
  SNDFILE *sf = sf_;
  sf_ = nullptr;
  if ((sf && sf_close(sf) != 0) || errno_ || !flush()) fail(errno_);
  const int fd = fd_;
  fd_ = -1;
  if (fd != 1 && close(fd) != 0) fail(errno);
  if (!temp_) return;
  Hold hold;
  if (rename(g_temp, target_.c_str()) != 0) fail(errno);
  g_armed = 0;
  temp_ = false;
}

}  // namespace synthtab::cli
