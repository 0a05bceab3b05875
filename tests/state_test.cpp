// The states of all three filterbanks hold no pointers: a state saved as
// bytes continues bit for bit in another process (this program run again),
// at another address, under the same kernel or another (the history
// converted), and any bytes at all make a state that runs without reading
// or writing outside itself and the caller's buffers (the sanitizer builds
// run this too).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "kernels.h"
#include "spawn.h"
#include "state_blocks.h"

namespace {

using ::testing::Combine;
using ::testing::ValuesIn;
const Bank kBanks[] = {Bank::synth, Bank::analysis, Bank::fixed};

// The bank and kernel a state runs under first, and the kernel it continues under.
class Saved : public ::testing::TestWithParam<std::tuple<Bank, std::string, std::string>> {};

// 37 blocks (an odd count: the parities of the history swap) under one
// kernel, the state written to a file; then 40 more here under the other
// kernel and in a fresh process that reads the file: the same bytes.
TEST_P(Saved, ContinuesInAnotherProcessBitForBit) {
  const auto &[bank, from, to] = GetParam();
  make_decode_tables(32768);
  std::vector<double> room(state_size(bank) / sizeof(double) + 1);
  void *state = room.data();
  std::memset(state, 0, state_size(bank));  // zero-filled: silent, as after init
  ASSERT_EQ(synthtab_use_kernel(from.c_str()), 0);
  std::string ignored, here;
  run_blocks(bank, state, 0, 37, ignored);

  char dir[] = "/tmp/synthtab_state_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string state_file = std::string(dir) + "/state", out_file = std::string(dir) + "/out";
  std::ofstream(state_file, std::ios::binary)
      .write(static_cast<const char *>(state), static_cast<std::streamsize>(state_size(bank)));

  ASSERT_EQ(synthtab_use_kernel(to.c_str()), 0);
  run_blocks(bank, state, 37, 40, here);

  std::vector<std::string> args;
  for (std::string rest = SYNTHTAB_STATE_CHILD;;) {  // the emulator's words, then the child
    const std::size_t bar = rest.find('|');
    args.push_back(rest.substr(0, bar));
    if (bar == std::string::npos) break;
    rest.erase(0, bar + 1);
  }
  args.insert(args.end(), {"--child", bank_name(bank), to, "37", "40", state_file, out_file});
  const Outcome r = spawn(args);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string there = slurp(out_file);
  std::remove(state_file.c_str());
  std::remove(out_file.c_str());
  rmdir(dir);
  ASSERT_EQ(there.size(), here.size());
  EXPECT_TRUE(there == here) << "the restored state's output differs";
}

INSTANTIATE_TEST_SUITE_P(States, Saved,
                         Combine(ValuesIn(kBanks), ValuesIn(kernels()), ValuesIn(kernels())),
                         [](const auto &info) {
                           return std::string(bank_name(std::get<0>(info.param))) + "_" +
                                  std::get<1>(info.param) + "_to_" + std::get<2>(info.param);
                         });

class Garbage : public ::testing::TestWithParam<std::tuple<Bank, std::string>> {};

// Each state exactly its size on the heap, random bytes or one byte repeated,
// and each buffer exactly what the stride needs, so a sanitizer sees any
// access beyond them. Garbage out is allowed; a crash or a stray access is not.
TEST_P(Garbage, StateBytesNeverReachOutside) {
  const auto &[bank, kernel] = GetParam();
  make_decode_tables(32768);
  ASSERT_EQ(synthtab_use_kernel(kernel.c_str()), 0);
  const std::size_t size = state_size(bank);
  for (int kind = 0; kind < 7; kind++)
    for (std::ptrdiff_t stride : {1, 2, 3, -1}) {
      std::unique_ptr<unsigned char[]> state(new unsigned char[size]);  // aligned for any state
      std::mt19937 gen(static_cast<unsigned>(kind));
      for (std::size_t i = 0; i < size; i++)
        state[i] = kind < 4 ? static_cast<unsigned char>(gen()) : "\xa5\xff\x7f"[kind - 4];
      std::string out;
      run_blocks(bank, state.get(), kind, 20, out, stride);
    }
}

INSTANTIATE_TEST_SUITE_P(States, Garbage, Combine(ValuesIn(kBanks), ValuesIn(kernels())),
                         [](const auto &info) {
                           return std::string(bank_name(std::get<0>(info.param))) + "_" +
                                  std::get<1>(info.param);
                         });

}  // namespace

// As the other process, "--child BANK KERNEL FIRST COUNT STATE_FILE OUT_FILE":
// the saved state continued under the kernel, its output bytes written.
int main(int argc, char **argv) {
  if (argc != 8 || std::string(argv[1]) != "--child") {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
  }
  const std::string name = argv[2], saved = slurp(argv[6]);
  const Bank bank = name == "synth"      ? Bank::synth
                    : name == "analysis" ? Bank::analysis
                                         : Bank::fixed;
  if (synthtab_use_kernel(argv[3]) != 0 || saved.size() != state_size(bank)) return 3;
  make_decode_tables(32768);
  // Eight bytes further on than the allocator puts it: a state at another
  // alignment from the one it was saved at, too.
  std::vector<double> room(state_size(bank) / sizeof(double) + 2);
  std::memcpy(room.data() + 1, saved.data(), saved.size());
  std::string bytes;
  run_blocks(bank, room.data() + 1, std::atol(argv[4]), std::atol(argv[5]), bytes);
  std::ofstream(argv[7], std::ios::binary) << bytes;
  return 0;
}
