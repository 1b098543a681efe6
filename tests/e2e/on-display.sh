#!/usr/bin/env bash
# Runs an end-to-end test program on a display of its own: a new Xvfb with openbox as its window
# manager, as a desktop session would have one. Listing the tests needs no display.
set -u
for argument in "$@"; do
  if [[ "$argument" == --gtest_list_tests ]]; then
    exec "$@"
  fi
done
here=$(cd "$(dirname "$0")" && pwd)
# The display is X11's, whatever session the tests were started from.
unset WAYLAND_DISPLAY
export XDG_SESSION_TYPE=x11
exec xvfb-run -a -s "-screen 0 1280x800x24" "$here/with-openbox.sh" "$@"
