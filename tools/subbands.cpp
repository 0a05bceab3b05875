#include "subbands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

namespace synthtab::cli {
namespace {

constexpr char kTag[] = "SYNTHSUB";
constexpr char kNpyMagic[] = "\x93NUMPY";
constexpr int kShapeDigits = 20;  // room for any block count, rewritten in place
constexpr char kWholeTagged[] = "a whole subband file";
constexpr char kWholeNpy[] = "a whole .npy file";
constexpr char kNpyForm[] =
    "a .npy header of version 1.0, 2.0 or 3.0 stating '<f8' in C order of shape (blocks, "
    "channels, 32) or (blocks, 32)";

// A little-endian field of the header in s.
uint64_t field(std::string_view s, std::size_t at, int bytes) {
  return get_le(reinterpret_cast<const unsigned char *>(s.data()) + at, bytes);
}

[[noreturn]] void refuse(const std::string &name, const std::string &why, const char *form) {
  throw UsageError(quote(name) + " " + why + ": expected " + form);
}

// The dictionary literal of a .npy header, read as Python reads it (the
// subset NumPy writes, and anything else only where Python and NumPy would
// take it the same way): single- or double-quoted strings without escapes,
// True and False, decimal integers of any size, tuples with or without a
// trailing comma, whitespace between tokens. Anything else is refused, so a
// header this accepts is one NumPy accepts, meaning the same.
class NpyDict {
 public:
  explicit NpyDict(std::string_view s) : s_(s) {}

  // Why the header is refused, or empty with descr, fortran and shape set.
  std::string parse() {
    for (char c : s_)
      if (static_cast<unsigned char>(c) >= 0x80 || c == '\0')
        return "holds a byte NumPy's dictionary cannot: " + quote(s_);
    space();
    if (!eat('{')) return "is not a dictionary: " + quote(s_.substr(i_));
    bool seen[3] = {false, false, false};
    for (space(); !eat('}'); space()) {
      std::string key;
      if (!string(key)) return "has a key that is not a plain string at " + quote(s_.substr(i_));
      constexpr const char *kKeys[] = {"descr", "fortran_order", "shape"};
      const int k = int(std::find(kKeys, kKeys + 3, key) - kKeys);
      if (k == 3) return "has the key " + quote(key) + ": expected only descr, fortran_order, shape";
      if (seen[k]) return "states " + key + " twice";
      seen[k] = true;
      space();
      if (!eat(':')) return "lacks the ':' after " + key;
      space();
      const std::size_t at = i_;
      const bool ok = k == 0 ? string(descr) : k == 1 ? boolean(fortran) : tuple();
      if (!ok) return "has a " + key + " NumPy does not take: " + quote(s_.substr(at));
      space();
      if (!eat(',') && s_.substr(i_, 1) != "}")
        return "has no ',' or '}' after " + key + " at " + quote(s_.substr(i_));
    }
    space();
    if (i_ != s_.size()) return "has more after its dictionary: " + quote(s_.substr(i_));
    if (!seen[0] || !seen[1] || !seen[2]) return "lacks one of descr, fortran_order, shape";
    return "";
  }

  std::string descr;
  bool fortran = false;
  std::vector<uint64_t> shape;
  bool huge = false;  // an element past 64 bits

 private:
  bool eat(char c) { return i_ < s_.size() && s_[i_] == c ? (i_++, true) : false; }
  // Python's whitespace between tokens (newlines too: inside the braces they
  // join lines, after them they end the one logical line).
  void space() {
    while (i_ < s_.size() && std::strchr(" \t\n\r\f", s_[i_]) && s_[i_]) i_++;
  }
  bool word_ends() const {
    return i_ >= s_.size() || !(std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '_');
  }
  // No prefix, no escapes, no newline, no concatenation with a next string.
  bool string(std::string &out) {
    if (i_ >= s_.size() || (s_[i_] != '\'' && s_[i_] != '"')) return false;
    const char q = s_[i_];
    const std::size_t end = s_.find_first_of(std::string{q, '\\', '\n', '\r'}, i_ + 1);
    if (end == std::string_view::npos || s_[end] != q) return false;
    out = std::string(s_.substr(i_ + 1, end - i_ - 1));
    i_ = end + 1;
    space();
    return i_ >= s_.size() || (s_[i_] != '\'' && s_[i_] != '"');
  }
  bool boolean(bool &out) {
    for (const bool v : {false, true}) {
      const std::string_view w = v ? "True" : "False";
      if (s_.substr(i_, w.size()) == w) {
        i_ += w.size();
        out = v;
        return word_ends();
      }
    }
    return false;
  }
  // Decimal, without a sign, underscores or leading zeros (which Python refuses).
  bool integer(uint64_t &out) {
    const std::size_t from = i_;
    out = 0;
    while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) {
      const unsigned d = s_[i_++] - '0';
      huge = huge || out > (UINT64_MAX - d) / 10;
      out = out * 10 + d;
    }
    return i_ > from && (i_ - from == 1 || s_[from] != '0') && word_ends() && s_.substr(i_, 1) != ".";
  }
  // "(a, b, c)", "(a, b, c,)", "(a,)" or "()"; "(a)" is no tuple.
  bool tuple() {
    if (!eat('(')) return false;
    for (space(); !eat(')'); space()) {
      uint64_t v;
      if (!integer(v)) return false;
      shape.push_back(v);
      space();
      if (!eat(',')) return eat(')') && shape.size() > 1;
    }
    return true;
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

Subbands parse_npy(std::string_view head, const std::string &name) {
  const std::size_t at = head[6] == 1 ? 10 : 12;
  NpyDict d(head.substr(at));
  const std::string why = d.parse();
  if (!why.empty()) refuse(name, "holds a .npy header that " + why, kNpyForm);
  if (d.descr != "<f8") refuse(name, "holds .npy samples of type " + quote(d.descr), kNpyForm);
  if (d.fortran) refuse(name, "holds a .npy array in Fortran order", kNpyForm);
  std::string shape = "(";
  for (std::size_t i = 0; i < d.shape.size(); i++)
    shape += (i ? ", " : "") + std::to_string(d.shape[i]);
  shape += d.shape.size() == 1 ? ",)" : ")";
  const std::size_t n = d.shape.size();
  if (d.huge || (n != 2 && n != 3) || d.shape[n - 1] != 32)
    refuse(name, "holds a .npy array of shape " + (d.huge ? std::string("past 64 bits") : shape),
           kNpyForm);
  const uint64_t channels = n == 3 ? d.shape[1] : 1, blocks = d.shape[0];
  if (channels < 1 || channels > kMaxSubbandChannels)
    refuse(name, "holds a .npy array of shape " + shape + ", " + std::to_string(channels) +
                     " channels",
           "1 to 65535 channels");
  // Its bytes as a file offset: blocks x channels x 32 x 8 within int64.
  if (blocks > uint64_t(INT64_MAX) / (channels * 256))
    refuse(name, "holds a .npy array of shape " + shape + ", more bytes than a file can hold",
           kNpyForm);
  Subbands s;
  s.layout = Layout::kNpy;
  s.channels = static_cast<int>(channels);
  s.blocks = blocks;
  return s;
}

Subbands parse_tagged(std::string_view head, const std::string &name) {
  const uint64_t channels = field(head, 12, 4), rate = field(head, 16, 4);
  if (channels < 1 || channels > kMaxSubbandChannels)
    refuse(name, "is a subband file of " + std::to_string(channels) + " channels",
           "1 to 65535 channels");
  if (rate > kMaxSubbandRate)
    refuse(name, "is a subband file at " + std::to_string(rate) + " Hz",
           "a rate up to 2147483647 Hz, or 0 where it is not known");
  Subbands s;
  s.layout = Layout::kTagged;
  s.channels = static_cast<int>(channels);
  s.rate = static_cast<int32_t>(rate);
  return s;
}

}  // namespace

std::size_t subband_header_size(std::string_view first, const std::string &name) {
  if (first.substr(0, 8) == kTag) {
    if (first.size() < kHeaderProbe) refuse(name, "ends inside its header", kWholeTagged);
    const uint64_t version = field(first, 8, 2), size = field(first, 10, 2);
    if (version != 1)
      refuse(name, "is a subband file of version " + std::to_string(version), "version 1");
    if (size < kSubbandHeader || size % 8)
      refuse(name, "states a header of " + std::to_string(size) + " bytes",
             "a multiple of 8 from 32 up");
    return size;
  }
  if (first.size() >= 8 && first.substr(0, 6) == kNpyMagic) {
    const int major = static_cast<unsigned char>(first[6]), minor = static_cast<unsigned char>(first[7]);
    if (major < 1 || major > 3 || minor != 0)
      refuse(name, "is a .npy file of version " + std::to_string(major) + "." + std::to_string(minor),
             "version 1.0, 2.0 or 3.0");
    const std::size_t at = major == 1 ? 10 : 12;
    if (first.size() < at) refuse(name, "ends inside its header", kWholeNpy);
    const uint64_t len = field(first, 8, int(at) - 8);
    if (len > kMaxNpyHeader)
      refuse(name, "states a .npy header of " + std::to_string(len) + " bytes",
             "at most 10000, as NumPy reads");
    return at + len;
  }
  return 0;
}

Subbands parse_subband_header(std::string_view head, const std::string &name) {
  return head.substr(0, 8) == kTag ? parse_tagged(head, name) : parse_npy(head, name);
}

Subbands read_subbands(Input &in) {
  char first[kHeaderProbe];
  const std::size_t got = in.read(first, sizeof first);
  const std::size_t size = subband_header_size({first, got}, in.name());
  if (size == 0) {
    in.unread(got);
    return {};
  }
  const bool npy = first[0] != 'S';
  if (in.size() && size > *in.size())
    refuse(in.name(), "states a header of " + std::to_string(size) + " bytes, longer than the " +
                          std::to_string(*in.size()) + " bytes it holds",
           npy ? kWholeNpy : kWholeTagged);
  std::string head(first, got);
  head.resize(size);
  if (in.read(head.data() + got, size - got) != size - got)
    refuse(in.name(), "ends inside its header", npy ? kWholeNpy : kWholeTagged);
  return parse_subband_header(head, in.name());
}

Layout subband_layout(const std::string &name) {
  const std::string ext = extension(name);
  if (ext == ".npy") return Layout::kNpy;
  if (ext == ".f64" || ext == ".raw") return Layout::kRaw;
  return Layout::kTagged;
}

std::string npy_header(const Subbands &s, uint64_t blocks) {
  char dict[128];
  std::snprintf(dict, sizeof dict,
                "{'descr': '<f8', 'fortran_order': False, 'shape': (%*llu, %d, 32), }",
                kShapeDigits, static_cast<unsigned long long>(blocks), s.channels);
  std::string h = std::string(kNpyMagic) + '\x01' + '\x00' + "  " + dict;
  h.append(63 - h.size() % 64, ' ');  // the whole header a multiple of 64 bytes
  h += '\n';
  const std::size_t len = h.size() - 10;
  h[8] = static_cast<char>(len & 0xFF);
  h[9] = static_cast<char>(len >> 8);
  return h;
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
