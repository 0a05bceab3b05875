// The subband and .npy headers through the tool's own parsers, without the
// tool: one table of headers, each read or refused with one printable line
// naming why. Where NumPy is installed it judges the same .npy headers and a
// mutation fuzz of them: nothing it refuses may pass here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "args.h"
#include "audio_tools.h"
#include "subbands.h"

namespace {

namespace fs = std::filesystem;
using namespace synthtab::cli;
using namespace std::string_literals;

// A .npy header around dict as given, stating its length or len.
std::string npy(const std::string &dict, int major = 1, int minor = 0, int64_t len = -1) {
  return "\x93NUMPY" + std::string{char(major), char(minor)} +
         bytes_of(len >= 0 ? uint64_t(len) : dict.size(), major == 1 ? 2 : 4) + dict;
}
std::string dict(const std::string &shape, const std::string &descr = "'<f8'",
                 const std::string &fortran = "False") {
  return "{'descr': " + descr + ", 'fortran_order': " + fortran + ", 'shape': " + shape + ", }";
}
std::string tagged(uint64_t version, uint64_t size, uint64_t channels, uint64_t rate) {
  return "SYNTHSUB" + bytes_of(version, 2) + bytes_of(size, 2) + bytes_of(channels, 4) +
         bytes_of(rate, 4) + std::string(size > 20 ? size - 20 : 0, '\0');
}

// "ok CHANNELS BLOCKS" (.npy), "ok CHANNELS RATE" or "ok raw", or the refusal.
std::string ours(const std::string &bytes) {
  try {
    const std::size_t size = subband_header_size(bytes.substr(0, kHeaderProbe), "in");
    if (size == 0) return "ok raw";
    if (size > bytes.size()) return "ends inside: expected a whole header";
    const Subbands s = parse_subband_header(bytes.substr(0, size), "in");
    return "ok " + std::to_string(s.channels) + " " + std::to_string(s.blocks ? *s.blocks : s.rate);
  } catch (const UsageError &e) {
    return e.what();
  }
}

struct Case {
  std::string header, want;  // want: ours() exactly if "ok ...", else a piece of it
  bool numpy_takes = false;  // refused here, though NumPy reads it as such an array
};
const std::vector<Case> kCases = {
    {npy_header(Subbands{Layout::kNpy, 2, 0, {}}, 50), "ok 2 50"},  // as analyze writes it
    {npy(dict("(3, 32)")), "ok 1 3"},
    {npy(dict("(0, 2, 32)")), "ok 2 0"},
    {npy("{\"shape\":(7,1,32,),\"fortran_order\":False,\"descr\":\"<f8\"}"), "ok 1 7"},
    {npy("{'descr':'<f8',\n 'fortran_order' :\tFalse ,'shape':( 4 , 65535 , 32 )}  \n"), "ok 65535 4"},
    {npy(dict("(5, 2, 32)") + std::string(50, ' ') + "\n", 2), "ok 2 5"},
    {npy(dict("(6, 1, 32)") + "\n", 3), "ok 1 6"},
    {npy(dict("(36028797018963967, 1, 32)")), "ok 1 36028797018963967"},
    {npy(dict("(36028797018963969, 1, 32)")), "more bytes than a file"},
    {npy(dict("(1, 4294967297, 32)")), "4294967297 channels", true},
    {npy(dict("(1, 18446744073709551616, 32)")), "past 64 bits"},
    {npy(dict("(1, 0, 32)")), "0 channels", true},
    {npy("{'descr': '<f8', 'x': \"'fortran_order': False\", 'fortran_order': True, 'shape': (1, "
         "1, 32)}"),
     "the key 'x'"},
    {npy(dict("(1, 1, 32)", "\"', 'fortran_order': False, \"", "True")), "type"},
    {npy(dict("(1, 1, 32)", "'<f8'", "True")), "Fortran order"},
    {npy("{'descr': '<f8', 'fortran_order': True, 'shape': (1, 1, 32), 'fortran_order': False}"),
     "twice", true},
    {npy(dict("(1, 1, 32)", "'<f4'")), "type '<f4'"},
    {npy(dict("(1, 1, 32)", "'<' 'f8'")), "descr", true},
    {npy(dict("(1, 1, 32)", "'\\x3cf8'")), "descr", true},
    {npy(dict("(1, 1, 32)", "b'<f8'")), "descr"},
    {npy(dict("(1, 1, 32)", "'<f8'", "0")), "fortran_order"},
    {npy(dict("(1, 1, 32)", "'<f8'", "Falsey")), "fortran_order"},
    {npy(dict("[1, 1, 32]")), "shape"},
    {npy(dict("(1, 1, 32.0)")), "shape"},
    {npy(dict("(1, -1, 32)")), "shape"},
    {npy(dict("(01, 1, 32)")), "shape"},
    {npy(dict("(32)")), "shape"},
    {npy(dict("(32,)")), "shape (32,)"},
    {npy(dict("(1, 1, 16)")), "shape (1, 1, 16)"},
    {npy(dict("(1, 1, 1, 32)")), "shape (1, 1, 1, 32)"},
    {npy("{'descr': '<f8', 'shape': (1, 1, 32)}"), "lacks"},
    {npy(dict("(1, 1, 32)") + " # c"), "more after", true},
    {npy(dict("(1, 1, 32)") + "\n\x1b[2J\n"), "more after"},
    {npy("{'descr': '<f8', 'fortran_order': False 'shape': (1, 1, 32)}"), "no ','"},
    {npy("{'descr': '<f8', 'fortran_order': False, 'shape': (1, 1, 32)"), "'}'"},
    {npy("{'descr': '<f8'\0, 'fortran_order': False, 'shape': (1, 1, 32)}"s), "byte"},
    {npy("[]"), "not a dictionary"},
    {npy(dict("(1, 1, 32)"), 1, 1), "version 1.1"},
    {npy(dict("(1, 1, 32)"), 4), "version 4.0"},
    {npy("", 2, 0, 0xFFFFFFFF), "4294967295 bytes"},
    {npy("", 3, 0, 10001), "10001 bytes"},
    {npy(dict("(1, 1, 32)"), 1, 0, 200), "ends inside"},
    {"\x93NUMPY\x01\x00\x05"s, "ends inside"},
    {tagged(1, 32, 2, 48000), "ok 2 48000"},
    {tagged(1, 48, 1, 0), "ok 1 0"},
    {tagged(1, 32, 65535, 0x7FFFFFFF), "ok 65535 2147483647"},
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
    {"SYNTHSU\x01 raw samples", "ok raw"},
};

TEST(SubbandHeaders, ReadOrRefusedWithOnePrintableLineSayingWhy) {
  for (const Case &k : kCases) {
    const std::string got = ours(k.header);
    SCOPED_TRACE(quote(k.header) + " gave " + got);
    if (k.want.rfind("ok ", 0) == 0) {
      EXPECT_EQ(got, k.want);
    } else {
      EXPECT_NE(got.find(k.want), std::string::npos);
      EXPECT_NE(got.find(": expected "), std::string::npos);
      for (unsigned char c : got) ASSERT_TRUE(c >= 0x20 && c < 0x7F);
    }
  }
}

// A header longer than the file is refused before a byte more is read.
TEST(SubbandHeaders, HeaderLongerThanTheFileIsRefusedFirst) {
  std::string dir = (fs::temp_directory_path() / "synthtab-subbands-XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  std::string v2 = npy(dict("(1, 1, 32)"), 2, 0, 9000);
  v2.resize(108, ' ');
  for (const auto &[bytes, why] : {std::pair{v2, "9012 bytes, longer than the 108"},
                                   {tagged(1, 65528, 1, 0).substr(0, 40), "65528 bytes"}}) {
    std::ofstream(dir + "/in", std::ios::binary) << bytes;
    Input in(dir + "/in");
    std::string what = "accepted";
    try {
      read_subbands(in);
    } catch (const UsageError &e) {
      what = e.what();
    }
    EXPECT_NE(what.find(why), std::string::npos) << what;
    EXPECT_EQ(in.position(), kHeaderProbe);
  }
  fs::remove_all(dir);
}

// Neither a newline, an escape sequence nor text that reorders the line gets
// through quote() or report(); well-formed text passes as it is.
TEST(SubbandHeaders, QuoteAndReportKeepOneLineOfInertText) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a\nb\x1b[2J\x7f", "'a\\x0Ab\\x1B[2J\\x7F'"},
      {"\xc2\x9b" "1m", "'\\xC2\\x9B1m'"},                                // C1 CSI
      {"\xc0\x8a\xed\xa0\x80", "'\\xC0\\x8A\\xED\\xA0\\x80'"},           // overlong, surrogate
      {"\xe2\x80\xa8\xe2\x80\xae", "'\\xE2\\x80\\xA8\\xE2\\x80\\xAE'"},  // LS, RLO
      {"\xf5\x80\x80\x80", "'\\xF5\\x80\\x80\\x80'"},                    // past U+10FFFF
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5", "'caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5'"},
  };
  std::string all;
  for (const auto &[in, want] : cases) {
    EXPECT_EQ(quote(in), want);
    all += in;
  }
  std::FILE *err = std::tmpfile();
  const int saved = dup(2);
  dup2(fileno(err), 2);
  report("unquoted: " + all);
  dup2(saved, 2);
  close(saved);
  const std::string line = slurp(err);
  EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
  for (const char *bad : {"\x1b", "\xc2\x9b", "\xe2\x80\xa8", "\xe2\x80\xae"})
    EXPECT_EQ(line.find(bad), std::string::npos) << line;
}

TEST(SubbandHeaders, NumPyRefusesNothingThatPassesHere) {
  std::vector<std::string> headers;
  std::vector<bool> takes;  // for the table's: whether NumPy should read it
  for (const Case &k : kCases)
    if (k.header[0] == '\x93') {
      headers.push_back(k.header);
      takes.push_back(k.want.rfind("ok ", 0) == 0 || k.numpy_takes);
    }
  const std::size_t table = headers.size();
  // Bytes replaced, inserted or removed, drawn from those that matter to Python.
  const std::string alphabet = " \t\n,:'\"()[]{}#\\0123456789-+._eLjxTrueFalsf<>8";
  std::mt19937 gen(20);
  for (int i = 0; i < 3000; i++) {
    std::string d = dict("(3, 2, 32)");
    for (int m = 1 + int(gen() % 3); m > 0; m--) {
      const std::size_t at = gen() % d.size(), op = gen() % 3;
      const char c = alphabet[gen() % alphabet.size()];
      if (op == 0) d[at] = c;
      else if (op == 1) d.insert(d.begin() + at, c);
      else d.erase(at, 1);
    }
    headers.push_back(npy(d, 1 + int(gen() % 3)));
  }
  std::string dir = (fs::temp_directory_path() / "synthtab-numpy-XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  for (std::size_t i = 0; i < headers.size(); i++)
    std::ofstream(dir + "/" + std::to_string(i), std::ios::binary) << headers[i];
  // "ok CHANNELS BLOCKS" where np.load reads the array render takes from a
  // file holding its bytes, else "no".
  std::ofstream(dir + "/judge.py") << R"(import math, sys
import numpy.lib.format as f
for i in range(int(sys.argv[2])):
  try:
    with open('%s/%d' % (sys.argv[1], i), 'rb') as fp:
      v = f.read_magic(fp); f._check_version(v)
      shape, fortran, dtype = f._read_array_header(fp, v)
    ok = dtype.str == '<f8' and not fortran and len(shape) in (2, 3) and shape[-1] == 32
    ok = ok and min(shape) >= 0 and 8 * math.prod(shape) < 2**63
    print('ok %d %d' % (shape[1] if len(shape) == 3 else 1, shape[0]) if ok else 'no')
  except Exception:
    print('no')
)";
  const Outcome r = spawn({"/bin/sh", "-c",  // the first Python that has NumPy
                           "for p in python3 /usr/bin/python3; do $p -c 'import numpy' && exec $p "
                           "\"$0/judge.py\" \"$0\" $1; done; exit 1",
                           dir, std::to_string(headers.size())});
  fs::remove_all(dir);
  if (r.status != 0) GTEST_SKIP() << "no NumPy to compare with";
  std::istringstream numpy(r.out);
  std::size_t accepted = 0;
  for (std::size_t i = 0; i < headers.size(); i++) {
    std::string theirs, mine = ours(headers[i]);
    std::getline(numpy, theirs);
    SCOPED_TRACE(quote(headers[i]) + " gave " + mine);
    if (mine.rfind("ok ", 0) == 0) {
      EXPECT_EQ(mine, theirs);
      accepted++;
    }
    if (i < table) {
      EXPECT_EQ(theirs != "no", takes[i]);
    }
  }
  EXPECT_GT(accepted, table + 30);  // the fuzz reaches headers both read
}

}  // namespace
