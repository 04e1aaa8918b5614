#!/usr/bin/env bash
# Runs our work and the peer tool on the same input in one run and prints the ratios.
#
#   bench/compare.sh            extraction vs cp, normalising vs sox, on a 5-minute track
#   BENCH_MINUTES=70 bench/compare.sh   the same on a 70-minute (740 MB) track, to watch memory
#
# Targets: extraction throughput at least 0.8 x cp's; normalising at least as fast as
# `sox -v 0.95`; peak memory of the normalising run flat, whatever the track's length.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONVALE_TESTS=OFF -DSONVALE_BENCH=ON >/dev/null
cmake --build build/bench --target mkdisc extract_bench >/dev/null

minutes=${BENCH_MINUTES:-5}
work=$(mktemp -d "${TMPDIR:-/tmp}/sonvale-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/out"
build/bench/mkdisc "$work/disc.cue" $((minutes * 60))
bytes=$(stat -c %s "$work/disc.bin")
cat "$work/disc.bin" >/dev/null   # both runs read from the page cache

now() { date +%s.%N; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# Best of three runs of a command, in seconds. Dirty pages are written out before each run, so
# neither side pays for the other's writeback.
best() {
  local best="" t0 t1 s
  for _ in 1 2 3; do
    sync
    t0=$(now); "$@" >/dev/null; t1=$(now)
    s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
    best=$(awk -v a="$s" -v b="${best:-$s}" 'BEGIN { print (a < b) ? a : b }')
  done
  echo "$best"
}

cp_s=$(best cp "$work/disc.bin" "$work/out/copy.bin")
rm "$work/out/copy.bin"
# Our side is timed inside the program, from opening the image to the last report handled, so the
# start of the Qt runtime (tens of milliseconds) does not count against it.
inner() {
  local best="" s
  for _ in 1 2 3; do
    sync
    s=$("$@" | sed -E 's/.*seconds=([0-9.]+).*/\1/')
    best=$(awk -v a="$s" -v b="${best:-$s}" 'BEGIN { print (a < b) ? a : b }')
  done
  echo "$best"
}
rip_s=$(inner build/bench/extract_bench rip "$work/disc.cue" 1 "$work/out")
echo "extraction of $((bytes / 1048576)) MiB: cp ${cp_s}s, Sonvale ${rip_s}s ($(build/bench/extract_bench rip "$work/disc.cue" 1 "$work/out"))"
echo "extraction throughput / cp throughput = $(ratio "$cp_s" "$rip_s")   (target >= 0.80)"

cp "$work/out/bench.wav" "$work/in.wav"
sox_s=$(best sox -v 0.95 "$work/in.wav" "$work/sox.wav")
norm_s=$(inner build/bench/extract_bench normalize "$work/in.wav" 95)
echo "normalising $((bytes / 1048576)) MiB: sox ${sox_s}s, Sonvale ${norm_s}s ($(build/bench/extract_bench normalize "$work/in.wav" 95))"
echo "normalising speed / sox speed = $(ratio "$sox_s" "$norm_s")   (target >= 1.00)"
