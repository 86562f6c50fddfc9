#!/usr/bin/env bash
# Decode-speed benchmark: rovaz beside libmpg123, libmad and libavcodec, then the exact
# length, seeking and a full decode on a one-hour file, then the same decode
# through the Java class, and Java Sound against mpadec (decoding, and a skip
# to 50:00 in the hour).
#
#   bench/run.sh [mpabench options]     e.g. bench/run.sh --rounds 9
#
# Builds build/mpabench and build/mpaseekbench (Release), makes the test files
# once into build/bench-data from a synthesised 60-second piece (lame,
# twolame, sox; bench/data.sh), the one-hour file from 60 repeats of it, adds the Layer I
# conformance stream l1-fl6 when the conformance folder is beside the
# checkout (and longer files made of copies of it and of the Layer II file),
# and runs the benchmarks, pinned to one CPU. BUILD_DIR picks
# another build folder; SEEK_BENCH=0 skips the one-hour file and JAVA_BENCH=0
# the Java part; BENCH_CPU picks the CPU.
set -euo pipefail
args=("$@")
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
build=${BUILD_DIR:-build}
data=$build/bench-data

for tool in cmake lame twolame sox; do
  if ! command -v $tool >/dev/null 2>&1; then
    echo "bench: $tool is missing (scripts/install-deps.sh installs it)" >&2
    exit 2
  fi
done

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target mpabench mpaseekbench >/dev/null

# ---- test files ----
source "$repo/bench/data.sh"
# One hour of 128 kbit/s Layer III for the seek benchmark (57.6 MB; lame takes
# a minute or two). On a pipe sox cannot fix up the WAV header and declares
# 2 GB of data (-V1 keeps its warning about that quiet); lame reads to the end.
long_file=$data/l3-128k-1h.mp3
if [ "${SEEK_BENCH:-1}" != 0 ] && [ ! -s "$long_file" ]; then
  echo "bench: encoding the one-hour file"
  sox -V1 "$signal" -t wav - repeat 59 | lame --quiet -b 128 -m j - "$long_file.tmp"
  mv "$long_file.tmp" "$long_file"
fi
sound_files=("${files[@]}")   # for the Java Sound comparison, with longer ones below
[ -z "$l1" ] || files+=("$l1")

# Every measurement runs on one CPU: on virtual machines the CPUs can differ
# in speed by a fifth (a busy neighbour on the host), and a process that
# lands on another CPU than the one it is compared with skews the ratios.
# BENCH_CPU picks the CPU (default: the last one); BENCH_CPU= turns pinning off.
pin=()
cpu=${BENCH_CPU-$(( $(nproc) - 1 ))}
if [ -n "$cpu" ] && command -v taskset >/dev/null 2>&1; then
  pin=(taskset -c "$cpu")
fi

# ---- native ----
echo "== native API: $(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -srm), load $(cut -d' ' -f1-3 /proc/loadavg)${pin:+, on CPU $cpu}"
dpkg-query -W -f='${Package} ${Version}\n' libmpg123-0 libmad0 'libavcodec[0-9]*' 2>/dev/null | awk '$2 != ""' || true
"${pin[@]}" "$build/mpabench" --results "$data/native.tsv" "${args[@]}" "${files[@]}"

# ---- seeking ----
if [ "${SEEK_BENCH:-1}" != 0 ]; then
  echo
  echo "== exact length, seek and full decode (stream layer)"
  "${pin[@]}" "$build/mpaseekbench" "$long_file"
fi

# ---- Java ----
if [ "${JAVA_BENCH:-1}" = 0 ]; then
  exit 0
fi
if ! command -v javac >/dev/null 2>&1 ||
   ! cmake --build "$build" -j2 --target rovaz rovaz_jar mpadec cputime >/dev/null 2>&1; then
  echo "bench: no JDK or the JNI library / jar does not build; Java part skipped" >&2
  exit 0
fi
mkdir -p "$build/bench-java"
javac -d "$build/bench-java" -cp "$build/rovaz.jar" bench/JavaBench.java bench/JavaSoundBench.java
echo
echo "== Java (MpegAudio.nConvert): $(java -version 2>&1 | head -1)"
# The JVM and the mpabench runs it starts in between stay on the same CPU.
"${pin[@]}" java -Djava.library.path="$build" -cp "$build/rovaz.jar:$build/bench-java" JavaBench \
     --mpabench "$build/mpabench" "${files[@]}"

echo
echo "== Java Sound (File, to PCM_SIGNED, 64 KB reads) against mpadec --raw FILE /dev/null"
# Files made of copies, so that start-up weighs less (Layer I and II frames
# stand alone, so copies join cleanly): the Layer I stream (0.43 s) as 64 s
# and 10.7 min, the Layer II file as 10 min; and the hour of Layer III.
repeat() {  # repeat FILE COPIES NAME: prints the path
  local out=$data/$3
  if [ ! -s "$out" ]; then
    for i in $(seq "$2"); do cat "$1"; done >"$out.tmp"
    mv "$out.tmp" "$out"
  fi
  echo "$out"
}
[ -z "$l1" ] || sound_files+=("$(repeat "$l1" 150 l1-fl6-x150.bit)")
sound_files+=("$(repeat "$data/l2-192k-stereo.mp2" 10 l2-192k-stereo-x10.mp2)")
[ -z "$l1" ] || sound_files+=("$(repeat "$l1" 1500 l1-fl6-x1500.bit)")
seek=()
if [ "${SEEK_BENCH:-1}" != 0 ]; then
  sound_files+=("$long_file")
  seek=(--seek "$long_file")
fi
"${pin[@]}" java -Djava.library.path="$build" -cp "$build/rovaz.jar:$build/bench-java" JavaSoundBench \
     --mpadec "$build/mpadec" --cputime "$build/cputime" "${seek[@]}" "${sound_files[@]}"
