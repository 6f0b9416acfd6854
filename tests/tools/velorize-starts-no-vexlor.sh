#!/bin/sh
# velorize starts no Vexlor: walking a folder and tagging it, it opens no
# VXCLIENT.INI (one lies beside it, asking for every log), writes no log and
# sends a listening monitor not one line.
# Usage: velorize-starts-no-vexlor.sh VELORIZE VEXLOR_MONITOR
set -u
velorize=$1 monitor=$2
command -v strace >/dev/null || { echo "strace is not installed (scripts/install-deps test)"; exit 77; }
dir=$(mktemp -d) || exit 1
trap 'kill "$mpid" 2>/dev/null; rm -rf "$dir"' EXIT
mkdir -p "$dir/bin" "$dir/loops/sub" "$dir/run"
chmod 700 "$dir/run"
cp "$velorize" "$dir/bin/velorize"
printf '[preferences]\r\nCircularLog=1\r\n[log file]\r\nWrite To Disk=1\r\nCapture To Disk=1\r\n' >"$dir/bin/VXCLIENT.INI"
sox -n -r 8000 -b 16 -c 1 "$dir/loops/sub/a.wav" trim 0 0.5 || exit 1
strace -o /dev/null true 2>/dev/null || { echo "this machine allows no tracing"; exit 77; }

export XDG_RUNTIME_DIR="$dir/run" XDG_STATE_HOME="$dir/state"
"$monitor" >"$dir/monitor.out" 2>"$dir/monitor.err" </dev/null &
mpid=$!
for _ in $(seq 50); do ls "$dir/run/vexlor" 2>/dev/null | grep -q . && break; sleep 0.1; done
ls "$dir/run/vexlor" 2>/dev/null | grep -q . || { echo "the monitor did not start:"; cat "$dir/monitor.err"; exit 1; }

status=0
# Under a sanitizer build: LeakSanitizer can't run under ptrace.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
strace -f -qq -e trace=%file,connect -o "$dir/trace" "$dir/bin/velorize" --loop 4 --yes-to-all "$dir/loops" || status=$?
[ $status -eq 0 ] || { echo "velorize failed ($status)"; exit 1; }
sndfile-info "$dir/loops/sub/a.wav" | grep -q acid || { echo "the file was not tagged"; exit 1; }
sleep 0.3  # a line sent would be printed by now
fail=0
if grep -i 'vxclient' "$dir/trace"; then echo "velorize looked for VXCLIENT.INI"; fail=1; fi
if grep 'connect(' "$dir/trace" | grep -v /nscd/; then echo "velorize connected to something"; fail=1; fi
if [ -s "$dir/monitor.out" ]; then echo "the monitor heard velorize:"; cat "$dir/monitor.out"; fail=1; fi
ls "$dir/bin" | grep -v -x -e velorize -e VXCLIENT.INI && { echo "velorize wrote beside itself"; fail=1; }
[ $fail -eq 0 ] && echo "velorize opened no VXCLIENT.INI, wrote no log, sent the monitor nothing"
exit $fail
