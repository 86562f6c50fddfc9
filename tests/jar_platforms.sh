#!/bin/sh
# The jar's JNI libraries: each of the machine type its folder names, and
# exporting every JNI method that this machine's library exports.
#   jar_platforms.sh JAR   (exit 77: the jar holds this machine's library only)
set -eu
jar=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
unzip -q "$jar" 'native/*'
[ "$(find native -type f | wc -l)" -gt 1 ] || { echo "only $(ls native) in the jar"; exit 77; }
want=$(objdump -T native/linux-x86_64/librovaz.so | grep -o 'Java_[A-Za-z0-9_]*' | sort -u)
[ -n "$want" ] || { echo "linux-x86_64: no JNI exports"; exit 1; }
status=0
check() {  # check PLATFORM FILE FORMAT OBJDUMP EXPORTS_FLAG
  [ -f "$2" ] || { echo "$1: missing ($2)"; status=1; return; }
  format=$($4 -f "$2" | sed -n 's/.*file format //p')
  [ "$format" = "$3" ] || { echo "$1: file format $format, not $3"; status=1; }
  got=$($4 "$5" "$2" | grep -o 'Java_[A-Za-z0-9_]*' | sort -u)
  [ "$got" = "$want" ] || { echo "$1: JNI exports differ from linux-x86_64's"; status=1; }
  echo "$1: $format, $(echo "$got" | wc -l) JNI methods"
}
check linux-x86_64 native/linux-x86_64/librovaz.so elf64-x86-64 objdump -T
check linux-aarch64 native/linux-aarch64/librovaz.so elf64-littleaarch64 aarch64-linux-gnu-objdump -T
check windows-x86_64 native/windows-x86_64/rovaz.dll pei-x86-64 x86_64-w64-mingw32-objdump -p
exit $status
