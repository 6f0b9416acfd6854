#!/usr/bin/env bash
# Starts the desktop program as built under a virtual display and saves what a
# new user sees into docs/screenshots/: the splash, the main window with files
# listed, the confirmation dialog over the progress window, the progress window.
# Usage: scripts/screenshots.sh [build dir]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
cmake --build "$BUILD" -j2 --target desktop_screenshots velorun
mkdir -p docs/screenshots
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" "$BUILD/bin/desktop_screenshots" "$PWD/docs/screenshots"
