#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) into build-fuzz/
# and runs each for a while: a smoke run by default, longer when asked.
#
#   fuzz/run.sh [SECONDS] [TARGET...]    SECONDS per target (default 45);
#                                        targets: stream header pcm binding stream_layer (default all)
#   fuzz/run.sh 1200                     the long run: 20 minutes each
#
# FUZZ_JOBS=2 runs two targets at once (the default runs them one by one).
# New corpus inputs stay in build-fuzz/corpus/TARGET; a crash is written to
# build-fuzz/artifacts/TARGET/ and makes the script fail: minimise it
# (build-fuzz/fuzz_TARGET -minimize_crash=1 FILE), fix the decoder, and commit
# the input to fuzz/regressions/TARGET/ so that every test run replays it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=${1:-45}
shift || true
targets=${*:-stream header pcm binding stream_layer}
jobs=${FUZZ_JOBS:-1}
build=${ROVAZ_FUZZ_BUILD:-$root/build-fuzz}

command -v clang++ >/dev/null || { echo "fuzz/run.sh: clang++ is needed" >&2; exit 1; }
cmake -S "$here" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
for t in $targets; do
  cmake --build "$build" -j2 --target fuzz_$t >/dev/null
done

# The first frames of the conformance streams, when they are beside the checkout.
conformance=$root/../shared/conformance
if [ -d "$conformance" ] && [ ! -d "$build/extra" ]; then
  "$here/make-seeds.sh" --conformance "$conformance" "$build/extra" >/dev/null
fi

max_len() {
  case $1 in
    stream|binding) echo 8192 ;;
    stream_layer) echo 16384 ;;
    header) echo 8192 ;;
    *) echo 9300 ;;   # flags, count and 2 x 1152 floats
  esac
}

run_one() {
  local t=$1
  mkdir -p "$build/corpus/$t" "$build/artifacts/$t"
  local dirs=("$build/corpus/$t")
  local seeds=$t
  [ $t = binding ] || [ $t = stream_layer ] && seeds=stream   # the same steering bytes and streams
  for d in "$here/seeds/$seeds" "$here/regressions/$t" "$build/extra/$seeds"; do
    [ -d "$d" ] && dirs+=("$d")
  done
  local dict=()
  [ $t != pcm ] && dict=(-dict="$here/mpa.dict")
  local status=0
  "$build/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len="$(max_len $t)" "${dict[@]}" -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$t/" "${dirs[@]}" >"$build/fuzz_$t.log" 2>&1 || status=$?
  local runs
  runs=$(grep -a -o 'stat::number_of_executed_units: *[0-9]*' "$build/fuzz_$t.log" | grep -o '[0-9]*$' || echo "?")
  if [ $status -eq 0 ]; then
    echo "fuzz_$t: $runs executions in $seconds s, no failure"
  else
    echo "fuzz_$t: FAILED after $runs executions (exit $status); see $build/fuzz_$t.log and $build/artifacts/$t/"
  fi
  return $status
}

failed=0
if [ "$jobs" -gt 1 ]; then
  pids=()
  for t in $targets; do
    run_one $t & pids+=($!)
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do sleep 1; done
  done
  for p in "${pids[@]}"; do wait "$p" || failed=1; done
else
  for t in $targets; do run_one $t || failed=1; done
fi
exit $failed
