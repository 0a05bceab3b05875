// The other process of state_test: reads a saved state, continues it under
// the kernel named for a number of blocks, and writes the output bytes.
//   state_child BANK KERNEL FIRST COUNT STATE_FILE OUT_FILE
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "state_blocks.h"

int main(int argc, char **argv) {
  if (argc != 7) return 2;
  const std::string name = argv[1];
  const Bank bank = name == "synth"      ? Bank::synth
                    : name == "analysis" ? Bank::analysis
                                         : Bank::fixed;
  if (synthtab_use_kernel(argv[2]) != 0) return 3;
  make_decode_tables(32768);
  std::ifstream in(argv[5], std::ios::binary);
  const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (saved.size() != state_size(bank)) return 4;
  // Eight bytes further on than the allocator puts it: a state at another
  // alignment from the one it was saved at, too.
  std::vector<double> room(state_size(bank) / sizeof(double) + 2);
  void *state = room.data() + 1;
  std::memcpy(state, saved.data(), saved.size());
  std::string bytes;
  run_blocks(bank, state, std::atol(argv[3]), std::atol(argv[4]), bytes);
  std::ofstream out(argv[6], std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out ? 0 : 5;
}
