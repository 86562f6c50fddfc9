#!/usr/bin/env bash
# Installs what is missing (Debian 12), builds a release build and an
# ASan+UBSan build, both with warnings as errors, and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
# The time the run has taken at the end of each step, for keeping it short.
step() { echo "== test.sh: $1 done at ${SECONDS} s"; }
step "installs"

jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DROVAZ_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
step "release build"

# ARM Linux and Windows, built here and tested under qemu and wine (skipped
# without the cross tools); their JNI libraries then join the jar.
status=0
scripts/cross-test.sh build || status=1
step "cross builds and tests"
extra=()
[ -f build-cross-aarch64/librovaz.so ] && extra+=("linux-aarch64=$PWD/build-cross-aarch64/librovaz.so")
[ -f build-cross-windows/rovaz.dll ] && extra+=("windows-x86_64=$PWD/build-cross-windows/rovaz.dll")
if [ ${#extra[@]} -gt 0 ]; then
  cmake -S . -B build -DROVAZ_JAR_NATIVE="$(IFS=';'; echo "${extra[*]}")" >/dev/null
  cmake --build build -j"$jobs"
fi

# The sanitizer build covers the native code; the JVM is left to the release build.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DROVAZ_SANITIZE=ON -DROVAZ_JAVA=OFF -DROVAZ_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs"
step "jar and sanitizer build"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build && ctest --output-on-failure -j"$jobs") || status=1
(cd build-asan && ctest --output-on-failure -j"$jobs" -LE slow) || status=1
step "tests"
# A short libFuzzer run of each target (clang, ASan, UBSan); fuzz/run.sh 1200 is the long one.
fuzz/run.sh "${FUZZ_SMOKE_SECONDS:-20}" || status=1
step "fuzz smoke runs"
exit $status
