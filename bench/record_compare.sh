#!/usr/bin/env bash
# A recording of 10 s inserted into the middle of a 60-minute WAV file (635 MB) by the recorder's
# wave-audio device (open, record, put in place, save: the save is on disk when it returns),
# against copying the file once with cp and syncing the copy to disk (the same durability).
# Targets: at most 1.5 x cp's time; the process's peak memory below 1.2 x the file's size.
#
#   bench/record_compare.sh        (BENCH_MINUTES=N for another length)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONVALE_TESTS=OFF -DSONVALE_BENCH=ON >/dev/null
cmake --build build/bench --target record_bench >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/sonvale-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
minutes=${BENCH_MINUTES:-60}
sox -n -r 44100 -c 2 -b 16 "$work/long.wav" synth $((minutes * 60)) sine 440 vol 0.3
best_cp="" best_ours="" peak=""
for _ in 1 2 3; do  # best of three: the disk's sync times vary from run to run
  sync
  t0=$(date +%s.%N); cp "$work/long.wav" "$work/copy.wav"; sync -f "$work/copy.wav"; t1=$(date +%s.%N)
  s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
  best_cp=$(awk -v a="$s" -v b="${best_cp:-$s}" 'BEGIN { print (a < b) ? a : b }')
  rm "$work/copy.wav"
  sync
  result=$(build/bench/record_bench "$work/long.wav")
  s=$(sed -E 's/^seconds=([0-9.]+) .*/\1/' <<<"$result")
  best_ours=$(awk -v a="$s" -v b="${best_ours:-$s}" 'BEGIN { print (a < b) ? a : b }')
  peak=$(sed -E 's/.*peak_ratio=([0-9.]+).*/\1/' <<<"$result")
done
cp_s=$best_cp
ours_s=$best_ours
echo "insert 10 s into ${minutes} min: cp and sync ${cp_s}s, the device ${ours_s}s," \
     "ratio $(awk -v a="$ours_s" -v b="$cp_s" 'BEGIN { printf "%.3f", a / b }') (target <= 1.5);" \
     "peak memory ${peak} x the file (target < 1.2)"
