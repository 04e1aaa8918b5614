#!/usr/bin/env bash
# The WAV source and output beside sox, ffmpeg and cp on the same files, in one run.
#
# Targets: IMA and MS ADPCM decoding at least 1.0 x the faster of sox and ffmpeg (5-minute file);
# a WAV copy through TWaveIn -> TWaveOut at least 0.5 x cp (200 MB); an MPEG Layer-3 WAV decoded
# in at most 1.2 x the memory of its PCM; resampling 22050 -> 44100 Hz stereo at least 1.0 x
# `sox in.wav -r 44100 out.wav` (5-minute file, both writing a WAV).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONVALE_TESTS=OFF -DSONVALE_BENCH=ON >/dev/null
cmake --build build/bench --target audio_bench >/dev/null
bench=build/bench/audio_bench
work=$(mktemp -d "${TMPDIR:-/tmp}/sonvale-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
# Best of three whole runs of a command, in seconds.
best() {
  local best="" t0 t1 s
  for _ in 1 2 3; do
    sync
    t0=$(now); "$@" >/dev/null 2>&1; t1=$(now)
    s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
    best=$(awk -v a="$s" -v b="${best:-$s}" 'BEGIN { print (a < b) ? a : b }')
  done
  echo "$best"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b) ? a : b }'; }

sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 300 sine 440 sine 660 vol 0.5
for coding in ima-adpcm ms-adpcm; do
  sox "$work/tone.wav" -e "$coding" "$work/$coding.wav"
  ours=$(best "$bench" decode "$work/$coding.wav")
  sox_s=$(best sox "$work/$coding.wav" -t raw -e signed-integer -b 16 /dev/null)
  ffmpeg_s=$(best ffmpeg -v error -y -i "$work/$coding.wav" -f s16le /dev/null)
  peer=$(min "$sox_s" "$ffmpeg_s")
  echo "$coding 5 min: Sonvale ${ours}s, sox ${sox_s}s, ffmpeg ${ffmpeg_s}s"
  echo "$coding decoding speed / faster peer = $(ratio "$peer" "$ours")   (target >= 1.00)"
done

sox -n -r 44100 -c 2 -b 16 "$work/big.wav" synth 1188 sine 440 sine 660 vol 0.5
cat "$work/big.wav" >/dev/null
size=$(( $(stat -c %s "$work/big.wav") / 1048576 ))
cp_s=$(best cp "$work/big.wav" "$work/cp.wav")
copy_s=$(best "$bench" copy "$work/big.wav" "$work/copy.wav")
cmp -s "$work/big.wav" "$work/copy.wav" || { echo "the copy differs from its source"; exit 1; }
echo "WAV copy of $size MiB: cp ${cp_s}s, Sonvale ${copy_s}s"
echo "WAV copy speed / cp speed = $(ratio "$cp_s" "$copy_s")   (target >= 0.50)"

ffmpeg -v error -y -i "$work/tone.wav" -c:a libmp3lame -b:a 128k -f wav "$work/mp3.wav"
result=$("$bench" decode "$work/mp3.wav")
pcm_kb=$(( $(sed -E 's/.*bytes=([0-9]+).*/\1/' <<<"$result") / 1024 ))
rss_kb=$(sed -E 's/.*maxrss_kb=([0-9]+).*/\1/' <<<"$result")
echo "MPEG Layer-3 WAV, 5 min: PCM ${pcm_kb} KiB, peak memory ${rss_kb} KiB ($result)"
echo "peak memory / PCM size = $(ratio "$rss_kb" "$pcm_kb")   (target <= 1.20)"

sox "$work/tone.wav" -r 22050 "$work/22k.wav"
sox_s=$(best sox "$work/22k.wav" -r 44100 "$work/sox44.wav")
ours=$(best "$bench" resample "$work/22k.wav" "$work/ours44.wav")
echo "resampling 22050 -> 44100 Hz stereo, 5 min: sox ${sox_s}s, Sonvale ${ours}s"
echo "resampling speed / sox speed = $(ratio "$sox_s" "$ours")   (target >= 1.00)"
