#!/usr/bin/env bash
# Regenerates the bundled samples: a 6-second synthesised signal (a chord
# progression over a pulsing bass, with a little noise), encoded with lame
# as Layer III and with twolame as Layer II. The committed files came from
# this script; re-encoding with another lame or twolame version may change
# their bytes.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for chord in "C4 E4 G4" "A3 C4 E4" "F3 A3 C4" "G3 B3 D4"; do
  set -- $chord
  sox -n -r 44100 -c 2 "$tmp/part$(ls "$tmp" | wc -l).wav" \
      synth 1.5 pluck "$1" pluck "$2" pluck "$3" remix 1,2 2,3 \
      tremolo 4 30 fade 0.01 1.5 0.2 gain -3
done
sox "$tmp"/part*.wav "$tmp/chords.wav"
sox -n -r 44100 -c 2 "$tmp/noise.wav" synth 6 pinknoise gain -38
sox -m "$tmp/chords.wav" "$tmp/noise.wav" "$tmp/signal.wav" gain -n -1
lame --quiet -b 128 -m j "$tmp/signal.wav" sample.mp3
twolame --quiet -b 192 "$tmp/signal.wav" sample.mp2
