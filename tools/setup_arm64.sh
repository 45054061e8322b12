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

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "setup-arm64: need root or sudo to add the arm64 architecture and install packages" >&2
    exit 1
  fi
  sudo="sudo"
fi

update=false
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  echo "setup-arm64: adding the arm64 package architecture"
  $sudo dpkg --add-architecture arm64
  update=true
fi
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "setup-arm64: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
