#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the window program need, and any further
# packages named as arguments, only when one is missing. Runs `apt-get update` at most once.
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config libgtest-dev libbenchmark-dev
          libpng-dev libsdl2-dev libtomlplusplus-dev cc65 xvfb xdotool x11-utils imagemagick openbox "$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
