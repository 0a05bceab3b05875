#!/bin/sh
# Instructions per output sample of the integer filterbank (fixed_driver),
# or of a double kernel (synth_driver, the scalar one unless KERNEL names
# another) for comparison:
#   - in a native build, counted by callgrind over the synthtab_fixed_* (or
#     synthtab_synth_*) call alone;
#   - in a cross build, counted under qemu-user one instruction per block
#     (-singlestep or -one-insn-per-tb, -d exec,nochain), whole program, as the difference between
#     a run of 120 blocks and one of 20, so start-up drops out.
#   bench/fixed_count.sh [BUILD_DIR] [fixed|double] [s16|s32|f64] [KERNEL]
# BUILD_DIR defaults to build-release; configure it with
# -DCMAKE_BUILD_TYPE=Release -DSYNTHTAB_BUILD_BENCH=ON (and a toolchain file
# from cmake/toolchains/ for a cross build; Google Benchmark is not needed
# for the drivers).
set -eu
build=${1:-build-release}
what=${2:-fixed}
format=${3:-s16}
usage="usage: fixed_count.sh [BUILD_DIR] [fixed|double] [s16|s32|f64] [KERNEL]"
case $what/$format in
  fixed/s16 | fixed/s32) driver=$build/bench/fixed_driver; args=$format; fn=synthtab_fixed_$format ;;
  double/s16 | double/f64) driver=$build/bench/synth_driver; args="${4:-scalar} $format"; fn=synthtab_synth_$format ;;
  *) echo "fixed_count.sh: no such measure '$what $format' ($usage)" >&2; exit 2 ;;
esac
if [ ! -x "$driver" ]; then
  echo "fixed_count.sh: no $driver; build the bench targets first ($usage)" >&2
  exit 2
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A cross build names its toolchain file (cmake/toolchains/), which names qemu.
toolchain=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$build/CMakeCache.txt")
emulator=
if [ -n "$toolchain" ]; then
  qemu=$(sed -n 's/^set(SYNTHTAB_CROSS_QEMU \(.*\))$/\1/p' "$toolchain")
  triplet=$(sed -n 's/^set(SYNTHTAB_CROSS_TRIPLET \(.*\))$/\1/p' "$toolchain")
  emulator="$qemu -L /usr/$triplet"
fi
if [ -z "$emulator" ]; then
  blocks=10000
  valgrind --tool=callgrind --callgrind-out-file="$tmp/out" --toggle-collect="$fn" \
    "$driver" $blocks $args >"$tmp/log" 2>&1 || { cat "$tmp/log" >&2; exit 1; }
  ir=$(sed -n 's/^summary: *//p' "$tmp/out")
  how="callgrind, $fn alone"
else
  # One instruction per translation block: -singlestep, renamed in qemu 8.1.
  step=-singlestep
  $qemu -h 2>&1 | grep -q one-insn-per-tb && step=-one-insn-per-tb
  for n in 20 120; do
    # shellcheck disable=SC2086  # the emulator and its options
    $emulator $step -d exec,nochain -D "$tmp/trace$n" "$driver" $n $args >"$tmp/log" 2>&1 ||
      { cat "$tmp/log" >&2; exit 1; }
    eval "count$n=\$(grep -c '^Trace' \"$tmp/trace$n\")"
  done
  blocks=100
  ir=$((count120 - count20))
  how="$qemu $step, 120 blocks minus 20"
fi
awk -v ir="$ir" -v b="$blocks" -v w="$what $format" -v how="$how" 'BEGIN {
  printf "%s: %d instructions over %d blocks (%s): %.1f per output sample\n", w, ir, b, how, ir / (b * 32) }'
