#!/usr/bin/env bash
# Runs a command on the current X display with openbox as its window manager, as a desktop
# session would have one (window states, _NET_ACTIVE_WINDOW).
set -u
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
for _ in $(seq 50); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
"$@"
status=$?
kill "$wm" 2>/dev/null
wait "$wm" 2>/dev/null
exit "$status"
