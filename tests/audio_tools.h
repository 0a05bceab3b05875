// Audio made and read by software other than synthtab's own readers and
// writers: Python's wave and aifc modules, flac and oggdec/oggenc. The tests
// check the tool's files with them and feed the tool what they make.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "spawn.h"

// Python: "read PATH" prints "channels rate width frames big\n" and the frames'
// bytes as the file holds them; "write PATH CHANNELS RATE WIDTH RAW" frames
// RAW's bytes (in the file's own order) as WAV, or AIFF for a .aif(f) PATH.
inline constexpr char kAudioPy[] = R"(
import sys, warnings
warnings.simplefilter('ignore')
def module(aiff):
    if aiff:
        try:
            import aifc
            return aifc
        except ImportError:
            sys.stderr.write('SKIP: this Python has no aifc module\n')
            sys.exit(77)
    import wave
    return wave
if sys.argv[1] == 'read':
    path = sys.argv[2]
    import io
    data = bytearray(open(path, 'rb').read())
    aiff = data[:4] == b'FORM'
    # flac -d writes 24 bits as WAVE_FORMAT_EXTENSIBLE, which wave takes as PCM
    if not aiff and data[12:16] == b'fmt ' and data[20:22] == b'\xfe\xff':
        data[20:22] = b'\x01\x00'
    f = module(aiff).open(io.BytesIO(bytes(data)), 'rb')
    n = f.getnframes()
    data = f.readframes(n)
    sys.stdout.buffer.write(b'%d %d %d %d %d\n' % (f.getnchannels(), f.getframerate(),
                                                   f.getsampwidth(), n, aiff))
    sys.stdout.buffer.write(data)
else:
    path, ch, rate, width, raw = sys.argv[2:7]
    aiff = path.lower().endswith(('.aif', '.aiff'))
    f = module(aiff).open(path, 'wb')
    f.setnchannels(int(ch)); f.setframerate(int(rate)); f.setsampwidth(int(width))
    f.writeframes(open(raw, 'rb').read())
    f.close()
)";

// v as `bytes` bytes, little-endian or, where big is set, big-endian.
inline std::string bytes_of(uint64_t v, int bytes, bool big = false) {
  std::string s;
  for (int i = 0; i < bytes; i++) s += static_cast<char>(v >> (8 * (big ? bytes - 1 - i : i)));
  return s;
}

// A file of little-endian float64 samples (raw or subbands without a header).
inline std::vector<double> read_f64(const std::string &path) {
  const std::string bytes = slurp(path);
  std::vector<double> v(bytes.size() / 8);
  for (std::size_t i = 0; i < v.size(); i++) {
    uint64_t u = 0;
    for (int b = 7; b >= 0; b--) u = u << 8 | static_cast<unsigned char>(bytes[8 * i + b]);
    std::memcpy(&v[i], &u, 8);
  }
  return v;
}

struct ToolAudio {
  int channels = 0, width = 0;  // width: bytes per sample
  long rate = 0;
  std::vector<double> x;        // interleaved, full scale 1
  std::string error;            // why it could not be read; "SKIP: ..." for a missing tool
};

inline bool have_program(const std::string &name) {
  return spawn({"/bin/sh", "-c", "command -v " + name}).status == 0;
}

// Runs argv, one of the other tools: "" or why not ("SKIP: ..." for flac or
// Ogg's tools not installed, or for Python's exit 77).
inline std::string run_other(const std::vector<std::string> &argv, Outcome *o = nullptr) {
  Outcome r = spawn(argv);
  if (o) *o = r;
  if (r.status == -1 && argv[0] != "python3") return "SKIP: no " + argv[0];
  return r.status == 77 ? r.err : r.status ? argv[0] + ": " + r.err : "";
}

// PATH read by the other tools: WAV and AIFF through Python, FLAC and Ogg
// decoded to a WAV in scratch first (flac -d, oggdec).
inline ToolAudio read_with_tools(const std::string &path, const std::string &scratch) {
  ToolAudio a;
  const std::string magic = slurp(path).substr(0, 4);
  const bool coded = magic == "fLaC" || magic == "OggS";
  const std::string wav = coded ? scratch + "/decoded-by-tool.wav" : path;
  if (coded) {
    a.error = run_other(magic == "fLaC"
                            ? std::vector<std::string>{"flac", "-d", "-s", "-f", "-o", wav, path}
                            : std::vector<std::string>{"oggdec", "-Q", "-o", wav, path});
    if (!a.error.empty()) return a;
  }
  Outcome o;
  a.error = run_other({"python3", "-c", kAudioPy, "read", wav}, &o);
  if (coded) std::remove(wav.c_str());
  if (!a.error.empty()) return a;
  const std::size_t nl = o.out.find('\n');
  long frames = 0;
  int big = 0;
  std::sscanf(o.out.substr(0, nl).c_str(), "%d %ld %d %ld %d", &a.channels, &a.rate, &a.width,
              &frames, &big);
  const auto *p = reinterpret_cast<const unsigned char *>(o.out.data() + nl + 1);
  const std::size_t n = (o.out.size() - nl - 1) / a.width;
  a.x.resize(n);
  for (std::size_t i = 0; i < n; i++, p += a.width) {
    uint32_t u = 0;
    for (int b = 0; b < a.width; b++) u |= uint32_t(p[big ? b : a.width - 1 - b]) << (8 * (a.width - 1 - b));
    const int shift = 32 - 8 * a.width;
    const int32_t v = a.width == 1 && !big ? int32_t(u) - 128 : int32_t(u << shift) >> shift;
    a.x[i] = v / double(1u << (8 * a.width - 1));
  }
  return a;
}

// Integer samples (full scale 1 << (8 width - 1)) as a file made by the other
// tools: .wav and .aif(f) by Python, .flac by flac and .ogg by oggenc from a
// 16-bit WAV. Returns "" or why not ("SKIP: ..." for a missing tool).
inline std::string write_with_tools(const std::string &path, int channels, long rate, int width,
                                    const std::vector<int32_t> &v, const std::string &scratch) {
  const std::string ext = path.substr(path.rfind('.'));
  const bool aiff = ext == ".aif" || ext == ".aiff", coded = ext == ".flac" || ext == ".ogg";
  std::string bytes;
  for (int32_t s : v) bytes += bytes_of(width == 1 && !aiff ? s + 128 : s, width, aiff);
  const std::string raw = scratch + "/samples-for-tool.raw",
                    made = coded ? scratch + "/made-by-python.wav" : path;
  std::ofstream(raw, std::ios::binary) << bytes;
  const std::string why =
      run_other({"python3", "-c", kAudioPy, "write", made, std::to_string(channels),
                 std::to_string(rate), std::to_string(width), raw});
  if (!why.empty() || !coded) return why;
  return run_other(ext == ".flac"
                       ? std::vector<std::string>{"flac", "-s", "-f", "-5", "-o", path, made}
                       : std::vector<std::string>{"oggenc", "-Q", "-q", "6", "-o", path, made});
}

// Whether the tool at cli was built with format ("flac", "ogg"; any other is
// always there), from the formats its render --help lists.
inline bool tool_has(const std::string &cli, const std::string &format) {
  const char *name = format == "flac" ? "FLAC" : format == "ogg" ? "Ogg Vorbis" : nullptr;
  if (!name) return true;
  const std::string help = spawn({cli, "render", "--help"}).out;
  return help.find(name) != std::string::npos;
}
