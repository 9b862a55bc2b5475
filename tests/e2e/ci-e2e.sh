#!/usr/bin/env bash
# Packaging and desktop run as a user meets them: build the Debian package, install it with apt,
# check the installed desktop entry and AppStream data, then drive the installed program in a
# real X server through the accessibility bus (run-e2e.py). Run as root (or with sudo available)
# from any folder. QT=6 does all of it with the package built against Qt 6.
set -euo pipefail
cd "$(dirname "$0")/../.."

export DEBIAN_FRONTEND=noninteractive
started=$(date +%s)
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo

passed=0
failed=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
check() {
    local name=$1
    shift
    if "$@"; then pass "$name"; else fail "$name"; fi
}

# What the run needs, the package and the folder it lands in all come from the Makefile, for the
# Qt named by QT in the environment (`make e2e QT=6` sets it), else the Makefile's default.
make e2e-deps package
qt=$(make --no-print-directory -s print-QT)
release_dir=$(make --no-print-directory -s print-RELEASE_DIR)

# The newest package of this build; an older version left in the folder must not be picked.
deb=$(ls -t "$release_dir"/teskmanager_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "FAIL: make package left no $release_dir/teskmanager_*.deb"; exit 1; }
echo "Package: $deb"
dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Depends\|Section\|Maintainer\):/  &/p'
# --reinstall: the version number does not change between builds, and apt would otherwise keep
# the copy installed by an earlier run.
$SUDO apt-get install -y -q --reinstall "$(realpath "$deb")"

metainfo=/usr/share/metainfo/org.example.teskmanager.metainfo.xml
desktop=/usr/share/applications/teskmanager.desktop
manpage=/usr/share/man/man1/teskmanager.1.gz
check "teskmanager is on PATH at /usr/bin/teskmanager" \
    test "$(command -v teskmanager || true)" = /usr/bin/teskmanager
check "teskmanager-run is on PATH at /usr/bin/teskmanager-run" \
    test "$(command -v teskmanager-run || true)" = /usr/bin/teskmanager-run
# A run of scripts that needs no display links no part of Qt that draws.
no_gui() { ! ldd /usr/bin/teskmanager-run | grep -q -e Gui -e Widgets; }
check "teskmanager-run links neither Qt Gui nor Qt Widgets" no_gui
installed() { dpkg-query -W -f='${Status}' teskmanager 2>/dev/null | grep -q "ok installed"; }
# Built against one Qt, the package must need that one's libraries and none of the other's.
qt_depends() {
    local depends other=$((11 - qt))
    depends=$(dpkg-deb -f "$deb" Depends)
    grep -q "libqt${qt}widgets${qt}" <<<"$depends" && ! grep -q "libqt${other}" <<<"$depends"
}
check "package teskmanager is installed" installed
check "package depends on the Qt $qt libraries found by dpkg-shlibdeps, not on Qt $((11 - qt))" \
    qt_depends
for f in "$desktop" "$metainfo" /usr/share/doc/teskmanager/copyright \
    /usr/share/icons/hicolor/{32x32,48x48,128x128,256x256}/apps/teskmanager.png \
    /usr/share/icons/hicolor/scalable/apps/teskmanager.svg "$manpage" \
    /usr/share/man/man1/teskmanager-run.1.gz; do
    check "installed $f" test -s "$f"
done
check "desktop-file-validate $desktop" desktop-file-validate "$desktop"
# Any complaint of man or groff (on standard error) counts, not only the exit status.
man_clean() {
    local out
    out=$(MANWIDTH=80 man --warnings -l "$manpage" 2>&1 >/dev/null) || return 1
    [ -z "$out" ] || { echo "$out"; return 1; }
}
check "man --warnings -l $manpage renders without warnings" man_clean
man_options() {
    local page
    page=$(MANWIDTH=80 man -l "$manpage" 2>/dev/null) || return 1
    local option
    for option in --help --version --serial-port; do
        grep -q -e "$option" <<<"$page" || { echo "no $option in the manual page"; return 1; }
    done
}
check "the manual page lists --help, --version and --serial-port" man_options
check "man -w teskmanager finds $manpage" test "$(man -w teskmanager 2>/dev/null)" = "$manpage"
check "appstreamcli validate --no-net $metainfo" appstreamcli validate --no-net "$metainfo"
# validate-tree also checks that the launchable names a desktop entry of the same package.
tree=$(mktemp -d)
dpkg-deb -x "$deb" "$tree"
check "appstreamcli validate-tree --no-net on the package contents" \
    appstreamcli validate-tree --no-net "$tree"
rm -rf "$tree"

# Debian's python3, which has pyatspi, whatever python3 comes first on PATH.
e2e_status=0
TESKMANAGER=/usr/bin/teskmanager timeout 120 tools/x-session.sh /usr/bin/python3 tests/e2e/run-e2e.py || e2e_status=$?
check "end-to-end run of the installed program" test "$e2e_status" -eq 0

# The unattended run lasts UNATTENDED_SECONDS (25 by default; it names a wrong value itself).
unattended_seconds=${UNATTENDED_SECONDS:-25}
[[ $unattended_seconds =~ ^[0-9]+$ ]] || unattended_seconds=25
check "an unattended run recovers a reset device and a restarted server on its own, its logs matching what its peers got" \
    env TESKMANAGER=/usr/bin/teskmanager timeout $((unattended_seconds + 95)) \
    tools/x-session.sh bash tests/e2e/unattended.sh

check "the example scripts pass against socat devices, and a failing device fails the run" \
    env TESKMANAGER=/usr/bin/teskmanager TESKMANAGER_RUN=/usr/bin/teskmanager-run timeout 180 \
    tools/x-session.sh bash tests/e2e/scripted.sh

echo "ci-e2e: $passed passed, $failed failed, $(($(date +%s) - started)) s"
[ "$failed" -eq 0 ] || exit 1
