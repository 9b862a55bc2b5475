#!/usr/bin/env bash
# One unattended run of the installed program in a real X server: it opens a socat pty pair and
# connects to a socat echo server on 127.0.0.1 by itself, sends on both periodically, and is
# left alone while the pty pair is recreated and the server restarted; then its logs must show
# each loss and return, traffic after both, and the run must have ended on time with status 0.
# It runs on the screen that DISPLAY names: tools/x-session.sh makes one.
set -euo pipefail
program=${TESKMANAGER:-/usr/bin/teskmanager}
work=$(mktemp -d)
pids=()
cleanup() {
    kill "${pids[@]}" 2>/dev/null || true
    pkill -f "tcp-listen:$port" 2>/dev/null || true
    [ "${E2E_KEEP:-0}" = 1 ] || rm -rf "$work"
}
trap cleanup EXIT
port=$((20000 + RANDOM % 20000))

pty_pair() {
    socat pty,raw,echo=0,link="$work/ttyDUT" pty,raw,echo=0,link="$work/ttyDEV" &
    pty_pid=$!
    pids+=("$pty_pid")
}
echo_server() {
    socat "tcp-listen:$port,bind=127.0.0.1,reuseaddr,fork" exec:cat &
    pids+=($!)
}
pty_pair
echo_server
for _ in $(seq 50); do [ -e "$work/ttyDUT" ] && break; sleep 0.1; done

(cd "$work" && HOME="$work" "$program" --serial-port "$work/ttyDUT" --open \
    --host 127.0.0.1 --port "$port" --connect 1 \
    --command serial=AT --every serial=300 --command 1=PING --every 1=300 \
    --reconnect --timestamps log --log-dir "$work/logs" --keep-logs --quit-after 25s \
    >"$work/program.out" 2>&1) &
program_pid=$!

sleep 6
kill "$pty_pid"
sleep 2
pty_pair
sleep 5
pkill -f "tcp-listen:$port"
sleep 2
echo_server
status=0
wait "$program_pid" || status=$?

serial=$(ls "$work"/logs/*-serial.txt)
network=$(ls "$work"/logs/*-network1.txt)
ok=1
expect() {
    if ! grep -q -E "$2" "$1"; then
        echo "unattended: $(basename "$1") lacks /$2/"
        ok=0
    fi
}
stamp='^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} '
for log in "$serial" "$network"; do
    expect "$log" "${stamp}--- link lost: .+ ---$"
    expect "$log" "${stamp}--- link back ---$"
done
# Traffic goes on after each return.
grep -A3 -- "--- link back ---" "$serial" | grep -q " TX AT$" || { echo "unattended: no AT after the device came back"; ok=0; }
grep -A3 -- "--- link back ---" "$network" | grep -q " RX PING$" || { echo "unattended: no PING echoed after the server came back"; ok=0; }
[ "$status" -eq 0 ] || { echo "unattended: exit status $status"; ok=0; }
[ -s "$work/demosettings.ini" ] || { echo "unattended: settings not saved"; ok=0; }
[ "$ok" = 1 ] || { cat "$work/program.out"; exit 1; }
