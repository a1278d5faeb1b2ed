#!/usr/bin/env bash
# Takes the screenshots shown in README.md: the confirmation box, the progress dialog part
# way through, and the read-only query, each under Xvfb in the build's private Wine prefix.
# Run by hand from the project root:  docs/screenshots.sh   (VANISH_BUILD_DIR is honoured)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${VANISH_BUILD_DIR:-$root/build}"

# Builds only what the pictures need, once the build folders exist.
if [ -f "$build/win32/CMakeCache.txt" ]; then
    cmake --build "$build/host" --target vanish-pack >/dev/null
    cmake --build "$build/win32" --target showcase >/dev/null
else
    "$root/run" build >/dev/null
fi
showcase="$build/win32/tests/ui/showcase.exe"

export WINEPREFIX="$build/wineprefix" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export VANISH_BUILD="$build/win32" VANISH_SOURCE="$root"

# Whatever this starts is stopped by process id.
pids=()
stop() {
    local pid
    wineserver -k >/dev/null 2>&1 || true
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap stop EXIT

n=90
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$n"
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1 || true
wineserver -f -p >/dev/null 2>&1 </dev/null &
pids+=($!)
sleep 0.5
"$root/tests/rig/configure-prefix"

work=$(mktemp -d)
# shot NAME MODE: shows MODE, waits for its rectangle, captures the screen, cuts out the
# window, frames it in light grey and saves docs/NAME.png.
shot() {
    local name=$1 mode=$2 rect="$work/$2.rect"
    rm -f "$rect"
    (cd "$(dirname "$showcase")" && wine "$showcase" "$mode" "Z:${rect//\//\\}" >/dev/null 2>&1) &
    local pid=$!
    for _ in $(seq 900); do [ -s "$rect" ] && break; sleep 0.1; done
    sleep 1.5 # let the window finish drawing
    if [ ! -s "$rect" ]; then
        echo "screenshots: $mode showed nothing" >&2
        wait "$pid" || true
        return 1
    fi
    read -r left top right bottom < <(tr -d "\r" <"$rect")
    import -window root -display "$DISPLAY" "$work/$mode.png"
    convert "$work/$mode.png" -crop "$((right - left))x$((bottom - top))+$left+$top" +repage \
        -bordercolor '#dcdcdc' -border 12 "$root/docs/$name.png"
    wait "$pid" || true
    echo "docs/$name.png"
}

shot confirmation confirm
shot progress progress
shot read-only-query readonly
# Texts written right to left: the same, mirrored, in Hebrew.
export LANG=he_IL.UTF-8 LC_ALL=he_IL.UTF-8
shot confirmation-rtl confirm-rtl
shot progress-rtl progress-rtl
shot read-only-query-rtl readonly-rtl
rm -rf "$work"
