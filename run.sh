#!/usr/bin/env bash
# The main job: decodes an MPEG audio file (default: the bundled sample)
# through the Java side to a WAV file, and prints what it decoded.
#
#   ./run.sh [INPUT [OUTPUT.wav]]
set -euo pipefail
cd "$(dirname "$0")"
input=${1:-samples/sample.mp3}
output=${2:-build/$(basename "${input%.*}").wav}

./scripts/install-deps.sh
if [ ! -f build/rovaz.jar ] || [ ! -f build/librovaz.so ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j"$(nproc)" >/dev/null
fi

java -jar build/rovaz.jar --info "$input"
java -jar build/rovaz.jar "$input" "$output"
echo "wrote:     $output"
