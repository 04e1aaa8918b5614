#!/usr/bin/env bash
# Builds the WAV fuzz target with clang's libFuzzer and AddressSanitizer and runs it.
#
#   tests/fuzz/run.sh [SECONDS]     (default 600)
#
# The corpus starts from small WAV files of every kind, made with sox; findings land in
# build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-600}
./scripts/install-deps.sh
command -v clang++ >/dev/null || { echo "clang++ is needed (apt-get install clang)"; exit 1; }
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONVALE_FUZZ=ON \
  -DSONVALE_TESTS=OFF >/dev/null
cmake --build build/fuzz --target wav_fuzz
corpus=build/fuzz/corpus
mkdir -p "$corpus" build/fuzz/findings
for format in "-c 1 -b 16" "-c 2 -b 8" "-c 1 -e ima-adpcm" "-c 2 -e ima-adpcm" "-c 1 -e ms-adpcm" "-c 2 -e ms-adpcm"; do
  name=$(echo "$format" | tr -d ' -')
  sox -n -r 8000 $format "$corpus/$name.wav" synth 0.05 sine 440 2>/dev/null
done
build/fuzz/wav_fuzz "$corpus" -max_total_time="$seconds" -artifact_prefix=build/fuzz/findings/ -print_final_stats=1
