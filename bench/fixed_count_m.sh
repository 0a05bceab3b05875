#!/bin/sh
# Instructions per output sample of the integer filterbank on a bare-metal
# Cortex-M, counted under qemu-system-arm (machine mps2-an385, an386 for M4,
# an500 for M7; semihosting)
# one instruction per block (-singlestep -d exec,nochain; -d exec alone
# counts the same, blocks of one instruction not being chained): fixed_driver.c
# built against BUILD_DIR's libsynthtab.a, run for 120 blocks and for 20, and
# the same runs with the filterbank call left out (the driver alone), so that
# start-up and the driver's own loop drop out.
#   bench/fixed_count_m.sh BUILD_DIR [s16|s32]
# BUILD_DIR is a build with cmake/arm-none-eabi.cmake; its CMAKE_C_FLAGS
# (-mcpu=...) build the driver. For Cortex-M0/M0+ it also estimates cycles
# from the instructions run: 2 for a load or store, 1 + n for a multiple one
# (3 more when it loads pc), 3 for a taken branch (2 on M0+), 4 for bl (3),
# 1 for the rest, the multiplier being the single-cycle one; memory without
# wait states. Not a measurement on hardware.
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
plus=0
case $flags in *cortex-m0plus*) plus=1 ;; esac
# The board: mps2-an385's Cortex-M3 runs ARMv6-M code too; M4 and M7 code
# (DSP and FPU instructions) need their own.
machine=mps2-an385
case $flags in *cortex-m4*) machine=mps2-an386 ;; *cortex-m7*) machine=mps2-an500 ;; esac
arm-none-eabi-objdump -d --no-show-raw-insn "$tmp/driver.elf" >"$tmp/dis"
count() {  # BLOCKS FORMAT: "instructions cycles"
  # shellcheck disable=SC2086  # the step option
  qemu-system-arm -M "$machine" -nographic -monitor none -serial none \
    -semihosting-config "enable=on,target=native,arg=fixed_driver,arg=$1,arg=$2" \
    $step -d exec,nochain -D "$tmp/trace" -kernel "$tmp/driver.elf" >"$tmp/log" 2>&1 ||
    { cat "$tmp/log" >&2; exit 1; }
  awk -v plus="$plus" 'function hex(s,   v, i) {
      v = 0; s = tolower(s)
      for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
      return v
    }
    function cost(a, next_a,   op, c) {
      op = opc[a]
      if (op ~ /^(ldr|str)/) return 2
      if (op ~ /^(ldm|stm|push|pop)/) return 1 + regs[a] + (op == "pop" && pc[a] ? 3 : 0)
      if (op == "bl") return 4 - plus
      if (op ~ /^bx/) return 3 - plus
      if (op ~ /^b/ && op !~ /^(bic|bkpt)/) return next_a != a + 2 ? 3 - plus : 1
      return 1
    }
    FNR == NR {
      if (match($0, /^ +[0-9a-f]+:\t/)) {
        a = hex(substr($1, 1, length($1) - 1)); opc[a] = $2
        if (match($0, /\{[^}]*\}/)) {
          list = substr($0, RSTART, RLENGTH); regs[a] = gsub(/,/, ",", list) + 1; pc[a] = list ~ /pc/
        }
      }
      next
    }
    /^Trace/ {
      match($0, /\[[0-9a-f]+\/[0-9a-f]+\//); f = substr($0, RSTART + 1, RLENGTH - 2)
      a = hex(substr(f, index(f, "/") + 1))
      if (n++) cycles += cost(prev, a)
      prev = a
    }
    END { cycles += cost(prev, -1); print n, cycles }' "$tmp/dis" "$tmp/trace"
}
# shellcheck disable=SC2046  # four pairs of numbers
set -- $(count 120 "$format") $(count 20 "$format") $(count 120 none) $(count 20 none)
[ $# -eq 8 ] || { echo "fixed_count_m.sh: the driver did not run under qemu-system-arm -M $machine" >&2; exit 1; }
awk -v ir="$(($1 - $3 - $5 + $7))" -v cy="$(($2 - $4 - $6 + $8))" -v d="$(($5 - $7))" -v f="$format" \
  -v cpu="$flags" -v v6m="$(case $flags in *cortex-m0*) echo 1 ;; esac)" 'BEGIN {
  printf "fixed %s (%s): %d instructions over 100 blocks, driver (%d) subtracted: %.1f per output sample\n",
    f, cpu, ir, d, ir / 3200
  if (v6m) printf "  about %.0f cycles per output sample (estimated from the instructions run)\n", cy / 3200 }'
