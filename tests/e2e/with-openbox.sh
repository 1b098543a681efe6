#!/usr/bin/env bash
# Runs a command on the current X display with openbox as its window manager, as a desktop
# session would have one (window states, _NET_ACTIVE_WINDOW). The command starts only once the
# window manager has taken the display, however long a loaded machine makes that take; an
# openbox that ends before it took the display is started again.
set -u
wm=0
ready=0
for _ in $(seq 600); do
  if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
    ready=1
    break
  fi
  if ((wm == 0)) || ! kill -0 "$wm" 2>/dev/null; then
    openbox --sm-disable >/dev/null 2>&1 &
    wm=$!
  fi
  sleep 0.1
done
if ((ready == 0)); then
  echo "with-openbox.sh: openbox did not take the display within a minute" >&2
  kill "$wm" 2>/dev/null
  exit 1
fi
"$@"
status=$?
kill "$wm" 2>/dev/null
wait "$wm" 2>/dev/null
exit "$status"
