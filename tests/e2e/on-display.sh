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
exec xvfb-run -a -s "-screen 0 1280x800x24" "$here/with-openbox.sh" "$@"
