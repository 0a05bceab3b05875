// What a C++ decoder checks after linking synthtab: the values the README
// documents for scale 32768, and that the names need no extern "C" of its own.
#include <synthtab/tabinit.h>
#include <synthtab/version.h>

#include <cmath>
#include <iostream>

int main() {
  make_decode_tables(32768);
  const bool ok = pnts[4][0] == 0x1.6a09e667f3bccp-1 && pnts[0][15] == 0x1.46148bea939f3p+3 &&
                  decwin[8] == -0x1.251e000168c7p+15 && decwin[24] == decwin[8] &&
                  std::signbit(decwin[0]) && dewin[256] == 1.144989014;
  std::cout << "synthtab " << SYNTHTAB_VERSION_STRING << " from C++: " << (ok ? "ok" : "WRONG")
            << '\n';
  return ok ? 0 : 1;
}
