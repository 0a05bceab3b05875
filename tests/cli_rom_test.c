/* Links a C file that synthtab --format c generated with the live library and
 * checks that the two sets of tables agree to the bit. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <synthtab/tabinit.h>

extern const double synthtab_rom_cos64[16], synthtab_rom_cos32[8], synthtab_rom_cos16[4],
    synthtab_rom_cos8[2], synthtab_rom_cos4[1], synthtab_rom_decwin[544];
extern const double *const synthtab_rom_pnts[5];

static int same(const char *name, const double *rom, const double *live, int n) {
  int i;
  for (i = 0; i < n; i++) {
    if (memcmp(&rom[i], &live[i], sizeof(double)) != 0) {
      fprintf(stderr, "%s[%d]: generated %a, library %a\n", name, i, rom[i], live[i]);
      return 0;
    }
  }
  return 1;
}

int main(void) {
  static const char *const names[5] = {"cos64", "cos32", "cos16", "cos8", "cos4"};
  const double *const rom[5] = {synthtab_rom_cos64, synthtab_rom_cos32, synthtab_rom_cos16,
                                synthtab_rom_cos8, synthtab_rom_cos4};
  int ok = 1, i;
  make_decode_tables((int32_t)(SYNTHTAB_ROM_SCALE));
  for (i = 0; i < 5; i++) {
    if (synthtab_rom_pnts[i] != rom[i]) {
      fprintf(stderr, "synthtab_rom_pnts[%d] does not point at synthtab_rom_%s\n", i, names[i]);
      ok = 0;
    }
    ok &= same(names[i], rom[i], pnts[i], 16 >> i);
  }
  ok &= same("decwin", synthtab_rom_decwin, decwin, 544);
  return ok ? 0 : 1;
}
