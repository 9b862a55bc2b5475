#!/usr/bin/env bash
# The devices the example scripts talk to in the end-to-end run, one request per line on
# standard input, answers on standard output (socat connects them to a pty or a TCP client):
#   modem    an AT-style modem: commands end with CR, answers with CR LF
#   broken   the same modem, but its signal quality is out of range
#   service  a request/answer service: PING, ADD a b, TIME; lines end with LF
set -uo pipefail
case "${1:-}" in
modem | broken)
    while IFS= read -r -d $'\r' command; do
        case "$command" in
        AT) printf '\r\nOK\r\n' ;;
        AT+CSQ) if [ "$1" = broken ]; then printf '\r\n+CSQ: 99,99\r\n\r\nOK\r\n'; else printf '\r\n+CSQ: 23,99\r\n\r\nOK\r\n'; fi ;;
        AT+GMR) printf '\r\nTM-1.4.2\r\n\r\nOK\r\n' ;;
        *) printf '\r\nERROR\r\n' ;;
        esac
    done
    ;;
service)
    while IFS= read -r request; do
        read -r verb a b _ <<<"$request"
        case "$verb" in
        PING) echo PONG ;;
        ADD) echo $((a + b)) ;;
        TIME) date +%s ;;
        *) echo "ERR unknown request" ;;
        esac
    done
    ;;
*)
    echo "usage: $0 modem|broken|service" >&2
    exit 2
    ;;
esac
