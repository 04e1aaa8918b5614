#!/usr/bin/env bash
# Rips a 10-minute disc image (ten tracks of a minute, made by mkdisc) through the job class, to
# MP3, Ogg Vorbis, FLAC and Opus, beside a shell script doing the same work with the peer tools:
# each track's bytes copied out of the .bin into a WAV, then lame with the job's arguments (-b 128
# -m j), oggenc at the same quality (0.2, "-q 2"), flac -5 or opusenc --bitrate 160, one track
# after the other, the WAV removed. Targets: MP3 at most 1.05 x the script's wall time, Ogg at
# most 1.10 x, FLAC and Opus at most 1.0 x (the job also verifies the FLAC it writes and tags
# every file); and the UI thread never more than 50 ms without handling an event while the job
# runs.
#
#   bench/rip_compare.sh          (BENCH_TRACKS=N for another number of one-minute tracks)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONVALE_TESTS=OFF -DSONVALE_BENCH=ON >/dev/null
cmake --build build/bench --target rip_bench mkdisc >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/sonvale-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
tracks=${BENCH_TRACKS:-10}
build/bench/mkdisc "$work/disc.cue" $(for _ in $(seq "$tracks"); do printf '60 '; done)
bin=$work/disc.bin
sectors=4500  # a minute

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

# The canonical 44-byte header and the track's bytes.
wav_of_track() {
  local t=$1 out=$2 bytes=$((sectors * 2352))
  perl -e 'print pack("A4VA4A4VvvVVvvA4V", "RIFF", 36 + $ARGV[0], "WAVE", "fmt ", 16, 1, 2, 44100, 176400, 4, 16,
                      "data", $ARGV[0])' "$bytes" > "$out"
  dd if="$bin" bs=2352 skip=$((t * sectors)) count="$sectors" status=none >> "$out"
}

peer() {
  local format=$1 dir=$2
  mkdir -p "$dir"
  for t in $(seq 0 $((tracks - 1))); do
    wav_of_track "$t" "$dir/t$t.wav"
    case $format in
      mp3) lame --quiet -b 128 -m j "$dir/t$t.wav" "$dir/t$t.mp3" ;;
      ogg) oggenc -Q -q 2 -o "$dir/t$t.ogg" "$dir/t$t.wav" ;;
      flac) flac -s -5 -o "$dir/t$t.flac" "$dir/t$t.wav" ;;
      opus) opusenc --quiet --bitrate 160 "$dir/t$t.wav" "$dir/t$t.opus" ;;
    esac
    rm "$dir/t$t.wav"
  done
}

for format in mp3 ogg flac opus; do
  t0=$(now); peer "$format" "$work/peer-$format"; t1=$(now)
  peer_s=$(elapsed "$t0" "$t1")
  mkdir -p "$work/ours-$format"
  result=$(build/bench/rip_bench "$format" "$work/disc.cue" "$work/ours-$format")
  ours_s=$(sed -E 's/^seconds=([0-9.]+) .*/\1/' <<<"$result")
  gap=$(sed -E 's/.*max_gap_ms=([0-9.]+).*/\1/' <<<"$result")
  case $format in mp3) target=1.05 ;; ogg) target=1.10 ;; *) target=1.00 ;; esac
  echo "rip $tracks min to $format: script ${peer_s}s, through the job ${ours_s}s," \
       "ratio $(awk -v a="$ours_s" -v b="$peer_s" 'BEGIN { printf "%.3f", a / b }') (target <= $target);" \
       "longest UI gap ${gap} ms (target < 50)"
done
