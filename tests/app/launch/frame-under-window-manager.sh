#!/usr/bin/env bash
# Runs PROGRAM ARGUMENTS... under openbox on the current X display and prints the frame the
# window manager gave its window once it is maximised: "frame WIDTHxHEIGHT+X+Y", the title
# bar and borders included; nothing when the program ends first.
set -u
. "$(dirname "$0")/window-manager.sh"
start_window_manager
"$@" >/dev/null 2>&1 &
program=$!
find_maximized_window
if [ -n "$window" ]; then
  echo "frame $(frame)"
fi
stop_all "$manager"
