#!/usr/bin/env bash
# `sonvale-cli rip` of a 10-minute disc image (ten tracks of a minute, made by mkdisc) to MP3,
# beside the shell script of bench/rip_compare.sh doing the same work with the peer tools: each
# track's bytes copied out of the .bin into a WAV, then lame with the job's arguments (-b 128
# -m j), the WAV removed. The whole program is timed, start-up included. Target: at most 1.05 x
# the script's wall time (best of three of each).
#
#   bench/cli_compare.sh          (BENCH_TRACKS=N for another number of one-minute tracks)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONVALE_TESTS=OFF -DSONVALE_BENCH=ON >/dev/null
cmake --build build/bench --target sonvale-cli mkdisc >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/sonvale-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
tracks=${BENCH_TRACKS:-10}
build/bench/mkdisc "$work/disc.cue" $(for _ in $(seq "$tracks"); do printf '60 '; done)
bin=$work/disc.bin
sectors=4500  # a minute
cp build/bench/sonvale-cli "$work/sonvale-cli"  # its options.ini (defaults: 128 kbit/s, joint stereo) beside it
export SONVALE_DISC_IMAGES=$work/disc.cue

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
least() { awk -v a="$1" -v b="${2:-$1}" 'BEGIN { print (a < b) ? a : b }'; }

wav_of_track() {
  local t=$1 out=$2 bytes=$((sectors * 2352))
  perl -e 'print pack("A4VA4A4VvvVVvvA4V", "RIFF", 36 + $ARGV[0], "WAVE", "fmt ", 16, 1, 2, 44100, 176400, 4, 16,
                      "data", $ARGV[0])' "$bytes" > "$out"
  dd if="$bin" bs=2352 skip=$((t * sectors)) count="$sectors" status=none >> "$out"
}

peer() {
  local dir=$1
  mkdir -p "$dir"
  for t in $(seq 0 $((tracks - 1))); do
    wav_of_track "$t" "$dir/t$t.wav"
    lame --quiet -b 128 -m j "$dir/t$t.wav" "$dir/t$t.mp3"
    rm "$dir/t$t.wav"
  done
}

best_peer="" best_ours=""
for run in 1 2 3; do
  rm -rf "$work/peer" "$work/ours"
  t0=$(now); peer "$work/peer"; t1=$(now)
  best_peer=$(least "$(elapsed "$t0" "$t1")" "$best_peer")
  t0=$(now); "$work/sonvale-cli" rip --format mp3 --output "$work/ours" --jobs 1 2>/dev/null; t1=$(now)
  best_ours=$(least "$(elapsed "$t0" "$t1")" "$best_ours")
  [ "$(ls "$work/ours"/*.mp3 | wc -l)" -eq "$tracks" ] || { echo "sonvale-cli made no $tracks MP3 files"; exit 1; }
done
echo "sonvale-cli rip $tracks min to mp3: script ${best_peer}s, sonvale-cli ${best_ours}s," \
     "ratio $(awk -v a="$best_ours" -v b="$best_peer" 'BEGIN { printf "%.3f", a / b }') (target <= 1.05)"
