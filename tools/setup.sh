#!/usr/bin/env bash
# Installs what the project needs on a fresh Debian machine (run as root; idempotent).
set -euo pipefail
packages=(cmake g++ make ninja-build googletest libgtest-dev libgmock-dev libbenchmark-dev
          g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 wine wine32:i386 python3
          clang libclang-rt-14-dev libfuzzer-14-dev wixl msitools
          g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 wine64)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  [ "$(id -u)" = 0 ] || { echo "setup: need root to install: ${missing[*]}" >&2; exit 1; }
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi
