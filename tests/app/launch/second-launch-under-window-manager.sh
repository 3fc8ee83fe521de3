#!/usr/bin/env bash
# Runs PROGRAM ARGUMENTS... under openbox on the current X display and starts it again, as the
# browser's sign-in return or the desktop's launcher would, from each state the window can be
# in: maximised behind another window, minimised while maximised, and minimised while not
# maximised. After the first start and after each second one it prints a line
#   "STEP maximized=0|1 hidden=0|1 active=0|1 raised=0|1 frame=WIDTHxHEIGHT+X+Y"
# (hidden: minimised; active: the window manager's active window; raised: above the other
# windows; frame: the title bar and borders included). Each step waits for what it needs, as
# long as it takes: the test's time-out bounds the whole.
set -u
. "$(dirname "$0")/window-manager.sh"
start_window_manager
others=()
"$@" >/dev/null 2>&1 &
program=$!

has_state() { xprop -id "$window" _NET_WM_STATE 2>/dev/null | grep -q "$1"; }
is_active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$window" ]; }
other_is_active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$other" ]; }
is_normal() { ! is_maximized; }
is_raised() {
  [ "$(xprop -root _NET_CLIENT_LIST_STACKING | awk '{ print $NF }')" = "$(printf '0x%x' "$window")" ]
}
flag() { if "$@"; then echo 1; else echo 0; fi; }
state() {
  echo "maximized=$(flag is_maximized) hidden=$(flag has_state _NET_WM_STATE_HIDDEN)" \
    "active=$(flag is_active) raised=$(flag is_raised) frame=$(frame)"
}
# Reports the window's state once it has held for 0.3 s (the window manager animates a
# window going to and coming from the task bar).
report() {
  local last now held=0
  last=$(state)
  while [ "$held" -lt 3 ]; do
    sleep 0.1
    now=$(state)
    if [ "$now" = "$last" ]; then
      held=$((held + 1))
    else
      held=0
      last=$now
    fi
  done
  echo "$1 $now"
}
# Starts the program again, as a user would, and waits until its window is active again:
# whatever else the hand-over asks of the window manager comes before that.
launch_again() {
  "$@" >/dev/null 2>&1
  wait_for is_active
}
finish() {
  stop_all "${others[@]}" "$manager"
  exit 0
}

find_maximized_window
[ -n "$window" ] || finish
wait_for is_active
report opened

# Another window over it takes the keyboard; the sign-in's return comes back.
xmessage -name other -geometry 400x200+100+100 "another window" >/dev/null 2>&1 &
others+=($!)
other=
while [ -z "$other" ] && kill -0 "${others[0]}" 2>/dev/null; do
  other=$(xdotool search --onlyvisible --name '^other$' 2>/dev/null | head -1)
  [ -n "$other" ] || sleep 0.05
done
xdotool windowactivate --sync "$other" >/dev/null 2>&1
wait_for other_is_active
report covered
launch_again "$@" "lumora://auth/callback?state=handed-over"
report handed-over

# Minimised while maximised, then started again.
xdotool windowminimize --sync "$window" >/dev/null 2>&1
wait_for has_state _NET_WM_STATE_HIDDEN
report minimised
launch_again "$@"
report from-minimised

# Minimised while not maximised, then started again.
wmctrl -i -r "$window" -b remove,maximized_vert,maximized_horz
wait_for is_normal
report restored
xdotool windowminimize --sync "$window" >/dev/null 2>&1
wait_for has_state _NET_WM_STATE_HIDDEN
launch_again "$@"
report restored-from-minimised
finish
