#!/bin/sh
# Instructions per sample of a filterbank, counted by callgrind over the
# filterbank call alone (synthtab_synth_f64, _f32 or _s16, or
# synthtab_analysis_f64, or the FFTW peer's analyze), inclusive of the
# dispatch and the kernel, excluding the driver's own set-up and loop.
#   bench/callgrind.sh [BUILD_DIR] [BLOCKS] [KERNEL] [f64|f32|s16|analysis|fftw] [STRIDE]
# BUILD_DIR defaults to build-release (configure it with
# -DCMAKE_BUILD_TYPE=Release -DSYNTHTAB_BUILD_BENCH=ON); KERNEL defaults to
# the one the library picks (or SYNTHTAB_KERNEL).
set -eu
build=${1:-build-release}
blocks=${2:-10000}
kernel=${3:-${SYNTHTAB_KERNEL:-}}
format=${4:-f64}
stride=${5:-1}
driver=$build/bench/synth_driver
usage="usage: callgrind.sh [BUILD_DIR] [BLOCKS] [KERNEL] [f64|f32|s16|analysis|fftw] [STRIDE]"
if [ ! -x "$driver" ]; then
  echo "callgrind.sh: no $driver; build the bench targets first ($usage)" >&2
  exit 2
fi
case $format in
  f64 | f32 | s16) fn=synthtab_synth_$format ;;
  analysis) fn=synthtab_analysis_f64 ;;
  fftw) fn='FftwAnalysis::analyze*' ;;
  *) echo "callgrind.sh: format must be f64, f32, s16, analysis or fftw ($usage)" >&2; exit 2 ;;
esac
out=$(mktemp)
log=$(mktemp)
trap 'rm -f "$out" "$log"' EXIT
if ! valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect="$fn" \
  "$driver" "$blocks" "${kernel:-}" "$format" "$stride" >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
ir=$(sed -n 's/^summary: *//p' "$out")
if [ -z "$ir" ] || [ "$ir" -eq 0 ]; then
  echo "callgrind.sh: callgrind counted nothing in $fn" >&2
  exit 1
fi
name=$(sed -n 's/^\([a-z0-9]*\): .*blocks.*/\1/p' "$log")
awk -v ir="$ir" -v b="$blocks" -v k="$name" -v f="$format" -v s="$stride" 'BEGIN {
  printf "%s %s stride %d: %d instructions over %d blocks: %.1f per block, %.2f per sample\n",
         k, f, s, ir, b, ir / b, ir / (b * 32) }'
