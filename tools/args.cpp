#include "args.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <utility>

namespace synthtab::cli {

std::string quote(std::string_view s) {
  constexpr int kMax = 64;
  std::string q = "'";
  std::size_t i = 0;
  for (int shown = 0; i < s.size() && shown < kMax; shown++) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80 ? 1 : c >> 5 == 6 ? 2 : c >> 4 == 14 ? 3 : c >> 3 == 30 ? 4 : 0;
    bool ok = len > 0 && i + len <= s.size() && c >= 0x20 && c != 0x7F;
    for (std::size_t k = 1; ok && k < len; k++) ok = (s[i + k] & 0xC0) == 0x80;
    if (ok) {
      q.append(s.substr(i, len));
      i += len;
    } else {
      char esc[5];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      q += esc;
      i++;
    }
  }
  return q + (i < s.size() ? "'..." : "'");
}

int32_t parse_int32(std::string_view opt, std::string_view s, int64_t min) {
  const std::string expected =
      ": expected an integer from " + std::to_string(min) + " to 2147483647";
  std::string_view digits = s;
  // from_chars takes '-' but not '+'; allow "+5", not "+-5".
  if (digits.size() > 1 && digits[0] == '+' && digits[1] >= '0' && digits[1] <= '9')
    digits.remove_prefix(1);
  int32_t v = 0;
  const char *end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, v);
  if (ec == std::errc::invalid_argument || ptr != end)
    throw UsageError("bad " + std::string(opt) + " value " + quote(s) + expected);
  if (ec == std::errc::result_out_of_range || v < min)
    throw UsageError(std::string(opt) + " value " + quote(s) + " is out of range" + expected);
  return v;
}

int choose(std::string_view opt, std::string_view s,
           std::initializer_list<std::string_view> choices) {
  std::string list;
  int i = 0;
  for (std::string_view c : choices) {
    if (c == s) return i;
    list += (++i == 1 ? "" : i == int(choices.size()) ? " or " : ", ") + std::string(c);
  }
  throw UsageError("bad " + std::string(opt) + " value " + quote(s) + ": expected " + list);
}

namespace {

bool is_option(std::string_view arg) { return arg.size() > 1 && arg[0] == '-'; }

// `--opt=...`
bool has_value(std::string_view arg, std::string_view opt) {
  return arg.size() > opt.size() && arg.substr(0, opt.size()) == opt && arg[opt.size()] == '=';
}

}  // namespace

ArgReader::ArgReader(Args args, std::string_view synopsis)
    : args_(std::move(args)), synopsis_(synopsis) {}

std::optional<std::string_view> ArgReader::value(std::string_view opt, std::string_view meta) {
  const std::string_view arg = args_[pos_];
  if (arg == opt) {
    if (pos_ + 1 == args_.size()) {
      const std::string o(opt), m(meta);
      throw UsageError("missing value for " + o + ": expected " + o + " " + m + " or " + o + "=" +
                       m);
    }
    pos_ += 2;
    return args_[pos_ - 1];
  }
  if (has_value(arg, opt)) {
    pos_++;
    return arg.substr(opt.size() + 1);
  }
  return std::nullopt;
}

bool ArgReader::flag(std::string_view opt) {
  const std::string_view arg = args_[pos_];
  if (arg == opt) {
    pos_++;
    return true;
  }
  if (has_value(arg, opt)) {
    const std::string o(opt);
    throw UsageError("option " + o + " takes no value: expected " + o);
  }
  return false;
}

bool ArgReader::separator() {
  if (operands_only_ || args_[pos_] != "--") return false;
  operands_only_ = true;
  pos_++;
  return true;
}

std::optional<std::string_view> ArgReader::operand() {
  const std::string_view arg = args_[pos_];
  if (!operands_only_ && is_option(arg)) return std::nullopt;
  pos_++;
  return arg;
}

void ArgReader::reject() const {
  const std::string_view arg = args_[pos_];
  // "-" alone is a positional argument by convention (often stdin).
  throw UsageError((is_option(arg) ? "unknown option " : "unexpected argument ") + quote(arg) +
                   ": usage: " + synopsis_);
}

int write_stdout(std::string_view out) {
  errno = 0;
  if (std::fwrite(out.data(), 1, out.size(), stdout) == out.size() && std::fflush(stdout) == 0)
    return 0;
  throw IoError(std::string("cannot write output: ") + std::strerror(errno ? errno : EIO));
}

void report(std::string_view msg) {
  const std::string line = "synthtab: " + std::string(msg) + "\n";
  std::fputs(line.c_str(), stderr);
}

}  // namespace synthtab::cli
