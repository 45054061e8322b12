#!/usr/bin/env bash
# The WebAssembly build draws the renderer's frames byte for byte: stills
# from it under node, at times in every scene, against morvane-render's.
#
#   same_stills.sh NATIVE_RENDER MORVANE_JS
set -euo pipefail
native=$1 wasm=$2
here=$(dirname "$0")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# One time in every scene, two in the first, and the last scene's fade.
times=(2 27 40 60 80 100 115 135 150 165)
at=()
for t in "${times[@]}"; do at+=(--at "$t"); done

"$native" "${at[@]}" --out "$tmp/native" >/dev/null
node "$here/write_stills.cjs" "$wasm" "$tmp/wasm" "${times[@]}"
status=0
for f in "$tmp"/native/*.png; do
  name=$(basename "$f" .png)
  convert "$f" -depth 8 "rgb:$tmp/native/$name.rgb"
  if [ ! -f "$tmp/wasm/$name.rgb" ]; then
    echo "FAIL: the WebAssembly build wrote no $name" >&2
    status=1
  elif ! cmp -s "$tmp/native/$name.rgb" "$tmp/wasm/$name.rgb"; then
    echo "FAIL: $name differs between the WebAssembly build and the native renderer" >&2
    status=1
  fi
done
[ "$(ls "$tmp"/native/*.png | wc -l)" -eq "${#times[@]}" ] || { echo "FAIL: the native renderer wrote too few stills" >&2; status=1; }
[ $status -ne 0 ] || echo "${#times[@]} stills identical"
exit $status
