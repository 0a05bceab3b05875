// The subband and .npy headers through the tool's own parsers, without the
// tool: tables of hostile headers, each refused with one printable line and
// why; headers NumPy writes, read. Where NumPy is installed it judges the
// same headers and a mutation fuzz of them: nothing it refuses may pass here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "args.h"
#include "spawn.h"
#include "subbands.h"

namespace {

namespace fs = std::filesystem;
using namespace synthtab::cli;
using namespace std::string_literals;

std::string le(uint64_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; i++) s += static_cast<char>(v >> (8 * i));
  return s;
}

// A .npy header around dict, as given (no padding), or stating len bytes.
std::string npy(const std::string &dict, int major = 1, int minor = 0, int64_t len = -1) {
  return "\x93NUMPY" + std::string{char(major), char(minor)} +
         le(len >= 0 ? uint64_t(len) : dict.size(), major == 1 ? 2 : 4) + dict;
}

std::string tagged(uint64_t version, uint64_t size, uint64_t channels, uint64_t rate) {
  return "SYNTHSUB" + le(version, 2) + le(size, 2) + le(channels, 4) + le(rate, 4) +
         std::string(size > 20 ? size - 20 : 0, '\0');
}

// The header at the start of bytes as read_subbands() reads it.
Subbands parse(const std::string &bytes) {
  const std::size_t size = subband_header_size(bytes.substr(0, kHeaderProbe), "in");
  if (size > bytes.size()) throw UsageError("'in' ends inside its header: expected a whole file");
  return size ? parse_subband_header(bytes.substr(0, size), "in") : Subbands{};
}

// A header's dictionary, for a trace.
std::string shown(const std::string &header) {
  return quote(header.substr(std::min<std::size_t>(10, header.size())));
}

// One line of printable text: no control byte, no C1 control, no raw UTF-8 at all.
bool one_printable_line(const std::string &s) {
  for (unsigned char c : s)
    if (c < 0x20 || c >= 0x7F) return false;
  return true;
}

std::string dict(const std::string &descr, const std::string &fortran, const std::string &shape) {
  return "{'descr': " + descr + ", 'fortran_order': " + fortran + ", 'shape': " + shape + ", }";
}

struct Bad {
  std::string header, why;  // why: what the refusal names
  bool numpy_takes = false;  // refused here though NumPy would read it
};

const std::vector<Bad> &bad_npy() {
  static const std::vector<Bad> cases = {
      {npy(dict("'<f8'", "False", "(36028797018963969, 1, 32)")), "more bytes than a file"},
      {npy(dict("'<f8'", "False", "(1, 4294967297, 32)")), "4294967297 channels", true},
      {npy(dict("'<f8'", "False", "(1, 18446744073709551616, 32)")), "past 64 bits"},
      {npy(dict("'<f8'", "False", "(1, 0, 32)")), "0 channels", true},
      {npy("{'descr': '<f8', 'x': \"'fortran_order': False\", 'fortran_order': True, "
           "'shape': (1, 1, 32)}"),
       "the key 'x'"},
      {npy("{'descr': \"', 'fortran_order': False, \", 'fortran_order': True, "
           "'shape': (1, 1, 32)}"),
       "type"},
      {npy(dict("'<f8'", "True", "(1, 1, 32)")), "Fortran order"},
      {npy("{'descr': '<f8', 'fortran_order': True, 'shape': (1, 1, 32), "
           "'fortran_order': False}"),
       "twice", true},
      {npy(dict("'<f4'", "False", "(1, 1, 32)")), "type '<f4'"},
      {npy(dict("'<' 'f8'", "False", "(1, 1, 32)")), "descr", true},
      {npy(dict("'<f8'", "0", "(1, 1, 32)")), "fortran_order"},
      {npy(dict("'<f8'", "Falsey", "(1, 1, 32)")), "fortran_order"},
      {npy(dict("'<f8'", "False", "[1, 1, 32]")), "shape"},
      {npy(dict("'<f8'", "False", "(1, 1, 32.0)")), "shape"},
      {npy(dict("'<f8'", "False", "(1, -1, 32)")), "shape"},
      {npy(dict("'<f8'", "False", "(01, 1, 32)")), "shape"},
      {npy(dict("'<f8'", "False", "(1, 1, 16)")), "shape (1, 1, 16)"},
      {npy(dict("'<f8'", "False", "(32)")), "shape"},
      {npy(dict("'<f8'", "False", "(32,)")), "shape (32,)"},
      {npy(dict("'<f8'", "False", "(1, 1, 1, 32)")), "shape (1, 1, 1, 32)"},
      {npy("{'descr': '<f8', 'shape': (1, 1, 32)}"), "lacks"},
      {npy("{'descr': '<f8', 'fortran_order': False, 'shape': (1, 1, 32)} x"), "more after"},
      {npy("{'descr': '<f8', 'fortran_order': False, 'shape': (1, 1, 32)} # c"), "more after",
       true},
      {npy("{'descr': '<f8', 'fortran_order': False 'shape': (1, 1, 32)}"), "no ','"},
      {npy("{'descr': '<f8', 'fortran_order': False, 'shape': (1, 1, 32)"), "'}'"},
      {npy("{'descr': '<f8'\0, 'fortran_order': False, 'shape': (1, 1, 32)}"s), "byte"},
      {npy("{'descr': '<f8', 'fortran_order': False, 'shape': (1, 1, 32)}\n\x1b[2J\n"),
       "more after"},
      {npy("{'descr': b'<f8', 'fortran_order': False, 'shape': (1, 1, 32)}"), "descr"},
      {npy("{'descr': '\\x3cf8', 'fortran_order': False, 'shape': (1, 1, 32)}"), "descr", true},
      {npy("[]"), "not a dictionary"},
      {npy(dict("'<f8'", "False", "(1, 1, 32)"), 1, 1), "version 1.1"},
      {npy(dict("'<f8'", "False", "(1, 1, 32)"), 4), "version 4.0"},
      {npy("", 2, 0, 0xFFFFFFFF), "4294967295 bytes"},
      {npy(dict("'<f8'", "False", "(1, 1, 32)"), 1, 0, 200), "ends inside"},
      {npy("", 3, 0, 10001), "10001 bytes"},
      {std::string("\x93NUMPY\x01\x00\x05", 9), "ends inside"},
  };
  return cases;
}

TEST(SubbandHeaders, HostileNpyHeadersAreRefusedWithOnePrintableLine) {
  for (const Bad &k : bad_npy()) {
    SCOPED_TRACE(shown(k.header));
    try {
      parse(k.header);
      ADD_FAILURE() << "accepted";
    } catch (const UsageError &e) {
      const std::string what = e.what();
      EXPECT_NE(what.find(k.why), std::string::npos) << what;
      EXPECT_NE(what.find(": expected "), std::string::npos) << what;
      EXPECT_TRUE(one_printable_line(what)) << what;
    }
  }
}

TEST(SubbandHeaders, SubbandHeadersPastWhatOutputCanStateAreRefused) {
  const std::vector<Bad> cases = {
      {tagged(1, 32, 0, 44100), "0 channels"},
      {tagged(1, 32, 65536, 44100), "65536 channels"},
      {tagged(1, 32, 0xFFFFFFFF, 44100), "4294967295 channels"},
      {tagged(1, 32, 2, 0xFFFFFFFF), "4294967295 Hz"},
      {tagged(1, 32, 2, 0x80000000), "2147483648 Hz"},
      {tagged(2, 32, 2, 44100), "version 2"},
      {tagged(1, 36, 2, 44100), "36 bytes"},
      {tagged(1, 24, 2, 44100), "24 bytes"},
      {tagged(1, 32, 2, 44100).substr(0, 11), "ends inside"},
      {tagged(1, 32, 2, 44100).substr(0, 20), "ends inside"},
  };
  for (const Bad &k : cases) {
    SCOPED_TRACE(k.why);
    try {
      parse(k.header);
      ADD_FAILURE() << "accepted";
    } catch (const UsageError &e) {
      EXPECT_NE(std::string(e.what()).find(k.why), std::string::npos) << e.what();
      EXPECT_TRUE(one_printable_line(e.what())) << e.what();
    }
  }
}

struct Good {
  std::string header;
  int channels;
  uint64_t blocks;  // for .npy; the rate for a subband header
};

const std::vector<Good> &good_headers() {
  static const std::vector<Good> cases = {
      {npy_header(Subbands{Layout::kNpy, 2, 0, {}}, 50), 2, 50},  // as analyze writes it
      {npy(dict("'<f8'", "False", "(3, 32)")), 1, 3},
      {npy(dict("'<f8'", "False", "(0, 2, 32)")), 2, 0},
      {npy("{\"shape\":(7,1,32,),\"fortran_order\":False,\"descr\":\"<f8\"}"), 1, 7},
      {npy("{'descr':'<f8',\n 'fortran_order' :\tFalse ,'shape':( 4 , 65535 , 32 )}  \n"), 65535, 4},
      {npy(dict("'<f8'", "False", "(5, 2, 32)") + std::string(50, ' ') + "\n", 2), 2, 5},
      {npy(dict("'<f8'", "False", "(6, 1, 32)") + "\n", 3), 1, 6},
      {npy(dict("'<f8'", "False", "(36028797018963967, 1, 32)")), 1, 36028797018963967},
  };
  return cases;
}

TEST(SubbandHeaders, HeadersNumPyAndAnalyzeWriteAreRead) {
  for (const Good &k : good_headers()) {
    SCOPED_TRACE(shown(k.header));
    const Subbands s = parse(k.header + "body");
    EXPECT_EQ(s.layout, Layout::kNpy);
    EXPECT_EQ(s.channels, k.channels);
    EXPECT_EQ(s.blocks, k.blocks);
  }
  for (const auto &[head, channels, rate] : {std::tuple{tagged(1, 32, 2, 48000), 2, 48000},
                                              {tagged(1, 48, 1, 0), 1, 0},
                                              {tagged(1, 32, 65535, 0x7FFFFFFF), 65535, 0x7FFFFFFF}}) {
    const Subbands s = parse(head);
    EXPECT_EQ(s.layout, Layout::kTagged);
    EXPECT_EQ(s.channels, channels);
    EXPECT_EQ(s.rate, rate);
  }
  EXPECT_EQ(parse("SYNTHSU\x01 raw samples").layout, Layout::kRaw);
  EXPECT_EQ(parse("\x93NUMPY").layout, Layout::kRaw);  // too short for any header
}

// A header longer than the file holds is refused before a byte of it is read
// (or a buffer made for it); one cut short on a stream, when its bytes run out.
TEST(SubbandHeaders, HeaderLongerThanTheFileIsRefusedFirst) {
  std::string templ = (fs::temp_directory_path() / "synthtab-subbands-XXXXXX").string();
  ASSERT_NE(mkdtemp(templ.data()), nullptr);
  const fs::path dir = templ;
  std::string v2 = npy("", 2, 0, 9000) + dict("'<f8'", "False", "(1, 1, 32)");
  v2.resize(108, ' ');
  for (const auto &[bytes, why] :
       {std::pair{v2, "9012 bytes, longer than the 108"},
        {tagged(1, 65528, 1, 0).substr(0, 40), "65528 bytes, longer than the 40"}}) {
    std::ofstream(dir / "in", std::ios::binary) << bytes;
    Input in((dir / "in").string());
    try {
      read_subbands(in);
      ADD_FAILURE() << "accepted";
    } catch (const UsageError &e) {
      EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
    }
    EXPECT_EQ(in.position(), kHeaderProbe);
  }
  fs::remove_all(dir);
}

// quote() and report() never let a newline, an escape sequence or text that
// reorders the line reach the terminal; well-formed text passes as it is.
TEST(SubbandHeaders, QuoteAndReportKeepOneLineOfInertText) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a\nb", "'a\\x0Ab'"},
      {"\x1b[2J", "'\\x1B[2J'"},
      {"\x7f", "'\\x7F'"},
      {"\xc2\x9b" "31m", "'\\xC2\\x9B31m'"},           // C1 CSI
      {"\xc0\x8a", "'\\xC0\\x8A'"},                    // an overlong newline
      {"\xe2\x80\xa8", "'\\xE2\\x80\\xA8'"},           // line separator
      {"\xe2\x80\xae" "cba", "'\\xE2\\x80\\xAEcba'"},  // right-to-left override
      {"\xed\xa0\x80", "'\\xED\\xA0\\x80'"},           // a surrogate
      {"\xf5\x80\x80\x80", "'\\xF5\\x80\\x80\\x80'"},  // past U+10FFFF
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5", "'caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5'"},
  };
  std::string all;
  for (const auto &[in, want] : cases) {
    EXPECT_EQ(quote(in), want);
    all += in;
  }
  // report() escapes what a message holds unquoted: it goes to a file here.
  std::string templ = (fs::temp_directory_path() / "synthtab-report-XXXXXX").string();
  const int fd = mkstemp(templ.data());
  ASSERT_GE(fd, 0);
  std::fflush(stderr);
  const int saved = dup(2);
  dup2(fd, 2);
  report("from a library: " + all);
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  close(fd);
  const std::string line = slurp(templ);
  fs::remove(templ);
  ASSERT_FALSE(line.empty());
  EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
  EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
  EXPECT_EQ(line.find("\xc2\x9b"), std::string::npos) << line;
  EXPECT_EQ(line.find("\xe2\x80\xae"), std::string::npos) << line;
}

// NumPy's verdict on each header in files: "ok CHANNELS BLOCKS" (2-d shapes
// as 1 channel) where np.load reads it as the array render takes from a file
// that holds its bytes, else "no". Empty when NumPy is not installed.
std::vector<std::string> numpy_verdicts(const fs::path &dir, std::size_t n) {
  const char *script =
      "import math, sys\n"
      "import numpy.lib.format as f\n"
      "for i in range(int(sys.argv[2])):\n"
      "  try:\n"
      "    with open('%s/%d' % (sys.argv[1], i), 'rb') as fp:\n"
      "      v = f.read_magic(fp); f._check_version(v)\n"
      "      shape, fortran, dtype = f._read_array_header(fp, v)\n"
      "    ok = dtype.str == '<f8' and not fortran and len(shape) in (2, 3) and shape[-1] == 32\n"
      "    ok = ok and min(shape) >= 0 and 8 * math.prod(shape) < 2**63\n"
      "    print('ok %d %d' % (shape[1] if len(shape) == 3 else 1, shape[0]) if ok else 'no')\n"
      "  except Exception:\n"
      "    print('no')\n";
  std::ofstream(dir / "judge.py") << script;
  for (const char *python : {"python3", "/usr/bin/python3"}) {
    const Outcome r = spawn({"/bin/sh", "-c",
                             std::string(python) + " -c 'import numpy' 2>/dev/null && exec " +
                                 python + " '" + (dir / "judge.py").string() + "' '" +
                                 dir.string() + "' " + std::to_string(n)});
    if (r.status != 0) continue;
    std::vector<std::string> lines;
    for (std::size_t at = 0, nl; (nl = r.out.find('\n', at)) != std::string::npos; at = nl + 1)
      lines.push_back(r.out.substr(at, nl - at));
    return lines;
  }
  return {};
}

std::string ours(const std::string &header) {
  try {
    const Subbands s = parse(header);
    return "ok " + std::to_string(s.channels) + " " + std::to_string(*s.blocks);
  } catch (const UsageError &) {
    return "no";
  }
}

TEST(SubbandHeaders, NumPyRefusesNothingThatPassesHere) {
  std::string templ = (fs::temp_directory_path() / "synthtab-numpy-XXXXXX").string();
  ASSERT_NE(mkdtemp(templ.data()), nullptr);
  const fs::path dir = templ;
  std::vector<std::string> headers;
  for (const Bad &k : bad_npy()) headers.push_back(k.header);
  for (const Good &k : good_headers()) headers.push_back(k.header);
  // Mutations of a good header: bytes replaced, inserted or removed, drawn
  // from those that matter to Python's syntax.
  const std::string base = dict("'<f8'", "False", "(3, 2, 32)");
  const std::string alphabet = " \t\n,:'\"()[]{}#\\0123456789-+._eLjxTrueFalsf<>8";
  std::mt19937 gen(20);
  for (int i = 0; i < 3000; i++) {
    std::string d = base;
    for (int m = 1 + int(gen() % 3); m > 0; m--) {
      const std::size_t at = gen() % d.size();
      const char c = alphabet[gen() % alphabet.size()];
      switch (gen() % 3) {
        case 0: d[at] = c; break;
        case 1: d.insert(d.begin() + at, c); break;
        default: d.erase(at, 1);
      }
    }
    headers.push_back(npy(d, 1 + int(gen() % 3)));
  }
  for (std::size_t i = 0; i < headers.size(); i++)
    std::ofstream(dir / std::to_string(i), std::ios::binary) << headers[i];
  const std::vector<std::string> numpy = numpy_verdicts(dir, headers.size());
  fs::remove_all(dir);
  if (numpy.empty()) GTEST_SKIP() << "no NumPy to compare with";
  ASSERT_EQ(numpy.size(), headers.size());
  std::size_t accepted = 0;
  for (std::size_t i = 0; i < headers.size(); i++) {
    SCOPED_TRACE(shown(headers[i]));
    const std::string mine = ours(headers[i]);
    if (mine != "no") {
      EXPECT_EQ(mine, numpy[i]);
      accepted++;
    }
    if (i < bad_npy().size()) {
      EXPECT_EQ(numpy[i] != "no", bad_npy()[i].numpy_takes);
    } else if (i < bad_npy().size() + good_headers().size()) {
      EXPECT_NE(mine, "no");
    }
  }
  EXPECT_GT(accepted, 30u) << "of " << headers.size();  // the fuzz reaches headers both read
}

}  // namespace
