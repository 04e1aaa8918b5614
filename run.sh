#!/usr/bin/env bash
# Builds Sonvale (Release) and starts it.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONVALE_TESTS=OFF >/dev/null
cmake --build build/release --target sonvale
exec build/release/sonvale "$@"
