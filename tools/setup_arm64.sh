#!/usr/bin/env bash
# Installs what the 64-bit ARM cross-build needs: Debian's aarch64 cross
# compiler, qemu-user to run the results, and the arm64 builds of the
# libraries. This adds arm64 to the machine's package architectures, which
# is why only `make test-arm64` runs it, never plain `make test`.
# Quiet and quick when everything is already there.
set -euo pipefail

packages=(
  g++-aarch64-linux-gnu qemu-user
  libc6:arm64 libsdl2-dev:arm64 libopenmpt-dev:arm64 libpng-dev:arm64
  libgtest-dev:arm64 libbenchmark-dev:arm64 libfreetype-dev:arm64
  libavformat-dev:arm64 libavcodec-dev:arm64 libswscale-dev:arm64 libswresample-dev:arm64 libavutil-dev:arm64
)

source "$(dirname "$0")/apt_packages.sh"
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  echo "setup-arm64: adding the arm64 package architecture"
  as_root dpkg --add-architecture arm64
fi
install_missing setup-arm64 "${packages[@]}"
