#!/usr/bin/env bash
# The program as built, on a real X server: a close request to the splash
# window, as a window manager sends it, is ignored; the main window still opens
# three seconds after the start, and a close request to it ends the process.
# Usage: splash-close.sh VELORUN
set -euo pipefail
velorun=${1:?usage: splash-close.sh VELORUN}
xwindows=$(dirname "$0")/x-windows.py
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
fail() {
    echo "splash-close: $1; on show: $("$xwindows" list | tr '\n' '|')" >&2
    cat "$work/velorun.log" >&2
    exit 1
}
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
within() {  # MS COMMAND...: polls until the command succeeds
    local until=$(( $(now_ms) + $1 )); shift
    until "$@"; do (( $(now_ms) < until )) || return 1; sleep 0.05; done
}
shown() { "$xwindows" list | grep -qxF "$1"; }
hidden() { ! shown "$1"; }
ended() { ! kill -0 "$app" 2>/dev/null; }

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
within 10000 test -s "$work/display" || fail "no X server"
export DISPLAY=":$(cat "$work/display")"
unset QT_QPA_PLATFORM

started=$(now_ms)
"$velorun" 2>"$work/velorun.log" &
app=$!
within 3000 shown "Ostrelco Velorizer" || fail "no splash window titled \"Ostrelco Velorizer\""
"$xwindows" close "Ostrelco Velorizer"
sleep 0.5
shown "Ostrelco Velorizer" || fail "the splash window went at the close request"
within 6000 shown "Ostrelco Velorizer 2.2" || fail "no main window"
opened=$(( $(now_ms) - started ))
(( opened >= 2900 )) || fail "the main window opened after $opened ms"
within 3000 hidden "Ostrelco Velorizer" || fail "the splash window stayed"
"$xwindows" close "Ostrelco Velorizer 2.2"
within 5000 ended || fail "the program runs on after its main window closed"
wait "$app" || fail "the program ended with status $?"
echo "splash-close: main window after $opened ms, program ended with status 0"
