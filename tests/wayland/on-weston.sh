#!/usr/bin/env bash
# Runs a Wayland end-to-end test program as a client of a headless Weston of its own, with a
# private runtime folder, as a Wayland desktop session would have it. Listing the tests needs no
# compositor.
set -u
for argument in "$@"; do
  if [[ "$argument" == --gtest_list_tests ]]; then
    exec "$@"
  fi
done
runtime=$(mktemp -d)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR="$runtime"
export WAYLAND_DISPLAY=wayland-clipvault
export XDG_SESSION_TYPE=wayland
unset DISPLAY
weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --width=1280 --height=800 \
  --use-pixman --idle-time=0 >"$runtime/weston.log" 2>&1 &
weston=$!
for _ in $(seq 1 200); do
  [[ -S "$runtime/$WAYLAND_DISPLAY" ]] && break
  sleep 0.05
done
# A session bus of its own, as a desktop session has one (the tray's watcher is asked there).
dbus-run-session -- "$@"
status=$?
kill "$weston" 2>/dev/null
wait "$weston" 2>/dev/null
rm -rf "$runtime"
exit $status
