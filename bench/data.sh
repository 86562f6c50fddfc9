# The test files of the benchmarks, made once: sourced by bench/run.sh and
# bench/speed-table.sh with $data (the folder) and $repo set. Synthesises a
# 60-second piece ($signal) and encodes it (lame, twolame) into the files
# listed in $files; $l1 is the Layer I conformance stream l1-fl6 when the
# conformance folder is beside the checkout, else empty.
mkdir -p "$data"
signal=$data/signal.wav
if [ ! -s "$signal" ]; then
  echo "bench: synthesising the 60-second test signal"
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  rate=44100
  beat=0.9375   # 64 beats = 60 s
  # Strummed chords (plucked strings over a square-wave bass), four beats each.
  chords=("C3 E4 G4 C5" "A2 C4 E4 A4" "F2 A3 C4 F4" "G2 B3 D4 G4"
          "E2 G3 B3 E4" "A2 C4 E4 G4" "D3 F4 A4 C5" "G2 B3 D4 F4")
  for i in "${!chords[@]}"; do
    set -- ${chords[$i]}
    sox -n -r $rate -c 2 "$tmp/chord$i.wav" synth $beat pluck $2 pluck $3 pluck $4 square $1 \
        remix 1v0.7,3v0.4,4v0.25 2v0.7,3v0.4,4v0.25 fade 0.002 $beat 0.05 gain -6
  done
  beats=()
  for b in $(seq 0 63); do beats+=("$tmp/chord$(( (b / 4) % 8 )).wav"); done
  sox "${beats[@]}" "$tmp/chords.wav" tremolo 3 25
  # Drums: a falling-sine kick and a band-passed noise snare per beat, hi-hats
  # on every quarter beat, placed differently left and right.
  sox -n -r $rate -c 1 "$tmp/kick.wav" synth 0.15 sine 120-40 fade 0 0.15 0.12 pad 0 0.31875
  sox -n -r $rate -c 1 "$tmp/snare.wav" synth 0.12 whitenoise bandpass 1800 1.2q fade 0 0.12 0.1 \
      gain 3 pad 0 0.34875
  sox "$tmp/kick.wav" "$tmp/snare.wav" "$tmp/drums.wav" repeat 63 remix 1v0.8 1v0.6
  sox -n -r $rate -c 1 "$tmp/hat.wav" synth 0.03 whitenoise highpass 7000 fade 0 0.03 0.025 \
      pad 0 0.204375
  sox "$tmp/hat.wav" "$tmp/hats.wav" repeat 255 remix 1v0.25 1v0.45
  # Sweeps going opposite ways left and right, and a bed of pink noise.
  sox -n -r $rate -c 2 "$tmp/pad.wav" synth 60 sine 220-880 sine 660-330 pinknoise \
      remix 1v0.15,3v0.03 2v0.15,3v0.02 tremolo 0.5 60
  sox -m "$tmp/chords.wav" "$tmp/drums.wav" "$tmp/hats.wav" "$tmp/pad.wav" -b 16 "$tmp/signal.wav" \
      echo 0.8 0.8 113 0.3 271 0.2 trim 0 60 gain -n -1
  mv "$tmp/signal.wav" "$signal"
fi

encode() {  # encode FILE ENCODER ARGS...
  local out=$data/$1 encoder=$2
  shift 2
  [ -s "$out" ] || "$encoder" --quiet "$@" "$signal" "$out.tmp"
  [ -s "$out" ] || mv "$out.tmp" "$out"
  files+=("$out")
}
files=()
encode l3-128k-joint.mp3 lame -b 128 -m j
encode l3-320k-stereo.mp3 lame -b 320 -m s
encode l3-vbr-V2.mp3 lame -V 2
encode l3-64k-mono.mp3 lame -m m -b 64
encode l3-lsf-24k-64k.mp3 lame --resample 24 -b 64
encode l2-192k-stereo.mp2 twolame -b 192 -m s

l1=
for conformance in "$repo/../shared/conformance" /work/shared/conformance; do
  if [ -s "$conformance/l1-fl6.bit" ]; then
    l1=$conformance/l1-fl6.bit
    break
  fi
done
