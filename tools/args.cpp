#include "args.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

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

int32_t Parsed::number(std::string_view name, int32_t fallback, int64_t min) const {
  if (!has(name)) return fallback;
  const std::string_view s = opts.at(name), opt = name;
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

int Parsed::choice(std::string_view name, std::initializer_list<std::string_view> choices) const {
  const std::string_view s = has(name) ? opts.at(name) : *choices.begin();
  std::string list;
  int i = 0;
  for (std::string_view c : choices) {
    if (c == s) return i;
    list += (++i == 1 ? "" : i == int(choices.size()) ? " or " : ", ") + std::string(c);
  }
  throw UsageError("bad " + std::string(name) + " value " + quote(s) + ": expected " + list);
}

Parsed parse(const Args &args, std::initializer_list<Option> options, std::string_view synopsis,
             std::size_t max_operands) {
  const std::string usage = ": usage: " + std::string(synopsis);
  Parsed p;
  // --help answers the same wherever it stands, whatever else is there.
  for (std::string_view arg : args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") {
      p.help = true;
      return p;
    }
  }
  bool operands_only = false;
  for (std::size_t i = 0; i < args.size(); i++) {
    const std::string_view arg = args[i], name = arg.substr(0, arg.find('='));
    if (operands_only || arg.size() < 2 || arg[0] != '-') {
      if (p.operands.size() == max_operands)
        throw UsageError("unexpected argument " + quote(arg) + usage);
      p.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      operands_only = true;
      continue;
    }
    const Option *o = nullptr;
    for (const Option &c : options) o = c.name == name ? &c : o;
    if (!o) throw UsageError("unknown option " + quote(arg) + usage);
    const std::string n(name), m(o ? o->meta : "");
    if (m.empty() && name != arg)
      throw UsageError("option " + n + " takes no value: expected " + n);
    if (m.empty() || name != arg)
      p.opts[name] = arg.substr(name.size() + (name != arg));
    else if (i + 1 < args.size())
      p.opts[name] = args[++i];
    else
      throw UsageError("missing value for " + n + ": expected " + n + " " + m + " or " + n + "=" +
                       m);
  }
  return p;
}

int write_stdout(std::string_view out) {
  errno = 0;
  if (std::fwrite(out.data(), 1, out.size(), stdout) == out.size() && std::fflush(stdout) == 0)
    return 0;
  throw IoError(std::string("cannot write stdout: ") + std::strerror(errno ? errno : EIO));
}

void report(std::string_view msg) {
  const std::string line = "synthtab: " + std::string(msg) + "\n";
  std::fputs(line.c_str(), stderr);
}

}  // namespace synthtab::cli
