#!/usr/bin/env bash
# Lists the frames of an MPEG audio file (default: the bundled sample),
# one line per frame: layer, version, rate, bit rate, channels, length, offset.
set -euo pipefail
cd "$(dirname "$0")"
input=${1:-samples/sample.mp3}
./scripts/install-deps.sh
if [ ! -x build/mpainfo ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j"$(nproc)" >/dev/null
fi
exec build/mpainfo "$input"
