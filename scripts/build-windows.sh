#!/usr/bin/env bash
# Installs what is missing (the mingw-w64 cross-compiler and Wine), and builds the Windows programs,
# statically linked: build-windows/nes.exe and build-windows/nes-headless.exe.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install-deps.sh" g++-mingw-w64-x86-64 wine64
bash "$root/scripts/build.sh" "$root/build-windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release
