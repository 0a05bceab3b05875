#!/bin/sh
# synthtab render against copying the same bytes, in one hyperfine run: a
# stereo float64 input (200 MB by default) rendered to float64 (as many bytes
# out as in) and to 16-bit WAV, next to `cat IN > OUT`, to cat into a
# temporary renamed over OUT, and to that with the file synced before the
# rename and the directory after, which is how render replaces a file. Then
# analyze of the 16-bit WAV, and the WAV encoded as FLAC at level 5 by render
# (from the subbands) and by `flac -5` (from the same PCM): their ratio.
#   bench/render.sh [BUILD_DIR] [MB]
# BUILD_DIR defaults to build-release (-DCMAKE_BUILD_TYPE=Release). The files
# go to a folder of its own under $TMPDIR (default /tmp), removed at the end;
# point TMPDIR at a tmpfs to leave the disk out.
set -eu
build=${1:-build-release}
mb=${2:-200}
tool=$build/tools/synthtab
if [ ! -x "$tool" ]; then
  echo "render.sh: no $tool; build the tool first (usage: render.sh [BUILD_DIR] [MB])" >&2
  exit 2
fi
if ! command -v hyperfine >/dev/null; then
  echo "render.sh: needs hyperfine (apt-get install hyperfine)" >&2
  exit 2
fi
dir=$(mktemp -d "${TMPDIR:-/tmp}/render-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT

# 1 MiB of random subband samples in [-0.1, 0.1], repeated: whole stereo blocks.
python3 - "$dir/in.sub" "$mb" <<'PY'
import random, struct, sys
random.seed(1)
chunk = struct.pack("<131072d", *(random.uniform(-0.1, 0.1) for _ in range(131072)))
with open(sys.argv[1], "wb") as f:
    for _ in range(int(sys.argv[2]) * 1000000 // len(chunk)):
        f.write(chunk)
PY
echo "input: $(wc -c <"$dir/in.sub") bytes, $(nproc) cores: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2)"
hyperfine --warmup 2 --runs 10 \
  -n cat "cat $dir/in.sub > $dir/out.cat" \
  -n cat+mv "cat $dir/in.sub > $dir/tmp.mv && mv $dir/tmp.mv $dir/out.mv" \
  -n cat+sync+mv "cat $dir/in.sub > $dir/tmp.s && sync $dir/tmp.s && mv $dir/tmp.s $dir/out.s && sync $dir" \
  -n f64 "$tool render --channels 2 $dir/in.sub $dir/out.f64" \
  -n wav "$tool render --channels 2 $dir/in.sub $dir/out.wav 2>$dir/err"
if command -v flac >/dev/null && "$tool" render --help | grep -q FLAC; then
  hyperfine --warmup 1 --runs 5 \
    -n analyze-wav "$tool analyze $dir/out.wav $dir/out.sub" \
    -n render-flac "$tool render --channels 2 $dir/in.sub $dir/out.flac 2>$dir/err" \
    -n flac-5 "flac -s -f -5 -o $dir/ref.flac $dir/out.wav"
  echo "FLAC level 5: render $(wc -c <"$dir/out.flac") bytes, flac -5 $(wc -c <"$dir/ref.flac") bytes"
else
  hyperfine --warmup 1 --runs 5 -n analyze-wav "$tool analyze $dir/out.wav $dir/out.sub"
fi
