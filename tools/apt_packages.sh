# Sourced by the set-up scripts: install_missing NAME PACKAGE... installs
# the Debian packages that are not installed yet, with sudo when not root,
# and says nothing when all are there.
install_missing() {
  local name=$1 p sudo=""
  shift
  local missing=()
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "$name: need root or sudo to install: ${missing[*]}" >&2
      return 1
    fi
    sudo="sudo"
  fi
  echo "$name: installing ${missing[*]}"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The command that runs as root: "sudo" for others, nothing for root.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
