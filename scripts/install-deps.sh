#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, if missing.
set -euo pipefail
packages=(g++ cmake make pkg-config libgtest-dev default-jdk-headless junit4 lame twolame sox
          libmpg123-dev libmad0-dev libavcodec-dev valgrind clang libclang-rt-14-dev googletest
          g++-aarch64-linux-gnu qemu-user g++-mingw-w64-x86-64 wine64 unzip binutils)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# A JDK already on the machine serves as well as Debian's default one.
if command -v javac >/dev/null 2>&1; then
  missing=("${missing[@]/default-jdk-headless}")
fi
missing=($(printf '%s\n' "${missing[@]}" | grep -v '^$' || true))
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
