#!/bin/bash
# Runs a command on a screen of its own, as a user's desk has one: a fresh Xvfb at 1920x1080 under
# openbox, started once openbox manages it; both end with the command, whose status this returns.
#   tools/x-session.sh build/bench/teskmanager_bench --x
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARG...]" >&2; exit 2; }
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
trap 'exit 143' TERM INT HUP

Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(head -n 1 "$work/display")

# Now and then openbox gives up at once on a display that has just come up.
wm=
for _ in $(seq 200); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
    if [ -z "$wm" ] || ! kill -0 "$wm" 2>/dev/null; then
        openbox --sm-disable >/dev/null 2>&1 &
        wm=$!
        pids+=("$wm")
    fi
    sleep 0.05
done
xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id" || { echo "openbox did not start" >&2; exit 1; }

status=0
"$@" || status=$?
exit "$status"
