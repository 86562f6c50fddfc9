#!/usr/bin/env bash
# The other platforms of the jar, built from this machine and tested under
# emulation: 64-bit ARM Linux under qemu-user, 64-bit Windows under wine.
# For each: the native tests, the conformance check, and the PCM of every
# conformance stream (16-bit, 24-bit and float) compared byte for byte with this
# machine's. Skips, with exit status 0, where the cross tools are missing.
#
#   scripts/cross-test.sh [HOST_BUILD]    HOST_BUILD: a build of this machine with mpadec (default build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
host=${1:-$root/build}
conformance=$root/../shared/conformance
jobs=$(nproc 2>/dev/null || echo 2)
wine=/usr/lib/wine/wine64
jdk_include=
if command -v javac >/dev/null 2>&1; then
  jdk_include=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")/include
fi

# target name, toolchain, compiler, runner
targets=()
if command -v aarch64-linux-gnu-g++ >/dev/null && command -v qemu-aarch64 >/dev/null; then
  targets+=("aarch64 aarch64-linux-gnu qemu-aarch64 -L /usr/aarch64-linux-gnu")
else
  echo "cross-test: no g++-aarch64-linux-gnu or qemu-user: ARM Linux skipped"
fi
if command -v x86_64-w64-mingw32-g++-posix >/dev/null && [ -x "$wine" ]; then
  targets+=("windows x86_64-w64-mingw32 $wine")
  export WINEPREFIX=${WINEPREFIX:-$root/build-cross-windows/wine} WINEDEBUG=-all
else
  echo "cross-test: no g++-mingw-w64-x86-64 or wine64: Windows skipped"
fi
[ ${#targets[@]} -gt 0 ] || exit 0
if [ ! -x "$host/mpadec" ]; then
  cmake -S "$root" -B "$host" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$host" -j"$jobs" --target mpadec >/dev/null
fi

status=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for t in "${targets[@]}"; do
  read -r name toolchain run <<<"$t"
  build=$root/build-cross-$name
  exe=; [ "$name" = windows ] && exe=.exe
  echo "== $name: building"
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/$toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DROVAZ_JAVA=OFF ${jdk_include:+-DROVAZ_JNI_INCLUDE=$jdk_include} >/dev/null
  jni_target=; [ -n "$jdk_include" ] && jni_target=rovaz
  replays=(fuzz_replay_stream fuzz_replay_header fuzz_replay_pcm fuzz_replay_binding fuzz_replay_stream_layer)
  cmake --build "$build" -j"$jobs" --target rovaz_tests conformance mpadec "${replays[@]}" $jni_target >/dev/null

  echo "== $name: native tests"
  if ! (cd "$build" && $run "./rovaz_tests$exe" --gtest_brief=1) >"$scratch/tests.log" 2>&1; then
    tail -30 "$scratch/tests.log"
    echo "cross-test: $name: native tests FAILED"
    status=1
  else
    # Skipped: the cases that encode with lame or sox, which a Windows program cannot start here.
    grep -E "^\[  (PASSED|SKIPPED) +\]" "$scratch/tests.log" | paste -sd' ' - || true
  fi

  # The fuzz regression inputs, through CTest and its emulator.
  if ! (cd "$build" && ctest -L fuzz -j"$jobs" --output-on-failure) >"$scratch/fuzz.log" 2>&1; then
    tail -30 "$scratch/fuzz.log"
    echo "cross-test: $name: fuzz replays FAILED"
    status=1
  else
    grep "tests passed" "$scratch/fuzz.log" || true
  fi

  if [ ! -d "$conformance" ]; then
    echo "== $name: no conformance streams beside the checkout: skipped"
    continue
  fi
  echo "== $name: conformance"
  if ! $run "$build/conformance$exe" "$conformance" >"$scratch/conf.log" 2>&1; then
    cat "$scratch/conf.log"
    echo "cross-test: $name: conformance FAILED"
    status=1
  else
    tail -1 "$scratch/conf.log"
  fi
  same=0 differ=0
  for stream in "$conformance"/*.bit; do
    for bits in 16 24 f32; do
      rm -f "$scratch/host.raw" "$scratch/cross.raw"
      "$host/mpadec" --raw --bits "$bits" "$stream" "$scratch/host.raw" 2>/dev/null || true
      $run "$build/mpadec$exe" --raw --bits "$bits" "$stream" "$scratch/cross.raw" >/dev/null 2>&1 || true
      if cmp -s "$scratch/host.raw" "$scratch/cross.raw"; then
        same=$((same + 1))
      else
        differ=$((differ + 1))
        echo "cross-test: $name: $(basename "$stream") --bits $bits differs from this machine's"
      fi
    done
  done
  echo "== $name: PCM bit-identical to this machine's: $same of $((same + differ)) decodes"
  [ "$differ" -eq 0 ] || status=1
done
exit $status
