#!/bin/sh
# Instructions per output sample of the fast filterbank, counted by callgrind
# over synthesize() alone (inclusive of what it calls), excluding the
# driver's own set-up and loop.
#   bench/callgrind.sh [BUILD_DIR] [BLOCKS]
# BUILD_DIR defaults to build-release (configure it with
# -DCMAKE_BUILD_TYPE=Release -DSYNTHTAB_BUILD_BENCH=ON).
set -eu
build=${1:-build-release}
blocks=${2:-10000}
driver=$build/bench/synth_driver
if [ ! -x "$driver" ]; then
  echo "callgrind.sh: no $driver; build the bench targets first (usage: callgrind.sh [BUILD_DIR] [BLOCKS])" >&2
  exit 2
fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT
valgrind --tool=callgrind --callgrind-out-file="$out" \
  --toggle-collect='synthtab::SynthesisFilterbank::synthesize*' "$driver" "$blocks" >/dev/null 2>&1
ir=$(sed -n 's/^summary: *//p' "$out")
if [ -z "$ir" ] || [ "$ir" -eq 0 ]; then
  echo "callgrind.sh: callgrind counted nothing in synthesize()" >&2
  exit 1
fi
awk -v ir="$ir" -v b="$blocks" 'BEGIN {
  printf "%d instructions in synthesize() over %d blocks: %.1f per block, %.2f per output sample\n",
         ir, b, ir / b, ir / (b * 32) }'
