#!/usr/bin/env bash
# Drives the installed TeskManager in a real X server the way a user would: a virtual screen,
# a window manager that maximizes like a desktop, real mouse clicks and key presses, a TCP echo
# peer on 127.0.0.1, then the files the program leaves behind.
#
# Needs (installed by the caller): xvfb openbox xdotool imagemagick socat x11-utils.
# Environment:
#   TESKMANAGER          program to run (default /usr/bin/teskmanager)
#   E2E_DISPLAY          first X display number to try (default 99)
#   E2E_SAVE_SCREENSHOT  1 = copy the screenshot to docs/screenshot.png of this checkout
#   E2E_KEEP             1 = keep the scratch folder (it is always kept when a check fails)
#
# Widgets are found on the screenshot, not by fixed coordinates: Qt draws its widgets without
# native child windows, so X cannot name them, and fixed offsets break as soon as a font or the
# screen size differs. In the Fusion style every line edit, spin box and text view has a pure
# white interior, and nothing else in the window is pure white, so the white rectangles of the
# screenshot are exactly the input fields and traffic views. Their arrangement follows from the
# form: one big view on the left (serial), three of equal width stacked on the right (networks);
# the topmost fields above the first network view are the address and the port, the widest field
# right under it is its command line, and the Connect button ends the row just above that view.
# Menus have no mnemonics, so they are opened by a click on "File" (the first text of the menu
# bar) and walked with the arrow keys; Help > About is File, Right, Return.

set -euo pipefail

TESKMANAGER=${TESKMANAGER:-/usr/bin/teskmanager}
SCREEN_W=1280
SCREEN_H=800
SCRIPT_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO_ROOT=$(cd "$SCRIPT_DIR/../.." && pwd)

passed=0
failed=0
WORK=$(mktemp -d "${TMPDIR:-/tmp}/teskmanager-e2e.XXXXXX")
HOME_DIR=$WORK/home
RUN_DIR=$WORK/run
mkdir -p "$HOME_DIR" "$RUN_DIR" "$WORK/xdg"
chmod 700 "$WORK/xdg"

XVFB_PID=""
WM_PID=""
SOCAT_PID=""
APP_PID=""

log() { echo "[e2e] $*"; }
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

# Stops one process that this script started, politely first, and never waits without bound.
stop_pid() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill -0 "$pid" 2>/dev/null || return 0
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 20); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
}

cleanup() {
    local status=$?
    stop_pid "$APP_PID"
    stop_pid "$SOCAT_PID"
    stop_pid "$WM_PID"
    stop_pid "$XVFB_PID"
    if [ "$failed" -gt 0 ] || [ "$status" -ne 0 ] || [ "${E2E_KEEP:-0}" = 1 ]; then
        log "scratch folder kept: $WORK (screenshots, program and X logs)"
    else
        rm -rf "$WORK"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

summary_and_exit() {
    echo "$passed passed, $failed failed"
    if [ "$failed" -eq 0 ]; then exit 0; fi
    exit 1
}

# A check that makes every later one meaningless ends the run here.
fatal() {
    fail "$*"
    if [ -s "$WORK/app.log" ]; then
        log "program output:"
        sed 's/^/    /' "$WORK/app.log" | tail -20
    fi
    summary_and_exit
}

# wait_until SECONDS COMMAND...: polls every 0.2 s; false when the time runs out.
wait_until() {
    local tries=$(($1 * 5))
    shift
    for _ in $(seq 1 "$tries"); do
        if "$@"; then return 0; fi
        sleep 0.2
    done
    "$@"
}

# Every X client call is bounded: a hung server must fail the run, not stall it.
xdo() { timeout 10 xdotool "$@"; }
app_alive() { [ -n "$APP_PID" ] && kill -0 "$APP_PID" 2>/dev/null; }

# ---------------------------------------------------------------------------------------------
# Port helpers, read from /proc so that no extra tool is needed.

port_hex() { printf '%04X' "$1"; }

port_in_use() {
    local p
    p=$(port_hex "$1")
    awk -v p="$p" 'FNR > 1 { split($2, a, ":"); if (a[2] == p) f = 1 } END { exit !f }' \
        /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

port_listening() {
    local p
    p=$(port_hex "$1")
    awk -v p="$p" 'FNR > 1 { split($2, a, ":"); if (a[2] == p && $4 == "0A") f = 1 } END { exit !f }' \
        /proc/net/tcp
}

# A client socket whose remote end is the echo port and which is ESTABLISHED.
client_connected() {
    local p
    p=$(port_hex "$1")
    awk -v p="$p" 'FNR > 1 { split($3, a, ":"); if (a[2] == p && $4 == "01") f = 1 } END { exit !f }' \
        /proc/net/tcp
}

# ---------------------------------------------------------------------------------------------
# Screenshot analysis.

screenshot() { timeout 20 import -window root "$1" 2>>"$WORK/imagemagick.log"; }

# Prints "X0 X1 Y0 Y1" for every pure white rectangle at least 30 px wide, in coordinates of the
# given crop. A field's text splits its middle rows, so rows of one rectangle may be separated by
# up to 20 px; parts that lie inside a bigger rectangle (the white beside a text) are dropped.
white_rects() {
    local image=$1 crop=$2
    timeout 30 convert "$image" -crop "$crop" +repage -fill black +opaque white \
        -colorspace gray -compress none pgm:- |
    awk '
        BEGIN { RS = "[ \t\n]+" }
        NR == 1 || NR == 4 { next }
        NR == 2 { w = $1; next }
        NR == 3 { h = $1; next }
        {
            i = NR - 5; x = i % w; y = int(i / w); white = ($1 > 0)
            if (x == 0 && on) { close_run(y - 1, w - 1); on = 0 }
            if (white && !on) { on = 1; rx = x }
            else if (!white && on) { close_run(y, x - 1); on = 0 }
        }
        function close_run(yy, xe,   k) {
            if (xe - rx + 1 < 30) return
            k = rx " " xe
            if ((k in last) && yy - last[k] <= 20) { last[k] = yy; rows[k]++; return }
            if (k in last) keep(k)
            first[k] = yy; last[k] = yy; rows[k] = 1
        }
        function keep(k,   p) {
            if (rows[k] < 3) return
            split(k, p, " ")
            n++; X0[n] = p[1]; X1[n] = p[2]; Y0[n] = first[k]; Y1[n] = last[k]
        }
        END {
            if (on) close_run(h - 1, w - 1)
            for (k in last) keep(k)
            for (a = 1; a <= n; a++) {
                inside = 0
                for (b = 1; b <= n && !inside; b++)
                    if (b != a && X0[b] <= X0[a] && X1[a] <= X1[b] && Y0[b] <= Y0[a] && Y1[a] <= Y1[b] \
                        && (X1[b] - X0[b] > X1[a] - X0[a] || Y1[b] - Y0[b] > Y1[a] - Y0[a]))
                        inside = 1
                if (!inside) print X0[a], X1[a], Y0[a], Y1[a]
            }
        }'
}

# Prints "X Y" of the centre of the first text of the menu bar ("File"), in crop coordinates.
first_menu_text() {
    local image=$1 crop=$2
    timeout 30 convert "$image" -crop "$crop" +repage -colorspace gray -threshold 50% \
        -negate -compress none pgm:- |
    awk '
        BEGIN { RS = "[ \t\n]+"; x0 = -1 }
        NR == 1 || NR == 4 { next }
        NR == 2 { w = $1; next }
        NR == 3 { next }
        $1 > 0 { i = NR - 5; dark[i % w] = 1; ys[i % w, int(i / w)] = 1 }
        END {
            for (x = 0; x < w; x++) {
                if (!(x in dark)) continue
                if (x0 < 0) { x0 = x; x1 = x; continue }
                if (x - x1 > 8) break
                x1 = x
            }
            if (x0 < 0) exit 1
            y0 = -1
            for (k in ys) { split(k, p, SUBSEP); if (p[1] >= x0 && p[1] <= x1) {
                if (y0 < 0 || p[2] < y0) y0 = p[2]; if (p[2] > y1) y1 = p[2] } }
            print int((x0 + x1) / 2), int((y0 + y1) / 2)
        }'
}

unique_colours() { timeout 30 identify -format '%k' "$1"; }
# Standard deviation of the grey levels (0..1) of a region; 0 means one flat colour.
region_stddev() {
    timeout 30 convert "$1" -crop "$2" +repage -colorspace gray -format '%[fx:standard_deviation]' info:
}
float_gt() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }

# ---------------------------------------------------------------------------------------------
# Preconditions.

missing=""
for tool in Xvfb openbox xdotool import convert identify socat xwininfo xprop xdpyinfo timeout; do
    command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
[ -z "$missing" ] || fatal "tools present (missing:$missing)"
[ -x "$TESKMANAGER" ] || fatal "program $TESKMANAGER is executable"
log "program: $TESKMANAGER; scratch folder: $WORK"

# ---------------------------------------------------------------------------------------------
# X server and window manager.

display_num=${E2E_DISPLAY:-99}
for _ in $(seq 1 20); do
    [ -e "/tmp/.X${display_num}-lock" ] || [ -e "/tmp/.X11-unix/X${display_num}" ] || break
    display_num=$((display_num + 1))
done
export DISPLAY=":$display_num"
Xvfb "$DISPLAY" -screen 0 "${SCREEN_W}x${SCREEN_H}x24" -nolisten tcp -noreset \
    >"$WORK/xvfb.log" 2>&1 &
XVFB_PID=$!
x_ready() { kill -0 "$XVFB_PID" 2>/dev/null && timeout 5 xdpyinfo >/dev/null 2>&1; }
wait_until 15 x_ready || fatal "Xvfb starts on $DISPLAY"
log "Xvfb on $DISPLAY"

openbox --sm-disable >"$WORK/openbox.log" 2>&1 &
WM_PID=$!
wm_ready() { timeout 5 xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
wait_until 15 wm_ready || fatal "openbox manages the screen"

# ---------------------------------------------------------------------------------------------
# Echo peer on a free port of 127.0.0.1.

ECHO_PORT=""
for _ in $(seq 1 20); do
    candidate=$((20000 + RANDOM % 40000))
    port_in_use "$candidate" && continue
    socat "TCP-LISTEN:$candidate,bind=127.0.0.1,reuseaddr,fork" EXEC:cat >"$WORK/socat.log" 2>&1 &
    SOCAT_PID=$!
    if wait_until 3 port_listening "$candidate" && kill -0 "$SOCAT_PID" 2>/dev/null; then
        ECHO_PORT=$candidate
        break
    fi
    stop_pid "$SOCAT_PID"
    SOCAT_PID=""
done
[ -n "$ECHO_PORT" ] || fatal "socat echo server listens on 127.0.0.1"
log "echo server on 127.0.0.1:$ECHO_PORT"

# ---------------------------------------------------------------------------------------------
# The program, as a user starts it: fresh home, fresh working folder, no arguments.

# The caller's desktop settings are dropped: they would change the style and the scale, and with
# them what the screenshot analysis expects (Qt's own Fusion style at scale 1).
(
    cd "$RUN_DIR"
    exec env -u QT_STYLE_OVERRIDE -u QT_QPA_PLATFORMTHEME -u XDG_CURRENT_DESKTOP \
        -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS -u QT_AUTO_SCREEN_SCALE_FACTOR \
        -u QT_FONT_DPI -u XDG_CONFIG_HOME -u XDG_DATA_HOME \
        HOME="$HOME_DIR" XDG_RUNTIME_DIR="$WORK/xdg" QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 \
        "$TESKMANAGER"
) >"$WORK/app.log" 2>&1 &
APP_PID=$!

main_window() { xdo search --onlyvisible --name '^TeskManager$' 2>/dev/null | head -1; }
window_shown() { app_alive && [ -n "$(main_window)" ]; }
wait_until 30 window_shown || fatal "window titled \"TeskManager\" appears"
WID=$(main_window)
pass "window titled \"TeskManager\" appears (id $WID)"

# Client area and frame extents of the main window, in root coordinates.
read_geometry() {
    local info extents
    info=$(timeout 5 xwininfo -id "$WID") || return 1
    WIN_X=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
    WIN_Y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
    WIN_W=$(sed -n 's/^ *Width: *//p' <<<"$info")
    WIN_H=$(sed -n 's/^ *Height: *//p' <<<"$info")
    MAP_STATE=$(sed -n 's/.*Map State: *//p' <<<"$info")
    extents=$(timeout 5 xprop -id "$WID" _NET_FRAME_EXTENTS | sed -n 's/.*= *//p' | tr -d ' ')
    IFS=, read -r FRAME_L FRAME_R FRAME_T FRAME_B <<<"${extents:-0,0,0,0}"
    WM_STATE=$(timeout 5 xprop -id "$WID" _NET_WM_STATE)
}
maximized() {
    read_geometry || return 1
    [ "$MAP_STATE" = IsViewable ] || return 1
    grep -q _NET_WM_STATE_MAXIMIZED_HORZ <<<"$WM_STATE" || return 1
    grep -q _NET_WM_STATE_MAXIMIZED_VERT <<<"$WM_STATE" || return 1
    # The frame (window plus decorations) must cover the screen, give or take a border pixel.
    local fw=$((WIN_W + FRAME_L + FRAME_R)) fh=$((WIN_H + FRAME_T + FRAME_B))
    [ $((SCREEN_W - fw)) -le 2 ] && [ $((SCREEN_H - fh)) -le 2 ] && [ "$WIN_X" -le "$FRAME_L" ] &&
        [ "$WIN_Y" -le $((FRAME_T + 2)) ]
}
if wait_until 10 maximized; then
    pass "window is mapped maximized: ${WIN_W}x${WIN_H}+${WIN_X}+${WIN_Y}, decorations l${FRAME_L} r${FRAME_R} t${FRAME_T} b${FRAME_B}, screen ${SCREEN_W}x${SCREEN_H}"
else
    read_geometry || true
    fail "window is mapped maximized (map state ${MAP_STATE:-?}, ${WIN_W:-?}x${WIN_H:-?}+${WIN_X:-?}+${WIN_Y:-?}, decorations ${FRAME_L:-?},${FRAME_R:-?},${FRAME_T:-?},${FRAME_B:-?}, ${WM_STATE:-no state})"
fi
read_geometry || fatal "window geometry can be read"
CLIENT="${WIN_W}x${WIN_H}+${WIN_X}+${WIN_Y}"

# ---------------------------------------------------------------------------------------------
# Screenshot: not blank, and the four panels drawn. The first paint may lag the mapping, so the
# layout is looked for until it shows or the time runs out.

SHOT1=$WORK/screenshot-start.png
RECTS=$WORK/rects.txt
layout_found() {
    screenshot "$SHOT1" || return 1
    white_rects "$SHOT1" "$CLIENT" >"$RECTS" || return 1
    # Traffic views are the white rectangles at least 40 px high.
    awk '$4 - $3 >= 40' "$RECTS" | sort -k1,1n -k3,3n >"$WORK/views.txt"
    [ "$(wc -l <"$WORK/views.txt")" -eq 4 ] || return 1
    read -r _ SER_X1 _ _ < <(sed -n 1p "$WORK/views.txt")
    read -r N1_X0 N1_X1 N1_Y0 N1_Y1 < <(sed -n 2p "$WORK/views.txt")
    read -r N2_X0 N2_X1 N2_Y0 N2_Y1 < <(sed -n 3p "$WORK/views.txt")
    read -r N3_X0 N3_X1 N3_Y0 _ < <(sed -n 4p "$WORK/views.txt")
    # One column on the left, three views of one width stacked on the right.
    [ "$SER_X1" -lt "$N1_X0" ] && [ "$N1_X0" -eq "$N2_X0" ] && [ "$N2_X0" -eq "$N3_X0" ] &&
        [ "$N1_X1" -eq "$N2_X1" ] && [ "$N2_X1" -eq "$N3_X1" ] &&
        [ "$N1_Y1" -lt "$N2_Y0" ] && [ "$N2_Y1" -lt "$N3_Y0" ]
}
layout_ok=0
if wait_until 15 layout_found; then layout_ok=1; fi

colours=$(unique_colours "$SHOT1" || echo 0)
stddev=$(timeout 30 convert "$SHOT1" -colorspace gray -format '%[fx:standard_deviation]' info: || echo 0)
if [ "$colours" -gt 32 ] && float_gt "$stddev" 0.01; then
    pass "screenshot is not blank ($colours colours, grey standard deviation $stddev)"
else
    fail "screenshot is not blank ($colours colours, grey standard deviation $stddev)"
fi

# Each panel: its region of the window is not flat, and its traffic view was found in it.
half=$((WIN_W / 2))
body_y=$((WIN_Y + 30))
body_h=$((WIN_H - 30))
third=$((body_h / 3))
panel_check() {
    local name=$1 region=$2 found=$3 sd
    sd=$(region_stddev "$SHOT1" "$region" || echo 0)
    if float_gt "$sd" 0.02 && [ "$found" = 1 ]; then
        pass "$name panel drawn (region $region, grey standard deviation $sd, traffic view found)"
    else
        fail "$name panel drawn (region $region, grey standard deviation $sd, traffic view found: $found)"
    fi
}
panel_check "serial" "${half}x${body_h}+${WIN_X}+${body_y}" "$layout_ok"
for n in 1 2 3; do
    panel_check "network $n" "$((WIN_W - half))x${third}+$((WIN_X + half))+$((body_y + (n - 1) * third))" \
        "$layout_ok"
done
[ "$layout_ok" = 1 ] || fatal "layout of the four traffic views recognized in $SHOT1 (white rectangles: $(tr '\n' ';' <"$RECTS"))"

# Fields of network panel 1, from the white rectangles (crop coordinates, see the header).
fields_above=$(awk -v x0="$N1_X0" -v y0="$N1_Y0" '$4 - $3 < 40 && $1 >= x0 - 10 && $4 < y0' "$RECTS")
top_y=$(awk 'NR == 1 || $3 < m { m = $3 } END { print m }' <<<"$fields_above")
read -r IP_X0 IP_X1 IP_Y0 IP_Y1 < <(awk -v t="$top_y" '$3 <= t + 5' <<<"$fields_above" | sort -k1,1n | sed -n 1p) || true
read -r PORT_X0 PORT_X1 PORT_Y0 PORT_Y1 < <(awk -v t="$top_y" '$3 <= t + 5' <<<"$fields_above" | sort -k1,1n | sed -n 2p) || true
# The mode row is the lowest row of fields above the view; Connect is its last widget.
mode_y=$(awk 'NR == 1 || $4 > m { m = $4; c = int(($3 + $4) / 2) } END { print c }' <<<"$fields_above")
read -r CMD_X0 CMD_X1 CMD_Y0 CMD_Y1 < <(awk -v x0="$N1_X0" -v y1="$N1_Y1" \
    '$4 - $3 < 40 && $3 > y1 && $3 - y1 < 40 && $1 <= x0 + 10 { print $2 - $1, $0 }' "$RECTS" |
    sort -k1,1nr | sed -n 1p | cut -d' ' -f2-) || true
if [ -z "${IP_X0:-}" ] || [ -z "${PORT_X0:-}" ] || [ -z "${CMD_X0:-}" ] || [ -z "$mode_y" ]; then
    fatal "address, port and command fields of network panel 1 located (white rectangles: $(tr '\n' ';' <"$RECTS"))"
fi
abs_x() { echo $((WIN_X + $1)); }
abs_y() { echo $((WIN_Y + $1)); }
IP_CX=$(abs_x $(((IP_X0 + IP_X1) / 2)));       IP_CY=$(abs_y $(((IP_Y0 + IP_Y1) / 2)))
PORT_CX=$(abs_x $(((PORT_X0 + PORT_X1) / 2))); PORT_CY=$(abs_y $(((PORT_Y0 + PORT_Y1) / 2)))
CMD_CX=$(abs_x $(((CMD_X0 + CMD_X1) / 2)));    CMD_CY=$(abs_y $(((CMD_Y0 + CMD_Y1) / 2)))
CONNECT_X=$(abs_x $((N1_X1 - 20)));            CONNECT_Y=$(abs_y "$mode_y")
log "address field at $IP_CX,$IP_CY; port field at $PORT_CX,$PORT_CY; Connect at $CONNECT_X,$CONNECT_Y; command line at $CMD_CX,$CMD_CY"

if read -r MENU_X MENU_Y < <(first_menu_text "$SHOT1" "200x40+${WIN_X}+${WIN_Y}"); then
    FILE_X=$(abs_x "$MENU_X"); FILE_Y=$(abs_y "$MENU_Y")
else
    FILE_X=$(abs_x 20); FILE_Y=$(abs_y 10)
fi
log "\"File\" menu at $FILE_X,$FILE_Y"

# ---------------------------------------------------------------------------------------------
# Input helpers: real pointer and keyboard events, always to the active window.

# No --sync on the move: it waits for motion, and there is none when the pointer is already there.
click_at() { xdo mousemove "$1" "$2"; sleep 0.15; xdo click 1; sleep 0.3; }
activate() { xdo windowactivate --sync "$1" >/dev/null 2>&1 || xdo windowfocus --sync "$1" >/dev/null 2>&1 || true; sleep 0.2; }
replace_text_at() {
    click_at "$1" "$2"
    xdo key --clearmodifiers ctrl+a
    xdo type --delay 30 "$3"
    sleep 0.2
}
visible_named() { xdo search --onlyvisible --name "$1" 2>/dev/null | grep -v "^$WID\$" | head -1; }
# Message boxes left open by a failing step would swallow later input: close them.
dismiss_boxes() {
    local box
    for title in '^Client$' '^Error$'; do
        box=$(visible_named "$title") || true
        if [ -n "$box" ]; then
            log "closing an unexpected \"${title//[\^\$]/}\" box"
            activate "$box"
            xdo key Return || true
            sleep 0.3
        fi
    done
}

# ---------------------------------------------------------------------------------------------
# Network1 to the echo server, typed into the form as a user would.

activate "$WID"
ECHO_HOST=127.0.0.1
replace_text_at "$IP_CX" "$IP_CY" "$ECHO_HOST"
replace_text_at "$PORT_CX" "$PORT_CY" "$ECHO_PORT"
click_at "$CONNECT_X" "$CONNECT_Y"
if wait_until 5 client_connected "$ECHO_PORT"; then
    pass "Network1 connects to the echo server 127.0.0.1:$ECHO_PORT (connection established)"
else
    fail "Network1 connects to the echo server 127.0.0.1:$ECHO_PORT (no established connection)"
    dismiss_boxes
fi

# The home folder is fresh, so the log holds nothing but this run's traffic; the command reads
# well in the screenshot kept for the documentation.
COMMAND="hello TeskManager"
activate "$WID"
click_at "$CMD_CX" "$CMD_CY"
xdo type --delay 30 "$COMMAND"
xdo key Return
sleep 0.3
dismiss_boxes
network1_log() { find "$HOME_DIR/Documents/TeskManager" -maxdepth 1 -name '*-network1.txt' 2>/dev/null | head -1; }
command_lines() {
    local f
    f=$(network1_log)
    if [ -n "$f" ]; then grep -c -x -F "$COMMAND" "$f" 2>/dev/null || true; else echo 0; fi
}
echo_logged() { [ "$(command_lines)" -ge 2 ]; }
if wait_until 10 echo_logged; then
    pass "command \"$COMMAND\" sent with Return and its echo logged ($(network1_log): sent line and echoed line)"
else
    fail "command \"$COMMAND\" sent with Return and its echo logged ($(network1_log || true): $(command_lines) of 2 lines)"
fi

# This second screenshot shows traffic, so it is the one kept for the documentation; the pointer
# goes to the status bar first, so that no button is drawn hovered.
xdo mousemove $((WIN_X + WIN_W - 3)) $((WIN_Y + WIN_H - 3)) || true
sleep 0.5
SHOT2=$WORK/screenshot.png
if screenshot "$SHOT2" && [ "$(unique_colours "$SHOT2" || echo 0)" -gt 32 ]; then
    pass "screenshot with traffic taken ($SHOT2)"
else
    fail "screenshot with traffic taken"
fi
if [ "${E2E_SAVE_SCREENSHOT:-0}" = 1 ] && [ -s "$SHOT2" ]; then
    mkdir -p "$REPO_ROOT/docs"
    cp "$SHOT2" "$REPO_ROOT/docs/screenshot.png"
    log "screenshot saved to $REPO_ROOT/docs/screenshot.png"
fi

# ---------------------------------------------------------------------------------------------
# Help > About, then Escape.

# Open menus are popup windows of the program; keys are sent only once the menu is really open,
# so that a slow first paint cannot send them to the command line instead.
popup_menus() {
    local w
    for w in $(xdo search --onlyvisible --classname '^teskmanager$' 2>/dev/null || true); do
        timeout 5 xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q POPUP_MENU && echo "$w"
    done
    return 0
}
menu_open() { [ -n "$(popup_menus)" ]; }
new_menu_open() { popup_menus | grep -q -v -x -F "$1"; }
open_file_menu() {
    for _ in 1 2 3; do
        activate "$WID"
        click_at "$FILE_X" "$FILE_Y"
        if wait_until 3 menu_open; then return 0; fi
        xdo key Escape || true
        sleep 0.3
    done
    return 1
}

about_shown() { [ -n "$(visible_named '^About$')" ]; }
about_gone() { [ -z "$(visible_named '^About$')" ]; }
if open_file_menu; then
    file_menu=$(popup_menus | head -1)
    xdo key Right
    if wait_until 3 new_menu_open "$file_menu"; then
        xdo key Return
    else
        log "the Help menu did not open after Right"
    fi
else
    log "the File menu did not open after a click at $FILE_X,$FILE_Y"
fi
if wait_until 5 about_shown; then
    pass "Help > About opens the About dialog"
    activate "$(visible_named '^About$')"
    xdo key Escape
    if wait_until 5 about_gone; then
        pass "Escape closes the About dialog"
    else
        fail "Escape closes the About dialog"
        xdo windowclose "$(visible_named '^About$')" >/dev/null 2>&1 || true
    fi
else
    fail "Help > About opens the About dialog"
    xdo key Escape || true
fi

# ---------------------------------------------------------------------------------------------
# File > Exit, and Yes to keeping the logs.

question_shown() { [ -n "$(visible_named '^TeskManager$')" ]; }
app_gone() { ! app_alive; }
if open_file_menu; then
    xdo key Down
    sleep 0.2
    xdo key Return
else
    log "the File menu did not open after a click at $FILE_X,$FILE_Y"
fi
if wait_until 5 question_shown; then
    pass "File > Exit asks the question titled \"TeskManager\""
    # "&Yes" carries the mnemonic Y, which a message box takes without Alt; Return would take
    # the default button, No. Should the key land before the box has the focus, it is sent again.
    for _ in 1 2 3; do
        box=$(visible_named '^TeskManager$') || true
        [ -n "$box" ] || break
        activate "$box"
        xdo key y
        wait_until 3 app_gone && break
    done
else
    fail "File > Exit asks the question titled \"TeskManager\""
fi
if wait_until 10 app_gone; then
    app_status=0
    wait "$APP_PID" || app_status=$?
    APP_PID=""
    if [ "$app_status" -eq 0 ]; then
        pass "program exits with status 0 after Yes"
    else
        fail "program exits with status 0 after Yes (status $app_status)"
    fi
else
    fail "program exits after Yes (still running after 10 s; killed)"
    stop_pid "$APP_PID"
    APP_PID=""
fi

# ---------------------------------------------------------------------------------------------
# What the run left behind.

log_dir="$HOME_DIR/Documents/TeskManager"
count_logs=0
for suffix in serial network1 network2 network3; do
    n=$(find "$log_dir" -maxdepth 1 -name "*-$suffix.txt" 2>/dev/null | wc -l)
    [ "$n" -eq 1 ] && count_logs=$((count_logs + 1))
done
if [ "$count_logs" -eq 4 ]; then
    pass "four log files kept in $log_dir ($(cd "$log_dir" && ls | tr '\n' ' '))"
else
    fail "four log files kept in $log_dir (found: $(ls "$log_dir" 2>/dev/null | tr '\n' ' '))"
fi

ini="$RUN_DIR/demosettings.ini"
ini_value() { sed -n "s/^$1=//p" "$ini" 2>/dev/null | tr -d '\r"' | head -1; }
if [ -f "$ini" ] && [ "$(ini_value networkport)" = "$ECHO_PORT" ] &&
    [ "$(ini_value networkipaddress)" = "$ECHO_HOST" ] && grep -q '^\[Setup_Parameter\]' "$ini"; then
    pass "demosettings.ini holds networkport=$ECHO_PORT and networkipaddress=$ECHO_HOST"
else
    fail "demosettings.ini holds networkport=$ECHO_PORT and networkipaddress=$ECHO_HOST (file: $(tr '\n' ' ' 2>/dev/null <"$ini" || true))"
fi

summary_and_exit
