#!/usr/bin/env bash
# Runs PROGRAM ARGUMENTS... under openbox on the current X display and prints the frame the
# window manager gave its window once it is maximised (or, failing that, after 10 s):
# "frame WIDTHxHEIGHT+X+Y", the title bar and borders included. Every wait is bounded.
set -u
openbox --sm-disable >/dev/null 2>&1 &
manager=$!
for _ in $(seq 200); do
  wmctrl -m >/dev/null 2>&1 && break
  sleep 0.05
done
"$@" >/dev/null 2>&1 &
program=$!
window=
for _ in $(seq 200); do
  window=$(xdotool search --onlyvisible --name '^Corvane$' 2>/dev/null | head -1)
  if [ -n "$window" ] && xprop -id "$window" _NET_WM_STATE | grep -q _NET_WM_STATE_MAXIMIZED_VERT; then
    break
  fi
  sleep 0.05
done
if [ -n "$window" ]; then
  frame=$(xwininfo -tree -id "$window" | sed -n 's/.*Parent window id: \(0x[0-9a-f]*\).*/\1/p')
  xwininfo -id "$frame" | awk '
    /Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 }
    /Width/ { w = $2 } /Height/ { h = $2 }
    END { printf "frame %dx%d+%d+%d\n", w, h, x, y }'
fi
kill "$program" "$manager" 2>/dev/null
for _ in $(seq 100); do
  kill -0 "$program" 2>/dev/null || exit 0
  sleep 0.05
done
kill -9 "$program" 2>/dev/null
