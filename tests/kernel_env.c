/* SYNTHTAB_KERNEL read at the first use: the kernel then in use must be the
 * one named in argv[1], or for "default" the fastest this CPU runs (the last
 * of scalar, sse2, avx2, neon it accepts). */
#include <stdio.h>
#include <string.h>
#include <synthtab/synth.h>

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  char first[16];
  snprintf(first, sizeof first, "%s", synthtab_kernel()); /* the first use */
  const char *best = "scalar";
  static const char *const names[] = {"scalar", "sse2", "avx2", "neon"};
  for (int i = 0; i < 4; i++)
    if (synthtab_use_kernel(names[i]) == 0) best = names[i];
  const char *want = strcmp(argv[1], "default") == 0 ? best : argv[1];
  if (strcmp(first, want) != 0) {
    fprintf(stderr, "kernel_env: first use chose %s, expected %s\n", first, want);
    return 1;
  }
  return 0;
}
