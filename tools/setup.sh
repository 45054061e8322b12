#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Quiet and quick when everything is already there.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config make
  libsdl2-dev libopenmpt-dev libfreetype-dev libpng-dev
  libgtest-dev libbenchmark-dev libsimde-dev fonts-dejavu-core
  help2man dpkg-dev lintian desktop-file-utils man-db groff-base
  xvfb xauth xdotool x11-apps imagemagick sox libx11-dev openmpt123
  libebur128-dev
  emscripten chromium
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
# The page's packages come from npm; Debian's npm where node has none of its own.
command -v npm >/dev/null || missing+=(npm)
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "setup: need root or sudo to install: ${missing[*]}" >&2
    exit 1
  fi
  sudo="sudo"
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
