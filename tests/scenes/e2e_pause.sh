#!/usr/bin/env bash
# The real show under a virtual X server, with SDL's disk audio driver in
# place of a sound card: while the helix tunnel moves, holding P freezes the
# picture and the music goes on; letting go makes the picture move again.
#   e2e_pause.sh <morvane>
set -u

demo=$1
work=$(mktemp -d /tmp/morvane_pause.XXXXXX)
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
  echo "FAIL: $*" >&2
  [ -s "$work/stderr" ] && sed 's/^/  demo stderr: /' "$work/stderr" >&2
  exit 1
}

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n1 "$work/display")"

SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/audio.raw" "$demo" >"$work/stdout" 2>"$work/stderr" &
demo_pid=$!

wid=""
for _ in $(seq 1200); do  # the preparations run before the window opens
  wid=$(xdotool search --name '^Morvane$' 2>/dev/null | head -n1)
  [ -n "$wid" ] && break
  kill -0 "$demo_pid" 2>/dev/null || fail "the demo ended before its window appeared"
  sleep 0.1
done
[ -n "$wid" ] || fail "no window titled Morvane"

# A checksum of the screen's pixels.
screen_sum() {
  xwd -root -silent | convert xwd:- rgb:- | md5sum
}
audio_bytes() {
  stat -c %s "$work/audio.raw" 2>/dev/null || echo 0
}

# The show starts 2 s after the window; the tunnel is drawn from 4.27 s on.
sleep 8
kill -0 "$demo_pid" 2>/dev/null || fail "the demo ended early"
before=$(screen_sum)
sleep 0.3
[ "$(screen_sum)" != "$before" ] || fail "the opening scene does not move before P is pressed"

xdotool keydown p
sleep 0.4
frozen1=$(screen_sum)
audio1=$(audio_bytes)
sleep 0.8
frozen2=$(screen_sum)
audio2=$(audio_bytes)
xdotool keyup p
sleep 0.5
moving=$(screen_sum)

[ "$frozen1" = "$frozen2" ] || fail "the picture moved while P was held"
[ "$audio2" -gt "$audio1" ] || fail "the music stopped while P was held ($audio1 then $audio2 bytes)"
[ "$moving" != "$frozen2" ] || fail "the picture stayed frozen after P was released"

echo "PASS: P froze the picture while the music went on"
