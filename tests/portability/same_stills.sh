#!/usr/bin/env bash
# The same times give the same pictures on every machine: stills drawn by
# the cross-built renderer (under its emulator) are byte-identical to those
# of the native one, at times in every scene of the show.
#
#   same_stills.sh "EMULATOR" CROSS_RENDER NATIVE_RENDER
set -euo pipefail
emulator=$1 cross=$2 native=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# One time in every scene, and two in the first and the last. A low frame
# rate keeps the emulated run short; the stepping is the same at any rate.
times=(2 27 40 60 80 100 115 135 150)
args=(--fps 15 --out)
at=()
for t in "${times[@]}"; do at+=(--at "$t"); done

$emulator "$cross" "${at[@]}" "${args[@]}" "$tmp/cross" >/dev/null
"$native" "${at[@]}" "${args[@]}" "$tmp/native" >/dev/null
status=0
for f in "$tmp"/native/*.png; do
  name=$(basename "$f")
  if ! cmp -s "$f" "$tmp/cross/$name"; then
    echo "FAIL: $name differs between the cross-built and the native renderer" >&2
    status=1
  fi
done
[ "$(ls "$tmp/cross" | wc -l)" -eq "${#times[@]}" ] || { echo "FAIL: the cross-built renderer wrote $(ls "$tmp/cross" | wc -l) stills, not ${#times[@]}" >&2; status=1; }
[ $status -ne 0 ] || echo "${#times[@]} stills identical"
exit $status
