#!/usr/bin/env bash
# The example scripts run by the installed program in a real X server against socat: the AT
# modem on a pty pair, the request/answer service on 127.0.0.1, and the modem once more with a
# signal out of range. Each run must end by itself with the exit status of its verdict and a
# JUnit report that says the same. It runs on the screen that DISPLAY names: tools/x-session.sh
# makes one.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$PWD
program=${TESKMANAGER:-/usr/bin/teskmanager}
runner=${TESKMANAGER_RUN:-/usr/bin/teskmanager-run}
devices=$PWD/tests/e2e/fake-devices.sh
work=$(mktemp -d)
pids=()
cleanup() {
    kill "${pids[@]}" 2>/dev/null || true
    [ "${E2E_KEEP:-0}" = 1 ] || rm -rf "$work"
}
trap cleanup EXIT
port=$((20000 + RANDOM % 20000))
socat "tcp-listen:$port,bind=127.0.0.1,reuseaddr,fork" SYSTEM:"bash $devices service" &
pids+=($!)

ok=1
# run NAME STATUS TESTS FAILURES DEVICE ARGS...: one run of the program, its status and report.
run() {
    local name=$1 status=$2 tests=$3 failures=$4 device=$5
    shift 5
    if [ "$device" != none ]; then
        socat pty,raw,echo=0,link="$work/tty-$name" SYSTEM:"bash $devices $device" &
        pids+=($!)
        for _ in $(seq 50); do [ -e "$work/tty-$name" ] && break; sleep 0.1; done
    fi
    local got=0
    (cd "$work" && HOME="$work" timeout 60 "$program" "$@" --report "$work/$name.xml" \
        --quit-after script --timestamps log --log-dir "$work/logs-$name" \
        >"$work/$name.out" 2>&1) || got=$?
    local report="$work/$name.xml" want="tests=\"$tests\" failures=\"$failures\" errors=\"0\""
    if [ "$got" -ne "$status" ] || ! grep -q "<testsuite name=\"[^\"]*\" $want" "$report"; then
        echo "scripted: $name: exit status $got (wanted $status), report:"
        cat "$report" "$work/$name.out" "$work"/logs-"$name"/*-script.txt 2>/dev/null || true
        ok=0
        return
    fi
    echo "scripted: $name: exit status $got, $want"
    grep -E -- '--- (check|script ended)' "$work"/logs-"$name"/*-script.txt | tail -3
}

# The test suite of examples/suite by teskmanager-run, with no display: its TAP stream on
# standard output as prove reads it, one report with a testsuite per script.
suite() {
    socat pty,raw,echo=0,link="$work/tty-suite" SYSTEM:"bash $devices modem" &
    pids+=($!)
    for _ in $(seq 50); do [ -e "$work/tty-suite" ] && break; sleep 0.1; done
    local got=0
    (cd "$work" && HOME="$work" DISPLAY='' timeout 60 "$runner" --serial-port "$work/tty-suite" \
        --line-ending serial=CR --open --host 127.0.0.1 --port "$port" --arg max_rssi=31 \
        --script "$repo/examples/suite" --report "$work/suite.xml" --log-dir "$work/logs-suite" \
        >"$work/suite.tap" 2>"$work/suite.err") || got=$?
    if [ "$got" -ne 0 ] || [ "$(grep -c '<testsuite ' "$work/suite.xml")" -ne 2 ] \
        || ! head -1 "$work/suite.tap" | grep -qx 'TAP version 13' \
        || { command -v prove >/dev/null && ! prove --exec cat "$work/suite.tap" >/dev/null; }; then
        echo "scripted: suite: exit status $got (wanted 0):"
        cat "$work/suite.tap" "$work/suite.err" "$work/suite.xml" 2>/dev/null || true
        ok=0
        return
    fi
    echo "scripted: suite: exit status 0, $(tail -1 "$work/suite.err")"
}
suite

run at-modem 0 5 0 modem --serial-port "$work/tty-at-modem" --line-ending serial=CR --open \
    --script "$PWD/examples/at-modem.lua"
run service 0 7 0 none --host 127.0.0.1 --port "$port" --script "$PWD/examples/service.lua"
run at-modem-out-of-range 1 5 1 broken --serial-port "$work/tty-at-modem-out-of-range" \
    --line-ending serial=CR --open --script "$PWD/examples/at-modem.lua"
[ "$ok" = 1 ]
