#!/usr/bin/env bash
# Encoders side by side against one encoder, on the same work:
#   - `sonvale-cli rip` of a 10-minute disc image (ten one-minute tracks, mkdisc) to MP3,
#     --jobs 2 against --jobs 1;
#   - `sonvale-cli convert` of six one-minute WAVs to MP3, --jobs 2 against --jobs 1;
#   - the same rip through the job window (rip_bench ... window, offscreen), Encoders=2 against
#     Encoders=1.
# Each is timed whole (start-up included), best of two. Target: at most 0.62 x the time of one
# encoder, on a machine of two processors or more. Every run's files are checked to be the same.
#
#   bench/jobs_compare.sh
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONVALE_TESTS=OFF -DSONVALE_BENCH=ON >/dev/null
cmake --build build/bench --target sonvale-cli mkdisc rip_bench >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/sonvale-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
build/bench/mkdisc "$work/disc.cue" 60 60 60 60 60 60 60 60 60 60
cp build/bench/sonvale-cli "$work/sonvale-cli"  # its options.ini (defaults: 128 kbit/s, joint stereo) beside it
export SONVALE_DISC_IMAGES=$work/disc.cue
echo "processors: $(nproc)"

now() { date +%s.%N; }
# best_of CHECK_DIR COMMAND...: the better of two runs' wall times; the output folder (the last
# run's) is left in CHECK_DIR.
best_of() {
  local dir=$1 best="" t0 t1
  shift
  for _ in 1 2; do
    rm -rf "$dir"
    mkdir -p "$dir"
    t0=$(now); "$@" >/dev/null 2>&1; t1=$(now)
    best=$(awk -v a="$t0" -v b="$t1" -v c="$best" 'BEGIN { d = b - a; print (c == "" || d < c) ? d : c }')
  done
  echo "$best"
}
same() {
  [ "$(cd "$1" && md5sum -- * | sort)" = "$(cd "$2" && md5sum -- * | sort)" ] || { echo "$1 and $2 differ"; exit 1; }
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
report() {
  echo "$1: one encoder $(printf %.2f "$2") s, two $(printf %.2f "$3") s, ratio $(ratio "$3" "$2") (target <= 0.62)"
}

one=$(best_of "$work/rip1" "$work/sonvale-cli" rip --format mp3 --output "$work/rip1" --jobs 1)
two=$(best_of "$work/rip2" "$work/sonvale-cli" rip --format mp3 --output "$work/rip2" --jobs 2)
same "$work/rip1" "$work/rip2"
report "sonvale-cli rip 10 min to mp3" "$one" "$two"

"$work/sonvale-cli" rip --format wav --tracks 1-6 --output "$work/wavs" >/dev/null 2>&1
one=$(best_of "$work/conv1" "$work/sonvale-cli" convert --to mp3 --output "$work/conv1" --jobs 1 "$work"/wavs/*.wav)
two=$(best_of "$work/conv2" "$work/sonvale-cli" convert --to mp3 --output "$work/conv2" --jobs 2 "$work"/wavs/*.wav)
same "$work/conv1" "$work/conv2"
report "sonvale-cli convert 6 WAVs to mp3" "$one" "$two"

one=$(best_of "$work/win1" build/bench/rip_bench mp3 "$work/disc.cue" "$work/win1" 1 window)
two=$(best_of "$work/win2" build/bench/rip_bench mp3 "$work/disc.cue" "$work/win2" 2 window)
same "$work/win1" "$work/win2"
report "the job window's rip 10 min to mp3" "$one" "$two"
