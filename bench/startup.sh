#!/usr/bin/env bash
# Start-up: the time from exec of the Release build to the main window's first paint, and the
# resident memory at that moment, on the sample disc in an X server of its own (Xvfb).
# Targets: under 300 ms and under 60 MB (median of 11 starts; the first start, with cold caches,
# is not counted).
#
#   bench/startup.sh
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONVALE_TESTS=OFF -DSONVALE_BENCH=ON >/dev/null
cmake --build build/bench --target sonvale sample_disc >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/sonvale-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp build/bench/sonvale "$work/sonvale"  # options.ini and cdinfo.dat go beside the program
export WORK=$work SONVALE_DISC_IMAGES=$PWD/build/bench/sample-disc/sample.cue SONVALE_AUDIO=null \
       SONVALE_REPORT_FIRST_PAINT=1 QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1024x768x24" bash -euo pipefail -c '
  for run in $(seq 0 11); do
    t0=$(date +%s%N)
    out=$("$WORK/sonvale" 2>/dev/null)
    [ "$run" -eq 0 ] && continue
    paint=$(sed -E "s/.*paint_ns=([0-9]+).*/\1/" <<<"$out")
    rss=$(sed -E "s/.*rss_kb=([0-9]+).*/\1/" <<<"$out")
    echo "$(( (paint - t0) / 1000000 )) $rss"
  done' > "$work/runs"
ms=$(cut -d" " -f1 "$work/runs" | sort -n | sed -n 6p)
rss=$(cut -d" " -f2 "$work/runs" | sort -n | sed -n 6p)
echo "start-up on the sample disc: first paint after ${ms} ms (target < 300)," \
     "resident memory $(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }') MB (target < 60); median of 11"
