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
  if (sf_) sf_close(sf_);
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

namespace {

// Forward seeks a stream can take: up to this far into it, whose bytes are
// kept for seeks back (header parsers look ahead and return).
constexpr std::size_t kHead = std::size_t{1} << 16;

}  // namespace

// libsndfile on a stream: reads come as they arrive; the head of the stream is
// kept for seeks back into it, and seeks forward within it read ahead. Anything
// else fails, which makes a header parser stop at the samples.
struct PipeIo {
  static Input &in(void *u) { return *static_cast<Input *>(u); }
  static sf_count_t length(void *) { return sf_count_t{1} << 62; }  // not known
  // Reads fresh bytes at the stream's end, keeping those within the head.
  static std::size_t more(Input &i, unsigned char *p, std::size_t n) {
    const std::size_t got = i.fill(p, n);
    if (i.head_.size() < kHead)
      i.head_.insert(i.head_.end(), p, p + std::min(got, kHead - i.head_.size()));
    i.seen_ += got;
    return got;
  }
  static sf_count_t read(void *ptr, sf_count_t n, void *u) {
    Input &i = in(u);
    auto *p = static_cast<unsigned char *>(ptr);
    sf_count_t done = 0;
    if (i.pos_ < i.seen_) {  // inside the head
      if (i.pos_ >= i.head_.size()) return 0;
      done = std::min<sf_count_t>(n, std::min(i.head_.size(), std::size_t(i.seen_)) - i.pos_);
      std::memcpy(p, i.head_.data() + i.pos_, done);
      i.pos_ += done;
    }
    if (done < n) {
      const std::size_t got = more(i, p + done, n - done);
      done += got;
      i.pos_ += got;
    }
    return done;
  }
  static sf_count_t seek(sf_count_t off, int whence, void *u) {
    Input &i = in(u);
    const sf_count_t at = off + (whence == SEEK_CUR ? sf_count_t(i.pos_) : 0);
    if (whence == SEEK_END || at < 0 || at > sf_count_t(std::max<uint64_t>(i.seen_, kHead)) ||
        (at < sf_count_t(i.seen_) && at > sf_count_t(i.head_.size())))
      return -1;
    unsigned char skip[4096];
    while (sf_count_t(i.seen_) < at)
      if (more(i, skip, std::min<sf_count_t>(sizeof skip, at - i.seen_)) == 0) return -1;
    return i.pos_ = at;
  }
  static sf_count_t write(const void *, sf_count_t, void *) { return 0; }
  static sf_count_t tell(void *u) { return in(u).pos_; }
};

// Some formats make libsndfile seek beyond a stream's head: such a stream is
// copied, its head and then the rest, into an unnamed file in $TMPDIR.
void Input::spool() {
  const char *env = std::getenv("TMPDIR");
  const std::string dir = env && *env ? env : "/tmp";
  int t = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (t < 0) {
    std::string path = dir + "/synthtab-spool-XXXXXX";
    t = mkostemp(path.data(), O_CLOEXEC);
    if (t >= 0) unlink(path.c_str());
  }
  const auto fail = [&](int err) {
    if (t >= 0) close(t);
    throw IoError("cannot copy " + quote(name_) + " to a temporary file in " + quote(dir) + ": " +
                  std::strerror(err));
  };
  if (t < 0) fail(errno);
  std::vector<unsigned char> chunk(kBuffer);
  const auto put = [&](const unsigned char *p, std::size_t n) {
    for (std::size_t done = 0; done < n;) {
      const ssize_t w = ::write(t, p + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) fail(errno);
      done += w;
    }
  };
  put(head_.data(), head_.size());
  for (std::size_t n; (n = fill(chunk.data(), chunk.size())) > 0;) put(chunk.data(), n);
  lseek(t, 0, SEEK_SET);
  if (fd_ > 0) close(fd_);
  fd_ = t;
  spooled_ = true;
}

SNDFILE *Input::sndfile(SF_INFO &info) {
  const auto refuse = [&] {
    throw UsageError("cannot read " + quote(name_) + ": " + sf_strerror(nullptr) +
                     ": expected audio libsndfile reads (WAV, FLAC, ...)");
  };
  static SF_VIRTUAL_IO io{PipeIo::length, PipeIo::seek, PipeIo::read, PipeIo::write,
                          PipeIo::tell};
  if (lseek(fd_, 0, SEEK_CUR) < 0 && errno == ESPIPE) {
    sf_ = sf_open_virtual(&io, SFM_READ, &info, this);
    if (sf_) {
      // Streamed: the count its header states, unless 0 or the most it can.
      counted_ = info.frames > 0 && info.frames < (sf_count_t{1} << 48);
      return sf_;
    }
    if (seen_ > head_.size()) refuse();  // read past what was kept: not audio we know
    spool();
    info = {};
  }
  sf_ = sf_open_fd(fd_, SFM_READ, &info, SF_FALSE);
  if (!sf_) refuse();
  counted_ = info.frames > 0 && (info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_OGG;
  return sf_;
}

// What the data chunk of a WAV-like or AIFF header states, which libsndfile
// cuts to what the file holds: its frames; kOpen for a size of 0 or
// 0xFFFFFFFF, the sizes of a stream read to its end; kNoCount where there is
// no such chunk or the samples have no fixed size.
constexpr int64_t kNoCount = -1, kOpen = -2;

static int64_t stated_frames(SNDFILE *sf, int channels, int format) {
  for (const char *id : {"data", "SSND"}) {
    SF_CHUNK_INFO want{};
    std::strcpy(want.id, id);
    want.id_size = 4;
    SF_CHUNK_ITERATOR *it = sf_get_chunk_iterator(sf, &want);
    SF_CHUNK_INFO got{};
    if (!it || sf_get_chunk_size(it, &got) != SF_ERR_NO_ERROR) continue;
    uint64_t len = got.datalen;
    if (len == 0 || len == 0xFFFFFFFF) return kOpen;
    if (id[0] == 'S') len -= std::min<uint64_t>(len, 8);  // its offset and block size
    int bytes = 0;
    switch (format & SF_FORMAT_SUBMASK) {
      case SF_FORMAT_PCM_S8: case SF_FORMAT_PCM_U8: case SF_FORMAT_ULAW: case SF_FORMAT_ALAW:
        bytes = 1; break;
      case SF_FORMAT_PCM_16: bytes = 2; break;
      case SF_FORMAT_PCM_24: bytes = 3; break;
      case SF_FORMAT_PCM_32: case SF_FORMAT_FLOAT: bytes = 4; break;
      case SF_FORMAT_DOUBLE: bytes = 8; break;
      default: return kNoCount;
    }
    return static_cast<int64_t>(len / (uint64_t(bytes) * channels));
  }
  return kNoCount;
}

void Input::check_whole(SNDFILE *sf, uint64_t frames) const {
  const std::string at = " after " + std::to_string(frames) + " frames";
  if (sf_error(sf) == SF_ERR_SYSTEM)
    throw IoError("cannot read " + quote(name_) + at + ": " + sf_strerror(sf));
  if (sf_error(sf))
    throw UsageError("cannot read " + quote(name_) + at + ": " + sf_strerror(sf) +
                     ": expected whole audio");
  // A decoder that met damage (a FLAC frame failing its CRC) logs it and
  // goes on, with silence or with fewer frames.
  std::string log(8192, '\0');
  sf_command(sf, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
  const std::size_t e = log.find("ERROR : ");
  if (e != std::string::npos && (e == 0 || log[e - 1] == '\n'))
    throw UsageError("cannot read " + quote(name_) + at + ": " +
                     log.substr(e + 8, log.find('\n', e) - e - 8).c_str() + ": expected whole audio");
  SF_INFO info{};
  sf_command(sf, SFC_GET_CURRENT_SF_INFO, &info, sizeof info);
  int64_t want = stated_frames(sf, info.channels, info.format);
  if (want == kNoCount && counted_) want = info.frames;
  if (want >= 0 && uint64_t(want) != frames)
    throw UsageError(quote(name_) + " ended after " + std::to_string(frames) + " of the " +
                     std::to_string(want) + " frames its header states: expected whole audio");
  struct stat now {};
  if (!spooled_ && S_ISREG(st_.st_mode) && fstat(fd_, &now) == 0 && now.st_size != st_.st_size)
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
  if (!unnamed_) {  // a named temporary beside it (".synthtab-", not "..synthtab-", for a bare name)
    std::string temp = target_.substr(0, slash + 1) + ".synthtab-XXXXXX";
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
  if (sf_) sf_close(sf_);
  sf_ = nullptr;
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

void Output::rewrite(int64_t at, const void *p, std::size_t n) {
  const int64_t pos = pos_;
  pos_ = at;
  const bool ok = put(p, n);
  pos_ = pos;
  if (!ok) fail(errno_);
}

namespace {

constexpr uint32_t kUnknown = 0xFFFFFFFF;  // a size a stream cannot know

void le(std::string &s, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; i++) s += static_cast<char>(v >> (8 * i));
}

// A WAV header for data bytes of samples (-1: not known). The canonical RIFF
// layout: 44 bytes for PCM, 58 for float (whose fmt chunk has the extension
// size and which needs a fact chunk); RF64 adds a 36-byte ds64 chunk after
// "WAVE" that holds the 64-bit sizes, the 32-bit ones saying 0xFFFFFFFF.
std::string wav_header(const WavFormat &f, int64_t data, bool rf64) {
  const int align = f.channels * f.bits / 8;
  const uint64_t frames = data < 0 ? kUnknown : data / align;
  const std::size_t size = (f.real ? 58 : 44) + (rf64 ? 36 : 0);
  const uint64_t riff = size - 8 + data;
  std::string h = rf64 ? "RF64" : "RIFF";
  le(h, rf64 || data < 0 ? kUnknown : riff, 4);
  h += "WAVE";
  if (rf64) {
    h += "ds64";
    le(h, 28, 4);
    le(h, riff, 8);
    le(h, data, 8);
    le(h, frames, 8);
    le(h, 0, 4);  // no table of other chunks' sizes
  }
  h += "fmt ";
  le(h, f.real ? 18 : 16, 4);
  le(h, f.real ? 3 : 1, 2);  // WAVE_FORMAT_IEEE_FLOAT or WAVE_FORMAT_PCM
  le(h, f.channels, 2);
  le(h, f.rate, 4);
  le(h, uint64_t(f.rate) * align, 4);
  le(h, align, 2);
  le(h, f.bits, 2);
  if (f.real) {
    le(h, 0, 2);
    h += "fact";
    le(h, 4, 4);
    le(h, rf64 || data < 0 ? kUnknown : frames, 4);
  }
  h += "data";
  le(h, rf64 || data < 0 ? kUnknown : data, 4);
  return h;
}

// Whether data bytes after the canonical header still fit its 32-bit sizes.
bool fits(const WavFormat &f, int64_t data) {
  return data >= 0 && uint64_t(data) + (f.real ? 58 : 44) - 8 <= kUnknown;
}

}  // namespace

void Output::wav(const WavFormat &f, int64_t payload) {
  wav_ = f;
  const std::string h = wav_header(f, payload, payload >= 0 && !fits(f, payload));
  wav_header_ = static_cast<int64_t>(h.size());
  write(h.data(), h.size());
}

// A file's header states what was written; past 4 GiB, a canonical header
// written when the size was not known grows into RF64, the samples moved up.
void Output::end_wav() {
  const WavFormat f = *wav_;
  const bool rf64 = wav_header_ > (f.real ? 58 : 44);
  const int64_t data = end_ - wav_header_;
  if (!rf64 && !fits(f, data)) {
    if (!flush()) fail(errno_);
    std::vector<unsigned char> chunk(kBuffer);
    for (int64_t to = end_; to > wav_header_;) {
      const std::size_t n = static_cast<std::size_t>(std::min<int64_t>(kBuffer, to - wav_header_));
      to -= n;
      const ssize_t r = pread(fd_, chunk.data(), n, to);
      if (r != static_cast<ssize_t>(n)) fail(r < 0 ? errno : EIO);
      if (!emit(chunk.data(), n, to + 36)) fail(errno_);
    }
    end_ += 36;
    base_ = end_;
    wav_header_ += 36;
  }
  const std::string h = wav_header(f, data, rf64 || !fits(f, data));
  rewrite(0, h.data(), h.size());
}

void Output::commit() {
  SNDFILE *sf = sf_;
  sf_ = nullptr;
  if ((sf && sf_close(sf) != 0) || errno_) fail(errno_);
  if (wav_ && !stream_) end_wav();
  if (!flush()) fail(errno_);
  if (stream_) {
    const int fd = fd_;
    fd_ = -1;
    if (fd != 1 && close(fd) != 0) fail(errno);
    return;
  }
  if (fsync(fd_) != 0) fail(errno);  // the data on the disk before the name
  publish();
}

namespace {

// Links the open unnamed file fd at path: through /proc, which needs no
// privilege, else through the descriptor itself where privileges allow.
// 0, or the errno.
int link_unnamed(int fd, const char *path) {
  char proc[64];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  if (linkat(AT_FDCWD, proc, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0) return 0;
  if (errno != ENOENT) return errno;  // ENOENT: no /proc
  return linkat(fd, "", AT_FDCWD, path, AT_EMPTY_PATH) == 0 ? 0 : errno;
}

}  // namespace

// Names the synced file OUTPUT and syncs the directory, so that the name is on
// the disk too. An unnamed file is linked straight at OUTPUT's name when there
// is none: no other name ever exists. Over an existing OUTPUT (link() never
// replaces) it takes a temporary name beside it, renamed over OUTPUT by the
// very next call; a named temporary is renamed likewise.
void Output::publish() {
  Hold hold;
  if (unnamed_) {
    int err = link_unnamed(fd_, target_.c_str());
    if (err == EEXIST) {
      const std::size_t slash = target_.rfind('/');
      const std::string dir = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
      for (unsigned k = 0; k < 64 && err == EEXIST; k++) {
        std::snprintf(g_temp, sizeof g_temp, "%s.synthtab-%06x", dir.c_str(),
                      (unsigned(getpid()) * 2654435761u + k * 40503u) & 0xFFFFFFu);
        err = link_unnamed(fd_, g_temp);
      }
      if (err == 0) {
        g_armed = 1;
        temp_ = true;
        // Nothing between the two calls: a SIGKILL here is all that can leave
        // the temporary behind.
        if (rename(g_temp, target_.c_str()) != 0) fail(errno);
        g_armed = 0;
        temp_ = false;
      }
    }
    if (err) fail(err);
    // Synced and named: a failing close can lose nothing (fsync reported
    // any failed write-back already).
    close(fd_);
    fd_ = -1;
  } else {
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) fail(errno);
    if (rename(g_temp, target_.c_str()) != 0) fail(errno);
    g_armed = 0;
    temp_ = false;
  }
  if (fsync(dir_) != 0) fail(errno);
}

}  // namespace synthtab::cli
