#!/usr/bin/env bash
# Stops what start-pulse.sh DIR started, by the pids it recorded.
set -uo pipefail

dir=${1:?usage: stop-pulse.sh DIR}

# stop PIDFILE NAME: ends that process if it still is the one we started.
stop() {
    [ -f "$1" ] || return 0
    local pid
    pid=$(cat "$1")
    rm -f "$1"
    # A pid taken over by another program is left alone.
    [ -n "$pid" ] && [ "$(cat /proc/"$pid"/comm 2>/dev/null)" = "$2" ] || return 0
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do
        # Gone, or a zombie waiting for whoever adopted it to reap it.
        case $(cut -d' ' -f3 /proc/"$pid"/stat 2>/dev/null) in '' | Z) return 0 ;; esac
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null
}

stop "$dir/keep-awake.pid" pacat
stop "$dir/pid" pulseaudio
exit 0
