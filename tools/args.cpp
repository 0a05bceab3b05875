#include "args.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace synthtab::cli {

namespace {

// The length of the character at s[i] if a terminal shows it as itself: a
// printable ASCII byte, or well-formed UTF-8 (shortest form, no surrogates)
// that is neither a C1 control (U+009B starts an escape sequence on many
// terminals), a line or paragraph separator, nor a bidirectional control that
// would reorder the rest of the line. 0 for anything else.
std::size_t shown_as_is(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return c >= 0x20 && c != 0x7F;
  const std::size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3
                          : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (len == 0 || i + len > s.size()) return 0;
  uint32_t cp = c & (0x7F >> len);
  for (std::size_t k = 1; k < len; k++) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (b & 0x3F);
  }
  constexpr uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
  const bool bad = cp < kShortest[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ||
                   cp <= 0x9F || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
                   (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
  return bad ? 0 : len;
}

// s with every byte not shown as itself written \xNN, up to max characters;
// sets used to the bytes of s it covers.
std::string escaped(std::string_view s, std::size_t max, std::size_t &used) {
  std::string q;
  std::size_t i = 0;
  for (std::size_t shown = 0; i < s.size() && shown < max; shown++) {
    if (const std::size_t len = shown_as_is(s, i)) {
      q.append(s.substr(i, len));
      i += len;
    } else {
      char esc[5];
      std::snprintf(esc, sizeof esc, "\\x%02X", static_cast<unsigned char>(s[i]));
      q += esc;
      i++;
    }
  }
  used = i;
  return q;
}

}  // namespace

std::string quote(std::string_view s) {
  std::size_t used;
  const std::string q = "'" + escaped(s, 64, used);
  return q + (used < s.size() ? "'..." : "'");
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
  // Whatever a message holds (an error text from a library, a name quoted
  // twice), it reaches the terminal as one line of its own.
  std::size_t used;
  const std::string line = "synthtab: " + escaped(msg, std::string_view::npos, used) + "\n";
  std::fputs(line.c_str(), stderr);
}

}  // namespace synthtab::cli
