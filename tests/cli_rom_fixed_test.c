/* Links the C file that synthtab --format c-fixed generated with the live
 * library and checks that both hold the same integer tables. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <synthtab/fixed.h>

extern const int32_t synthtab_rom_fixed_cos[31], synthtab_rom_fixed_win[32][32];

int main(void) {
  const int cos =
      memcmp(synthtab_rom_fixed_cos, synthtab_fixed_tab.cos, sizeof synthtab_fixed_tab.cos);
  const int win =
      memcmp(synthtab_rom_fixed_win, synthtab_fixed_tab.win, sizeof synthtab_fixed_tab.win);
  if (cos || win)
    fprintf(stderr, "cli_rom_fixed: the generated %s differ\n", cos ? "factors" : "window values");
  return cos || win;
}
