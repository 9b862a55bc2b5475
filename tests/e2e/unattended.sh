#!/usr/bin/env bash
# One unattended run of the installed program in a real X server: it opens one end of a socat pty
# pair and connects to a server on 127.0.0.1 by itself, sends on both every 100 ms, and is left
# alone while the pty pair is recreated and the server restarted. tests/e2e/peers.py plays the
# device on the other end of the pair and the server, and counts every line they get: at the end
# each must have got as many lines as its channel's log shows sent, and answered as many as it
# shows received. The logs must show one loss and one return each and traffic after it, and the
# run must end on time with status 0 and its settings saved. Each step waits for what it needs,
# within a bound that fails the run when it passes; what the run started it stops by its PID.
# It runs on the screen that DISPLAY names: tools/x-session.sh makes one.
#   TESKMANAGER=build/teskmanager   the program to run (default /usr/bin/teskmanager)
#   UNATTENDED_SECONDS=120          the length of the run (default 25, at least 20)
#   E2E_KEEP=1                      keeps the folder of the run (it is kept when a check fails)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=${TESKMANAGER:-/usr/bin/teskmanager}
seconds=${UNATTENDED_SECONDS:-25}
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds < 20)); then
    echo "unattended: UNATTENDED_SECONDS must be a whole number of seconds, 20 or more" >&2
    exit 2
fi
period=100
work=$(mktemp -d)
started=() # what this run started, each stopped by its PID
running=0  # whether the program must be running
failed=0

# A process is ours while it runs as this script's child: a PID that has ended and been taken
# by another process is left alone.
ours() {
    local stat state parent
    { read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 1
    read -r state parent _ <<<"${stat##*) }"
    [ "$state" != Z ] && [ "$parent" = "$$" ]
}
# stop PID: SIGTERM to one of ours and its end awaited (SIGKILL after 10 s); status in $stopped.
stop() {
    local pid=$1 deadline=$((SECONDS + 10)) kept=() p
    ! ours "$pid" || kill -TERM "$pid"
    while ours "$pid"; do
        ((SECONDS < deadline)) || kill -KILL "$pid"
        sleep 0.02
    done
    stopped=0
    wait "$pid" 2>/dev/null || stopped=$?
    for p in "${started[@]}"; do [ "$p" = "$pid" ] || kept+=("$p"); done
    started=("${kept[@]}")
}
cleanup() {
    local pid
    for pid in "${started[@]}"; do stop "$pid"; done
    if [ "${E2E_KEEP:-0}" = 1 ] || [ "$failed" = 1 ]; then
        echo "unattended: the run's files are in $work" >&2
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

fail() {
    failed=1
    echo "unattended: $*" >&2
    local file
    for file in "$work"/logs/*.txt; do
        [ ! -s "$file" ] || { echo "--- end of $(basename "$file"):"; tail -n 4 "$file"; } >&2
    done
    for file in device.tally server.tally; do
        [ ! -s "$work/$file" ] ||
            echo "--- $file (pid port lines answers links open last): $(<"$work/$file")" >&2
    done
    for file in program.out peers.out socat.out; do
        [ ! -s "$work/$file" ] || { echo "--- $file:"; cat "$work/$file"; } >&2
    done
    exit 1
}

# wait_for WHAT SECONDS TEST [ARG...]: polls TEST until it holds; the run fails after SECONDS,
# or as soon as the program has ended while it should be running.
wait_for() {
    local what=$1 limit=$2 deadline=$((SECONDS + $2))
    shift 2
    until "$@"; do
        ((SECONDS < deadline)) || fail "waited $limit s in vain for $what"
        [ "$running" = 0 ] || ours "$program_pid" ||
            fail "the program ended while waiting for $what"
        sleep 0.02
    done
}

stamp='^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} '
lost="${stamp}--- link lost: .+ ---$"
back="${stamp}--- link back ---$"
ok="OK"$'\r'"?"
# lines LOG REGEX [FROM]: how many lines of LOG match, after the last one matching FROM if given.
lines() {
    local from=1
    if [ -n "${3:-}" ]; then
        from=$(grep -n -E -- "$3" "$1" | tail -n 1 | cut -d: -f1 || true)
        [ -n "$from" ] || { echo 0; return; }
    fi
    tail -n "+$from" "$1" | grep -c -E -- "$2" || true
}
at_least() { (($(lines "$1" "$2") >= $3)); }
after() { (($(lines "$1" "$2" "$3") > 0)); }
logged() { [ -s "$1" ] && grep -q -E -- "$2" "$1"; }
clock_past() { (($(date +%s) >= $1)); }
ended() { ! ours "$1"; }

# tally FILE: what a peer last wrote, into t_pid t_port t_lines t_answers t_links t_open.
tally() { { read -r t_pid t_port t_lines t_answers t_links t_open _ <"$1"; } 2>/dev/null; }
# ready TALLY PID LINKS: peer PID is up and has opened LINKS links so far.
ready() { tally "$1" && [ "$t_pid" = "$2" ] && ((t_links >= $3)); }
all_closed() { tally "$1" && ((t_open == 0)); }
# at_quiet WHERE TALLY LOG COMMAND ANSWER SIGNAL PID: sends SIGNAL to PID, one of ours, at the
# next moment when nothing is on its way on that link (see peers.py quiet), so that cutting it
# or muting its peer then loses nothing that was counted.
at_quiet() {
    /usr/bin/python3 "$here/peers.py" quiet "${@:2:4}" "$period" "${@:6}" 2>>"$work/peers.out" ||
        fail "$1: $(tail -n 1 "$work/peers.out")"
}

device_tally=$work/device.tally
server_tally=$work/server.tally
pty_pair() {
    socat pty,raw,echo=0,link="$work/ttyDUT" pty,raw,echo=0,link="$work/ttyDEV" \
        2>>"$work/socat.out" &
    pty_pid=$!
    started+=("$pty_pid")
}
start_server() {
    /usr/bin/python3 "$here/peers.py" server "$server_tally" 2>>"$work/peers.out" &
    server_pid=$!
    started+=("$server_pid")
}

pty_pair
/usr/bin/python3 "$here/peers.py" device "$work/ttyDEV" "$device_tally" 2>>"$work/peers.out" &
device_pid=$!
started+=("$device_pid")
start_server
wait_for "the device on the pty" 10 ready "$device_tally" "$device_pid" 1
wait_for "the server to listen" 10 ready "$server_tally" "$server_pid" 0
port=$t_port

launched=$(date +%s)
(cd "$work" && HOME="$work" exec "$program" --serial-port "$work/ttyDUT" --open \
    --host 127.0.0.1 --port "$port" --connect 1 \
    --command serial=AT --every serial="$period" --command 1=PING --every 1="$period" \
    --reconnect --timestamps log --log-dir "$work/logs" --keep-logs --quit-after "${seconds}s" \
    >"$work/program.out" 2>&1) &
program_pid=$!
running=1
started=("$program_pid" "${started[@]}")
has_logs() {
    local found
    found=$(ls "$work"/logs/*-serial.txt 2>/dev/null) || return 1
    serial=$found
    network=${found%-serial.txt}-network1.txt
}
wait_for "the program's logs" 15 has_logs

# The device is reset a third into the run and the server restarted two thirds in, by the
# commands sent, so that a slow start moves them along.
sends=$((seconds * 1000 / period))
wait_for "$((sends / 3)) AT in the serial log" "$seconds" \
    at_least "$serial" "${stamp}TX AT$" $((sends / 3))
at_quiet "the serial line" "$device_tally" "$serial" AT OK TERM "$pty_pid"
stop "$pty_pid"
# socat leaves its links behind, and a pty of the same number may soon be another program's.
rm -f "$work/ttyDUT" "$work/ttyDEV"
wait_for "'--- link lost' in the serial log" 10 logged "$serial" "$lost"
pty_pair
wait_for "the device on the new pty" 10 ready "$device_tally" "$device_pid" 2
wait_for "'--- link back ---' in the serial log" 15 logged "$serial" "$back"
wait_for "an AT answered after the device came back" 10 \
    after "$serial" "${stamp}RX $ok$" "$back"

wait_for "$((2 * sends / 3)) PING in the Network1 log" "$seconds" \
    at_least "$network" "${stamp}TX PING$" $((2 * sends / 3))
at_quiet Network1 "$server_tally" "$network" PING PING TERM "$server_pid"
stop "$server_pid"
wait_for "'--- link lost' in the Network1 log" 10 logged "$network" "$lost"
start_server
wait_for "the restarted server to listen" 10 ready "$server_tally" "$server_pid" 1
# Reconnects come 1, 2, 4, ... up to 30 s apart.
wait_for "'--- link back ---' in the Network1 log" 40 logged "$network" "$back"
wait_for "a PING echoed after the server came back" 10 \
    after "$network" "${stamp}RX PING$" "$back"

# No answer may be on its way when the program closes: 2 s before, each peer stops answering at
# a quiet moment of its link; so a difference found at the end arose as the program closed.
wait_for "the last 2 s of the run" "$seconds" clock_past $((launched + seconds - 2))
at_quiet "the serial line" "$device_tally" "$serial" AT OK USR1 "$device_pid"
at_quiet Network1 "$server_tally" "$network" PING PING USR1 "$server_pid"
wait_for "the program to end (--quit-after ${seconds}s)" 20 ended "$program_pid"
running=0
stop "$program_pid"
status=$stopped
# All the program sent has arrived once the server has seen its connection end; the device
# reads what is there before it ends.
wait_for "the server to see the program's connection end" 10 all_closed "$server_tally"
stop "$device_pid"
stop "$server_pid"
stop "$pty_pid"

tally "$device_tally"
device_lines=$t_lines device_answers=$t_answers
tally "$server_tally"
server_lines=$t_lines server_answers=$t_answers
serial_tx=$(lines "$serial" "${stamp}TX AT$")
serial_rx=$(lines "$serial" "${stamp}RX $ok$")
network_tx=$(lines "$network" "${stamp}TX PING$")
network_rx=$(lines "$network" "${stamp}RX PING$")
losses="$(lines "$serial" "$lost")+$(lines "$network" "$lost")"
returns="$(lines "$serial" "$back")+$(lines "$network" "$back")"
echo "unattended: $seconds s; device received $device_lines AT / serial log $serial_tx TX," \
    "answered $device_answers OK / $serial_rx RX; server received $server_lines PING /" \
    "Network1 log $network_tx TX, echoed $server_answers / $network_rx RX;" \
    "losses $losses, returns $returns (serial+Network1)"

# late LOG COMMAND TALLY GOT: when LOG last shows COMMAND sent, and when the lines its peer got
# beyond those shown came.
late() {
    local extra=$(($4 - $(lines "$1" "${stamp}TX $2$")))
    echo "the log's last TX $2 at $(grep -E -- "${stamp}TX $2$" "$1" | tail -n 1 | cut -c 12-23)" \
        "and the last $((extra > 0 ? extra : 1)) line(s) the peer got at" \
        "$(tail -n $((extra > 0 ? extra : 1)) "$3.lines" | cut -c 12-23 | paste -s -d ' ')"
}
message=
problem() { message+="${message:+$'\n'}$*"; }
even="(equal 2 s before the end)"
((device_lines == serial_tx)) ||
    problem "serial: the device got $device_lines lines, the log has $serial_tx TX AT $even;" \
        "$(late "$serial" AT "$device_tally" "$device_lines")"
((device_answers == serial_rx)) ||
    problem "serial: the device sent $device_answers OK, the log has $serial_rx RX OK $even"
((server_lines == network_tx)) ||
    problem "Network1: the server got $server_lines lines, the log has $network_tx TX PING $even;" \
        "$(late "$network" PING "$server_tally" "$server_lines")"
((server_answers == network_rx)) ||
    problem "Network1: the server echoed $server_answers, the log has $network_rx RX PING $even"
[ "$losses" = 1+1 ] || problem "losses $losses, not one on each channel"
[ "$returns" = 1+1 ] || problem "returns $returns, not one on each channel"
[ "$status" -eq 0 ] || problem "exit status $status"
[ -s "$work/demosettings.ini" ] || problem "settings not saved"
[ -z "$message" ] || fail "$message"
