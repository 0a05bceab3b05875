// Subband files: little-endian float64 blocks of 32 per channel, the channels
// interleaved block by block, after one of these headers:
//   kTagged  the synthtab header (kSubbandHeader bytes; see docs/analysis.md):
//            "SYNTHSUB", u16 version, u16 header size, u32 channels,
//            u32 rate, then zeros up to the header size
//   kNpy     NumPy's .npy, '<f8' of shape (blocks, channels, 32) or (blocks, 32)
//   kRaw     none: channels and rate come from the command line
//
// The headers are read by pure functions over their bytes (subband_header_size,
// parse_subband_header), which read_subbands() drives over an Input. Every
// length is checked before anything is allocated for it, and every refusal is
// a UsageError of one line that quotes what came from the file escaped.
#ifndef SYNTHTAB_TOOLS_SUBBANDS_H
#define SYNTHTAB_TOOLS_SUBBANDS_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bytes.h"
#include "io.h"

namespace synthtab::cli {

enum class Layout { kRaw, kTagged, kNpy };
constexpr std::size_t kSubbandHeader = 32;
// What a header may state: the most channels a WAV or AIFF header can carry,
// the rates the tool takes (--rate), and the largest .npy header NumPy reads.
constexpr uint32_t kMaxSubbandChannels = 65535;
constexpr uint32_t kMaxSubbandRate = 0x7FFFFFFF;
constexpr std::size_t kMaxNpyHeader = 10000;
// The bytes subband_header_size() needs to tell a header's length.
constexpr std::size_t kHeaderProbe = 12;

struct Subbands {
  Layout layout = Layout::kRaw;
  int channels = 0;
  int32_t rate = 0;                // 0: not stated
  std::optional<uint64_t> blocks;  // .npy: per channel, from its shape
};

// The whole header's length in bytes, from the input's first kHeaderProbe
// bytes (fewer only if the input holds no more): 0 for an input without one.
// A header whose magic, version or length cannot be is a UsageError naming
// `name`; its length is at most 65535 + 12 bytes.
std::size_t subband_header_size(std::string_view first, const std::string &name);
// The header in `head`, subband_header_size() bytes long.
Subbands parse_subband_header(std::string_view head, const std::string &name);

// Reads a header if the input starts with one (consumed); kRaw and the input
// untouched if not. A header cut short, or longer than a regular file, is
// refused before its bytes are read.
Subbands read_subbands(Input &in);
// The layout OUTPUT's name asks for: .npy NumPy, .f64 and .raw none, else tagged.
Layout subband_layout(const std::string &name);
// The .npy header stating blocks per channel, its shape field wide enough for
// any count so that end_subbands() can rewrite it in place.
std::string npy_header(const Subbands &s, uint64_t blocks);
// Writes s's header; a .npy header states s.blocks, or for a regular file a
// count that end_subbands() sets.
void begin_subbands(Output &out, const Subbands &s);
void end_subbands(Output &out, const Subbands &s, uint64_t blocks);

}  // namespace synthtab::cli

#endif  // SYNTHTAB_TOOLS_SUBBANDS_H
