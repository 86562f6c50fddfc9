#!/usr/bin/env bash
# Start-up of the Java command line against an empty JVM: median of RUNS runs of each, alternating.
#
#   bench/java-start.sh [BUILD_DIR...]     # default $BUILD_DIR, else build/; RUNS=11
#
# Several build folders (or folders holding a rovaz.jar) are measured in the same rounds, to compare
# a change with what came before on an equally busy machine. Each round runs, one after the other:
#   empty   java -cp DIR Empty (an empty main);
#   cached  java -jar BUILD_DIR/rovaz.jar IN.mp3 OUT.wav, the JNI library already extracted (a run
#           before the first round extracts it), for each BUILD_DIR;
#   fresh   the same with nothing extracted yet: an empty java.io.tmpdir, so the cache folder and the
#           library are made anew, as at a JVM's first use of the jar.
# IN.mp3 is 1 s of a 440 Hz tone, 44.1 kHz stereo, lame -b 128. Figures, in milliseconds:
#   wav     wall clock from a `date` just before java starts to one just after it ends: the WAV
#           written and closed, an upper bound of the time to the first sample;
#   first   wall clock from the same `date` to the first decoded sample, which the tool stamps
#           (microseconds since the epoch) on standard error when run with -Drovaz.timing=true;
#   cpu     user + system time of the JVM, all its threads: less disturbed by a busy machine than the
#           wall clock, but it counts the JIT compiler threads, which run beside the program.
# The empty JVM's wav and cpu are its whole run; "vs empty" is the difference of the medians.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -gt 0 ] || set -- "${BUILD_DIR:-$root/build}"
runs=${RUNS:-11}
for build in "$@"; do
  [ -f "$build/rovaz.jar" ] || { echo "no $build/rovaz.jar: build it first (cmake --build $build)" >&2; exit 1; }
done
for tool in java javac sox lame; do
  command -v $tool >/dev/null || { echo "needs $tool" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo 'public class Empty { public static void main(String[] a) { } }' > "$work/Empty.java"
javac -d "$work" "$work/Empty.java"
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 1 sine 440
lame --quiet -b 128 "$work/tone.wav" "$work/in.mp3"

now() { date +%s%N; }
TIMEFORMAT='%3U %3S'

# run NAME COMMAND...: appends "wav first cpu" (microseconds, first "-" when not stamped) to NAME.times.
run() {
  local name=$1 t0 t1 first
  shift
  t0=$(now)
  { time "$@" 2> "$work/err"; } 2> "$work/cpu"
  t1=$(now)
  first=$(sed -n 's/^rovaz: first sample at \([0-9]*\) us.*/\1/p' "$work/err")
  echo "$(( (t1 - t0) / 1000 )) $([ -n "$first" ] && echo $(( first - t0 / 1000 )) || echo -)" \
       "$(awk '{printf "%d", ($1 + $2) * 1e6}' "$work/cpu")" >> "$work/$name.times"
}
# decode NAME JAR TMPDIR
decode() {
  rm -f "$work/out.wav"
  run "$1" java -Djava.io.tmpdir="$3" -Drovaz.timing=true -jar "$2" "$work/in.mp3" "$work/out.wav"
  [ "$(stat -c %s "$work/out.wav")" -gt 44 ] || { cat "$work/err" >&2; exit 1; }
}

for ((k = 1; k <= $#; k++)); do
  mkdir "$work/cached$k"
  decode primer "${!k}/rovaz.jar" "$work/cached$k"
done
for ((i = 0; i < runs; i++)); do
  run empty java -cp "$work" Empty
  for ((k = 1; k <= $#; k++)); do
    decode cached$k "${!k}/rovaz.jar" "$work/cached$k"
    rm -rf "$work/fresh" && mkdir "$work/fresh"
    decode fresh$k "${!k}/rovaz.jar" "$work/fresh"
  done
done

# median NAME COLUMN: in milliseconds, one decimal; "-" when there is no figure.
median() {
  awk -v c="$2" '$c != "-" {print $c}' "$work/$1.times" | sort -n |
    awk '{v[NR] = $1} END {if (NR == 0) print "-"; else printf "%.1f\n", (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) / 1000}'
}
minus() {
  [ "$1" = - ] && echo - || awk -v a="$1" -v b="$2" 'BEGIN {printf "%+.1f\n", a - b}'
}
echo "$runs runs each, medians in ms; load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-8s %8s %8s %8s %8s %8s %8s\n' "" wav "vs empty" first "vs empty" cpu "vs empty"
empty_wav=$(median empty 1)
empty_cpu=$(median empty 3)
printf '%-8s %8s %8s %8s %8s %8s %8s\n' empty "$empty_wav" "" "" "" "$empty_cpu" ""
for ((k = 1; k <= $#; k++)); do
  echo "${!k}/rovaz.jar"
  for name in cached fresh; do
    wav=$(median $name$k 1)
    first=$(median $name$k 2)
    cpu=$(median $name$k 3)
    printf '%-8s %8s %8s %8s %8s %8s %8s\n' $name "$wav" "$(minus "$wav" "$empty_wav")" \
           "$first" "$(minus "$first" "$empty_wav")" "$cpu" "$(minus "$cpu" "$empty_cpu")"
  done
done
