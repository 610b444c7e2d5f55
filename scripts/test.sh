#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the optimised build runs the whole suite,
# then a build with AddressSanitizer and UndefinedBehaviorSanitizer runs it again (all but the
# window tests and the long runs, labelled no_sanitize). The Windows programs are cross-compiled
# into build-windows/ and tested under Wine with the optimised build.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/install-deps.sh

echo "== optimised build"
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
echo "== Windows build (checked under Wine by the optimised build's tests)"
bash scripts/build-windows.sh
ctest --test-dir build --output-on-failure -j "$(nproc)"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNES_SANITIZE=ON
ctest --test-dir build-asan --output-on-failure -j "$(nproc)" -LE no_sanitize
