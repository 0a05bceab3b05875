#!/bin/sh
# Instructions per output sample of the integer filterbank on a bare-metal
# Cortex-M, counted under qemu-system-arm (machine mps2-an385, semihosting)
# one instruction per block (-singlestep -d exec,nochain): fixed_driver.c
# built against BUILD_DIR's libsynthtab.a, run for 120 blocks and for 20, and
# the same runs with the filterbank call left out (the driver alone), so that
# start-up and the driver's own loop drop out.
#   bench/fixed_count_m.sh BUILD_DIR [s16|s32]
# BUILD_DIR is a build with cmake/arm-none-eabi.cmake; its CMAKE_C_FLAGS
# (-mcpu=...) build the driver.
set -eu
usage="usage: fixed_count_m.sh BUILD_DIR [s16|s32]"
build=${1:?$usage}
format=${2:-s16}
case $format in s16 | s32) ;; *) echo "fixed_count_m.sh: no format '$format' ($usage)" >&2; exit 2 ;; esac
lib=$build/src/libsynthtab.a
if [ ! -f "$lib" ]; then
  echo "fixed_count_m.sh: no $lib; build BUILD_DIR with cmake/arm-none-eabi.cmake first ($usage)" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")/.." && pwd)
flags=$(sed -n 's/^CMAKE_C_FLAGS:[A-Z]*=//p' "$build/CMakeCache.txt")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# shellcheck disable=SC2086  # the CPU flags
arm-none-eabi-gcc $flags -O2 -I"$here/include" --specs=rdimon.specs -T "$here/tests/baremetal/mps2.ld" \
  -o "$tmp/driver.elf" "$here/tests/baremetal/startup.c" "$here/bench/fixed_driver.c" "$lib"
# One instruction per translation block: -singlestep, renamed in qemu 8.1.
step=-singlestep
qemu-system-arm -h 2>&1 | grep -q one-insn-per-tb && step="-accel tcg,one-insn-per-tb=on"
count() {  # BLOCKS FORMAT
  # shellcheck disable=SC2086  # the step option
  qemu-system-arm -M mps2-an385 -nographic -monitor none -serial none \
    -semihosting-config "enable=on,target=native,arg=fixed_driver,arg=$1,arg=$2" \
    $step -d exec,nochain -D "$tmp/trace" -kernel "$tmp/driver.elf" >"$tmp/log" 2>&1 ||
    { cat "$tmp/log" >&2; exit 1; }
  grep -c '^Trace' "$tmp/trace"
}
calls=$(($(count 120 "$format") - $(count 20 "$format")))
driver=$(($(count 120 none) - $(count 20 none)))
awk -v ir="$((calls - driver))" -v d="$driver" -v f="$format" -v cpu="$flags" 'BEGIN {
  printf "fixed %s (%s): %d instructions over 100 blocks, driver (%d) subtracted: %.1f per output sample\n",
    f, cpu, ir, d, ir / 3200 }'
