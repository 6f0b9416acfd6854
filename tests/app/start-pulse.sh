#!/usr/bin/env bash
# Starts a private PulseAudio server with one null sink, for the player tests.
# Usage: start-pulse.sh DIR
# Everything the server keeps (runtime files, cookie, log, pids) stays in DIR;
# clients reach it with PULSE_SERVER=unix:DIR/native and
# PULSE_COOKIE=DIR/home/.config/pulse/cookie. No sound card, display or session
# bus is needed. Stop it with stop-pulse.sh DIR.
set -euo pipefail

dir=${1:?usage: start-pulse.sh DIR}
here=$(cd "$(dirname "$0")" && pwd)

# A server left over from an interrupted run of ours goes first.
"$here/stop-pulse.sh" "$dir"

mkdir -p "$dir/runtime" "$dir/home"
chmod 700 "$dir/runtime"

# The server runs in its own session with its output in a log file, so that
# CTest does not wait on our pipes and the server outlives this script. As root
# it warns that it is not meant for root, and goes on.
env XDG_RUNTIME_DIR="$dir/runtime" PULSE_RUNTIME_PATH="$dir/runtime" \
    HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/.config" PULSE_STATE_PATH="$dir/home/state" \
    setsid pulseaudio -n --daemonize=no --exit-idle-time=-1 --system=false \
        --disallow-exit --use-pid-file=no \
        -L "module-null-sink sink_name=velorizer_null" \
        -L "module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
        --log-target=stderr </dev/null >"$dir/pulse.log" 2>&1 &
echo $! >"$dir/pid"

# Our own clients use the server's cookie, not one made in the real home.
export PULSE_SERVER="unix:$dir/native" PULSE_COOKIE="$dir/home/.config/pulse/cookie"

fail() {
    echo "start-pulse: $1:" >&2
    cat "$dir/pulse.log" >&2
    "$here/stop-pulse.sh" "$dir"
    exit 1
}

# Ready once a client gets an answer on the socket.
ready=no
for _ in $(seq 100); do
    if pactl info >/dev/null 2>&1; then ready=yes; break; fi
    kill -0 "$(cat "$dir/pid")" 2>/dev/null || fail "pulseaudio exited"
    sleep 0.1
done
[ "$ready" = yes ] || fail "no answer from pulseaudio within 10 s"

# A null sink with no stream renders seconds ahead, so a new stream would wait
# that long for its first sample to be taken. A silent low-latency stream keeps
# the sink's clock close; a suspend and resume restarts it at that latency.
setsid pacat --raw --latency-msec=10 --stream-name=keep-awake /dev/zero </dev/null >>"$dir/pulse.log" 2>&1 &
echo $! >"$dir/keep-awake.pid"
ready=no
for _ in $(seq 50); do
    if pactl list sink-inputs 2>/dev/null | grep -q 'media.name = "keep-awake"'; then ready=yes; break; fi
    sleep 0.1
done
[ "$ready" = yes ] || fail "the keep-awake stream did not connect"
pactl suspend-sink velorizer_null 1 && pactl suspend-sink velorizer_null 0 || fail "could not restart the sink"

echo "start-pulse: server $(cat "$dir/pid") ready on $PULSE_SERVER"
