# What the scripts here share, sourced by them: openbox on the current X display, the
# program's window and its frame. A wait lasts until what it waits for happens or the process
# it waits on has ended: on a loaded machine everything comes later, and only the test's own
# time-out says when it is too late.

# Starts openbox and waits until it manages windows; its process is `manager`.
start_window_manager() {
  openbox --sm-disable >/dev/null 2>&1 &
  manager=$!
  until wmctrl -m >/dev/null 2>&1; do
    kill -0 "$manager" 2>/dev/null || return
    sleep 0.05
  done
}

is_maximized() {
  xprop -id "$window" _NET_WM_STATE 2>/dev/null | grep -q _NET_WM_STATE_MAXIMIZED_VERT \
    && xprop -id "$window" _NET_WM_STATE 2>/dev/null | grep -q _NET_WM_STATE_MAXIMIZED_HORZ
}

# Waits for the program's window ("Corvane") until it is maximised; its id is `window`, empty
# when the program ended first.
find_maximized_window() {
  window=
  while kill -0 "$program" 2>/dev/null; do
    window=$(xdotool search --onlyvisible --name '^Corvane$' 2>/dev/null | head -1)
    [ -n "$window" ] && is_maximized && return
    sleep 0.05
  done
  window=
}

# Waits until the command holds; fails when the program ends first.
wait_for() {
  until "$@"; do
    kill -0 "$program" 2>/dev/null || return 1
    sleep 0.05
  done
}

# The frame the window manager gave the window, title bar and borders included:
# "WIDTHxHEIGHT+X+Y".
frame() {
  local parent
  parent=$(xwininfo -tree -id "$window" | sed -n 's/.*Parent window id: \(0x[0-9a-f]*\).*/\1/p')
  xwininfo -id "$parent" | awk '
    /Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 }
    /Width/ { w = $2 } /Height/ { h = $2 }
    END { printf "%dx%d+%d+%d", w, h, x, y }'
}

# Ends the program, then the other processes given, at most 5 s before the program is killed.
stop_all() {
  kill "$program" "$@" 2>/dev/null
  for _ in $(seq 100); do
    kill -0 "$program" 2>/dev/null || return 0
    sleep 0.05
  done
  kill -9 "$program" 2>/dev/null
}
