#!/usr/bin/env bash
# Starts the desktop program as built under a virtual display with a window
# manager, and saves what a new user sees into docs/screenshots/: the splash,
# the main window with files listed, the confirmation dialog over the progress
# window, a question about a long path, the progress window and the closing
# message, and a file's tooltip; then the splash and the main window on
# screens scaled by 1.5 and 2, and at 2 on a screen smaller than the window.
# Usage: scripts/screenshots.sh [build dir]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
cmake --build "$BUILD" -j2 --target desktop_screenshots velorun
mkdir -p docs/screenshots
# The pictures' runs are journalled like any other; keep those journals out of
# the user's own list of runs.
state=$(mktemp -d)
trap 'rm -rf "$state"' EXIT
export XDG_STATE_HOME=$state

# shoot SCALE SCREEN [PREFIX]
shoot() {
    QT_SCALE_FACTOR=$1 xvfb-run -a -s "-screen 0 $2 -dpi 96" bash -c '
        openbox --sm-disable >/dev/null 2>&1 &
        wm=$!
        sleep 1
        status=0
        "$@" || status=$?
        kill $wm
        exit $status' shoot "$BUILD/bin/desktop_screenshots" "$PWD/docs/screenshots" ${3:+"$3"}
}
shoot 1 1024x768x24
shoot 1.5 1600x1200x24 scale-1.5
shoot 2 2048x1536x24 scale-2
# A laptop's 1280 x 800 at scale 2 holds fewer lines than the window needs.
shoot 2 1280x800x24 scale-2-small-screen
