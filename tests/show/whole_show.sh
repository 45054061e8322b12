#!/usr/bin/env bash
# The whole show drawn offline by the sanitizer build of the renderer at one
# frame rate, with its sound: any out-of-bounds access or undefined
# behaviour in any scene, at any frame time, ends the run with a report.
#
#   whole_show.sh RENDERER FPS
set -euo pipefail
render=$1 fps=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
start=$SECONDS
if ! "$render" --fps "$fps" --wav "$tmp/show.wav" >"$tmp/out" 2>"$tmp/err"; then
  cat "$tmp/err" >&2
  echo "FAIL: the renderer failed at $fps frames per second" >&2
  exit 1
fi
if grep -qE 'runtime error|AddressSanitizer|LeakSanitizer' "$tmp/err"; then
  cat "$tmp/err" >&2
  echo "FAIL: sanitizer reports at $fps frames per second" >&2
  exit 1
fi
# 168.81 s of 16-bit stereo at 44,100 Hz after the 44-byte header.
size=$(stat -c %s "$tmp/show.wav")
[ "$size" -eq $((44 + 7444521 * 4)) ] || { echo "FAIL: the sound is $size bytes long" >&2; exit 1; }
echo "the whole show at $fps frames per second: no reports, $((SECONDS - start)) s"
