#!/usr/bin/env bash
# Finding a drive's read offset against ripping: `offset find` reads two tracks once each (with
# five sectors beyond each end) and tests every offset from -2940 to +2940 by v1 and some two
# hundred drives' offsets by v2; the plain rip of the same two tracks is the yardstick. Targets:
# at a 48 x drive's transfer rate (what a user waits for) at most 1.1 x the plain rip; from the
# page cache (the processor's share) at most 3 x.
#
#   bench/offset_compare.sh        (BENCH_DRIVE_SPEED=N for another speed)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONVALE_TESTS=OFF -DSONVALE_BENCH=ON >/dev/null
cmake --build build/bench --target extract_bench mkdisc >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/sonvale-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
# A disc of three tracks: 3, 5 and 4 minutes; the search takes tracks 2 and 3.
build/bench/mkdisc "$work/disc.cue" 180 300 240 >/dev/null
mkdir "$work/out"
seconds() { sed -E 's/^seconds=([0-9.]+) .*/\1/' <<<"$1"; }
least() { awk -v a="$1" -v b="${2:-$1}" 'BEGIN { print (a < b) ? a : b }'; }
sum() { awk -v a="$1" -v b="$2" 'BEGIN { print a + b }'; }
rip_two() {
  sum "$(seconds "$(build/bench/extract_bench rip "$work/disc.cue" 2 "$work/out")")" \
      "$(seconds "$(build/bench/extract_bench rip "$work/disc.cue" 3 "$work/out")")"
}
plain="" find=""
for _ in 1 2 3; do
  plain=$(least "$(rip_two)" "$plain")
  find=$(least "$(seconds "$(build/bench/extract_bench offset-find "$work/disc.cue" 2 3)")" "$find")
done
echo "offset find over 9 min from the page cache: ${find}s against a plain rip's ${plain}s, ratio" \
     "$(awk -v a="$find" -v b="$plain" 'BEGIN { printf "%.2f", a / b }') (target <= 3)"
speed=${BENCH_DRIVE_SPEED:-48}
if [ "$speed" != 0 ]; then
  export BENCH_DRIVE_SPEED=$speed
  plain=$(rip_two)
  find=$(seconds "$(build/bench/extract_bench offset-find "$work/disc.cue" 2 3)")
  echo "offset find over 9 min at ${speed} x: ${find}s against a plain rip's ${plain}s, ratio" \
       "$(awk -v a="$find" -v b="$plain" 'BEGIN { printf "%.3f", a / b }') (target <= 1.1)"
fi
