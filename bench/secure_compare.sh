#!/usr/bin/env bash
# Secure reads against the plain ones: a 10-minute track of a disc image extracted by the
# extraction thread in each mode (best of three); secure mode includes the CRC32 and AccurateRip
# checksums, which plain mode does not compute. The checksums' own cost is timed alone as well,
# against the plain extraction. Targets: secure at most 1.3 x plain; the checksums at most 5 % of
# plain. Burst-first secure mode with a database that confirms the disc whole reads each track once
# (with the checksums): at most 1.25 x plain from the page cache, 1.1 x at the drive's rate. The
# CTDB CRCs (cut from the same pass) add at most 5 % to that burst-first rip.
#
# An image in the page cache reads at memory speed (2 GB/s), so there the ratios measure the
# processor: paranoia's matching of overlapping reads, and the checksums. The same track is then
# read at the transfer rate of a 48 x drive (once each; BENCH_DRIVE_SPEED for another speed, 0 to
# skip), where the ratios are what a user waits for: verification reads every sector twice.
#
#   bench/secure_compare.sh        (BENCH_MINUTES=N for another length)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONVALE_TESTS=OFF -DSONVALE_BENCH=ON >/dev/null
cmake --build build/bench --target extract_bench mkdisc >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/sonvale-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
minutes=${BENCH_MINUTES:-10}
build/bench/mkdisc "$work/disc.cue" $((minutes * 60)) >/dev/null
mkdir "$work/out"
seconds() { sed -E 's/^seconds=([0-9.]+) .*/\1/' <<<"$1"; }
least() { awk -v a="$1" -v b="${2:-$1}" 'BEGIN { print (a < b) ? a : b }'; }
plain="" secure="" sums="" burst=""
for _ in 1 2 3; do
  plain=$(least "$(seconds "$(build/bench/extract_bench rip "$work/disc.cue" 1 "$work/out")")" "$plain")
  secure=$(least "$(seconds "$(build/bench/extract_bench rip-secure "$work/disc.cue" 1 "$work/out")")" "$secure")
  burst=$(least "$(seconds "$(build/bench/extract_bench rip-burst "$work/disc.cue" 1 "$work/out")")" "$burst")
  sums=$(least "$(seconds "$(build/bench/extract_bench checksums "$work/out/bench.wav" 2>/dev/null)")" "$sums")
done
echo "extract ${minutes} min from the page cache: plain ${plain}s, secure ${secure}s, ratio" \
     "$(awk -v a="$secure" -v b="$plain" 'BEGIN { printf "%.3f", a / b }') (target <= 1.3);" \
     "checksums ${sums}s, $(awk -v a="$sums" -v b="$plain" 'BEGIN { printf "%.1f", 100 * a / b }') % of plain (target <= 5)"
echo "extract ${minutes} min from the page cache, burst first (confirmed): ${burst}s, ratio" \
     "$(awk -v a="$burst" -v b="$plain" 'BEGIN { printf "%.3f", a / b }') of plain (target <= 1.25)"
# CTDB's CRCs: what cutting the CTDB range out of the checksums' one pass costs, against the
# burst-first rip (target at most 5 %).
ctdb=$(build/bench/extract_bench ctdb "$work/out/bench.wav")
extra=$(awk -v c="$(seconds "$ctdb")" -v p="$(sed -E 's/.* plain=([0-9.]+).*/\1/' <<<"$ctdb")" 'BEGIN { d = c - p; print (d < 0) ? 0 : d }')
echo "CTDB CRCs over the checksums of ${minutes} min: ${extra}s, $(awk -v a="$extra" -v b="$burst" 'BEGIN { printf "%.2f", 100 * a / b }')" \
     "% of the burst-first rip from the page cache (target <= 5)"
speed=${BENCH_DRIVE_SPEED:-48}
if [ "$speed" != 0 ]; then
  plain=$(seconds "$(BENCH_DRIVE_SPEED=$speed build/bench/extract_bench rip "$work/disc.cue" 1 "$work/out")")
  secure=$(seconds "$(BENCH_DRIVE_SPEED=$speed build/bench/extract_bench rip-secure "$work/disc.cue" 1 "$work/out")")
  burst=$(seconds "$(BENCH_DRIVE_SPEED=$speed build/bench/extract_bench rip-burst "$work/disc.cue" 1 "$work/out")")
  echo "extract ${minutes} min at ${speed} x: plain ${plain}s, secure ${secure}s, ratio" \
       "$(awk -v a="$secure" -v b="$plain" 'BEGIN { printf "%.3f", a / b }') (target <= 1.3);" \
       "checksums $(awk -v a="$sums" -v b="$plain" 'BEGIN { printf "%.1f", 100 * a / b }') % of plain (target <= 5)"
  echo "extract ${minutes} min at ${speed} x, burst first (confirmed): ${burst}s, ratio" \
       "$(awk -v a="$burst" -v b="$plain" 'BEGIN { printf "%.3f", a / b }') of plain (target <= 1.1)"
fi
