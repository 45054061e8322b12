#!/usr/bin/env bash
# End-to-end runs of the demo under a virtual X server, with SDL's disk audio
# driver standing in for a sound card.
#   e2e.sh <case> <demo harness> <morvane> <wm_close>
# Cases: picture, depth24, pause, close, ends, nodisplay, noaudio.
set -u

case_name=$1
harness=$2
demo=$3
wm_close=$4

work=$(mktemp -d /tmp/morvane_e2e.XXXXXX)
xvfb_pid=""
demo_pid=""

cleanup() {
  [ -n "$demo_pid" ] && kill -9 "$demo_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL ($case_name): $*" >&2
  if [ -s "$work/stderr" ]; then sed 's/^/  demo stderr: /' "$work/stderr" >&2; fi
  exit 1
}

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# Starts Xvfb with a screen of the given size on a free display number.
start_x() {
  Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  [ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  export DISPLAY=":$(head -n1 "$work/display")"
}

start_demo() {
  SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/audio.raw" "$@" >"$work/stdout" 2>"$work/stderr" &
  demo_pid=$!
}

# Waits for the demo's window; sets wid.
wait_window() {
  for _ in $(seq 1200); do  # the preparations run first
    wid=$(xdotool search --name '^Morvane$' 2>/dev/null | head -n1)
    [ -n "$wid" ] && return 0
    kill -0 "$demo_pid" 2>/dev/null || fail "the demo ended before its window appeared"
    sleep 0.1
  done
  fail "no window titled Morvane"
}

# Waits at most $1 ms for the demo to end; sets rc and elapsed.
wait_exit() {
  local start limit
  start=$(now_ms)
  limit=$1
  while kill -0 "$demo_pid" 2>/dev/null; do
    elapsed=$(( $(now_ms) - start ))
    [ "$elapsed" -gt "$limit" ] && fail "still running after ${limit} ms"
    sleep 0.02
  done
  elapsed=$(( $(now_ms) - start ))
  wait "$demo_pid"
  rc=$?
  demo_pid=""
}

pixel() {  # x y -> "r,g,b"
  convert "$work/shot.xwd" -crop "1x1+$1+$2" -depth 8 txt:- | tail -n1 | sed -E 's/.*\(([0-9]+),([0-9]+),([0-9]+).*/\1,\2,\3/'
}

# The 640 x 480 display is scaled to the screen with its aspect kept and
# centred; only the frame (display rows 80 to 399) is lit, in the test
# picture's colour; the bars and the rows above and below are black.
check_picture() {
  local w=$1 h=$2
  local got=""
  for _ in $(seq 50); do
    # The window may be replaced once while the renderer starts; try again.
    xwd -root -silent >"$work/shot.xwd" 2>/dev/null && got=$(pixel $((w / 2)) $((h / 2)))
    [ "$got" = "192,128,64" ] && break
    sleep 0.2
  done
  [ "$got" = "192,128,64" ] || fail "the middle of the screen shows $got, not the test picture"

  local expected
  expected=$(awk -v w="$w" -v h="$h" 'BEGIN {
    s = w / 640 < h / 480 ? w / 640 : h / 480
    x0 = (w - 640 * s) / 2; y0 = (h - 480 * s) / 2
    printf "%d %d %d %d", 640 * s, 320 * s, x0, y0 + 80 * s }')
  local box
  box=$(convert "$work/shot.xwd" -fuzz 0 -format '%@' info: | sed -E 's/[x+]/ /g')
  read -r ew eh ex ey <<<"$expected"
  read -r bw bh bx by <<<"$box"
  for pair in "$bw $ew" "$bh $eh" "$bx $ex" "$by $ey"; do
    read -r a b <<<"$pair"
    [ $(( a > b ? a - b : b - a )) -le 3 ] || fail "lit area ${bw}x${bh}+${bx}+${by}, expected ${ew}x${eh}+${ex}+${ey}"
  done
  [ "$(pixel 0 0)" = "0,0,0" ] && [ "$(pixel $((w - 1)) $((h - 1)))" = "0,0,0" ] || fail "the corners are not black"
}

# A checksum of the screen's pixels (the screenshot file's header varies).
screen_sum() {
  xwd -root -silent | convert xwd:- rgb:- | md5sum
}

escape_ends_with_zero() {
  xdotool key Escape
  wait_exit 1000
  [ "$rc" -eq 0 ] || fail "Escape ended the run with $rc"
  echo "Escape ended the run in ${elapsed} ms"
}

audio_not_silent() {
  local loud
  loud=$(tr -d '\000' <"$work/audio.raw" | wc -c)
  [ "$loud" -gt 20000 ] || fail "the audio written is silent ($loud non-zero bytes)"
}

case "$case_name" in
picture)
  start_x 1280x800  # wider than 4:3: bars left and right
  start_demo "$harness"
  wait_window
  check_picture 1280 800
  escape_ends_with_zero
  audio_not_silent
  ;;
depth24)
  start_x 1000x1000  # taller than 4:3: bars above and below
  start_demo "$harness" --depth24
  wait_window
  check_picture 1000 1000
  escape_ends_with_zero
  ;;
pause)
  # Holding P freezes the picture while the music plays on; releasing it
  # lets the picture move again.
  start_x 800x600
  start_demo "$harness"
  wait_window
  check_picture 800 600
  xdotool keydown p
  sleep 0.3
  screen_sum >"$work/frozen1"
  size1=$(stat -c %s "$work/audio.raw")
  sleep 0.7
  screen_sum >"$work/frozen2"
  size2=$(stat -c %s "$work/audio.raw")
  xdotool keyup p
  sleep 0.5
  screen_sum >"$work/moving"
  cmp -s "$work/frozen1" "$work/frozen2" || fail "the picture moved while P was held"
  held=$(tail -c +$((size1 + 1)) "$work/audio.raw" | head -c $((size2 - size1)) | tr -d '\000' | wc -c)
  [ "$held" -gt 10000 ] || fail "the music stopped while P was held ($held non-zero bytes)"
  cmp -s "$work/frozen2" "$work/moving" && fail "the picture stayed frozen after P was released"
  escape_ends_with_zero
  audio_not_silent
  ;;
close)
  start_x 800x600
  start_demo "$harness"
  wait_window
  check_picture 800 600
  wait_window  # the window's id once the picture shows
  "$wm_close" "$wid" || fail "the close request could not be sent"
  wait_exit 2000
  [ "$rc" -eq 0 ] || fail "a close request ended the run with $rc"
  ;;
ends)
  start_x 800x600
  start_demo "$harness" --short
  wait_exit 120000
  [ "$rc" -eq 0 ] || fail "the run ended with $rc"
  audio_not_silent
  ;;
nodisplay)
  env -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/audio.raw" \
    timeout 120 "$harness" >"$work/stdout" 2>"$work/stderr"
  rc=$?
  [ "$rc" -eq 255 ] || fail "exit code $rc, expected 255"
  grep -q "screen.open() failed" "$work/stderr" || fail "no \"screen.open() failed\" on standard error"
  ;;
noaudio)
  env -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=nosuch timeout 120 "$demo" >"$work/stdout" 2>"$work/stderr"
  rc=$?
  [ "$rc" -eq 255 ] || fail "exit code $rc, expected 255"
  grep -q "FSOUND_Init: .*nosuch" "$work/stderr" || fail "no reason on standard error"
  ;;
*)
  fail "unknown case"
  ;;
esac
echo "PASS ($case_name)"
