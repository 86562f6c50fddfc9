#!/bin/sh
# Installs the build into a scratch prefix and builds programs against it: one
# through find_package(rovaz), one through pkg-config. Each decodes the first
# frames of the sample; all must print the installed version and the same line.
# Exits 77 (skip) once the find_package programs pass when pkg-config is missing.
# Usage: run.sh BUILD_DIR SOURCE_DIR VERSION C_COMPILER
set -eu
build=$1 src=$2 version=$3 cc=$4
sample=$src/samples/sample.mp2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; exit 1; }
for f in include/rovaz/mpa.h include/rovaz/mpa_stream.h; do
  [ -f "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
lib=$(dirname "$(find "$prefix" -name 'librovaz-mpa.so' | head -n 1)")
[ -f "$lib/librovaz-mpa.a" ] || { echo "librovaz-mpa.a is not beside librovaz-mpa.so in $lib"; exit 1; }

# The shared library exports the functions of the public headers and nothing else.
if command -v nm >/dev/null; then
  sed -n 's/.*\b\(mpa_[a-z0-9_]*\)(.*/\1/p' "$prefix"/include/rovaz/*.h | sort -u >"$work/declared"
  nm -D --defined-only "$lib/librovaz-mpa.so" | awk '$2 == "T" { print $3 }' | sort -u >"$work/exported"
  if ! cmp -s "$work/declared" "$work/exported"; then
    echo "exports differ from the headers' functions (< declared, > exported):"
    diff "$work/declared" "$work/exported" || true
    exit 1
  fi
fi

expect="rovaz $version"
check() {  # NAME OUTPUT_FILE
  first=$(head -n 1 "$2")
  [ "$first" = "$expect" ] || { echo "$1: printed '$first', expected '$expect'"; exit 1; }
  grep -q '^layer 2, 44100 Hz, 2 channels, 23040 samples, hash [0-9a-f]\{8\}$' "$2" ||
    { echo "$1:"; cat "$2"; exit 1; }
  if [ -f "$work/reference" ]; then
    cmp -s "$work/reference" "$2" || { echo "$1 differs from the first consumer:"; cat "$work/reference" "$2"; exit 1; }
  else
    cp "$2" "$work/reference"
  fi
  echo "$1: $(tail -n 1 "$2")"
}

cmake -S "$src/tests/consumer/cmake" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DROVAZ_EXPECTED_VERSION="$version" >"$work/cmake.log" 2>&1 &&
  cmake --build "$work/cmake" >>"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; exit 1; }
"$work/cmake/decode_stream" "$sample" >"$work/stream.out"
check "find_package, stream layer, shared" "$work/stream.out"
"$work/cmake/decode_frames_static" "$sample" >"$work/frames_static.out"
check "find_package, frame API, static" "$work/frames_static.out"

if ! command -v pkg-config >/dev/null; then
  echo "pkg-config not found: its consumer skipped"
  exit 77
fi
export PKG_CONFIG_PATH="$lib/pkgconfig"
got=$(pkg-config --modversion rovaz)
[ "$got" = "$version" ] || { echo "pkg-config --modversion rovaz: $got, expected $version"; exit 1; }
# shellcheck disable=SC2046
"$cc" -o "$work/decode_frames" "$src/tests/consumer/decode_frames.c" $(pkg-config --cflags --libs rovaz) \
  -Wl,-rpath,"$lib"
"$work/decode_frames" "$sample" >"$work/frames.out"
check "pkg-config, frame API, shared" "$work/frames.out"
