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
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  emscripten chromium
)

source "$(dirname "$0")/apt_packages.sh"
install_missing setup "${packages[@]}"
# The page's packages come from npm; Debian's npm where node has none of its own.
command -v npm >/dev/null || install_missing setup npm
