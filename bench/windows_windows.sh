#!/usr/bin/env bash
# The windows of the Windows build under Wine against the Linux build, on a virtual display:
# the main window's start (from the start of the process to its window on the screen, Wine
# already running, as Windows is on the counting PC), and the viewer's open of 100,000
# records × 250 columns (from the press of "Edit Results DataBase" to the viewer on the
# screen), the same file for both.
# Usage: bench/windows_windows.sh [runs, default 5]
#        (after building build/ and build-win/, scripts/windows-build.sh; needs xvfb-run,
#        xdotool, wine)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="${KRV_BIN:-$root/build/bin}"
winfolder="${KRV_WIN_FOLDER:-$root/build-win/KrvArchiver}"
runs=${1:-5}
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
for tool in wine wineserver xdotool; do
    command -v "$tool" >/dev/null || { echo "windows_windows: $tool is missing" >&2; exit 1; }
done
work=$(mktemp -d /tmp/krvbench.XXXXXX)
export WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="${KRV_WINEPREFIX:-$root/build-win/wineprefix-bench}"
export LC_ALL=C.UTF-8
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT

mkdir "$work/linux"
cp "$bin/krvarchiver" "$work/linux/"
cp -r "$winfolder" "$work/win"
"$bin/export_table_gen" "$work/RESULTS.MDB" dense >/dev/null
touch "$work/RESULTS.TXT"
printf '%-72s%-72s' "$work/RESULTS.MDB" "$work/RESULTS.TXT" >"$work/linux/ARC&FILE.DAT"
winwork="Z:${work//\//\\}"
printf '%-72s%-72s' "$winwork\\RESULTS.MDB" "$winwork\\RESULTS.TXT" >"$work/win/ARC&FILE.DAT"
mkdir -p "$WINEPREFIX"
wine wineboot -i </dev/null >/dev/null 2>&1
wineserver -w
wineserver -p  # kept running between runs, as Windows itself is
now() { date +%s%N; }
# xdotool's own --sync looks twice a second; this looks fifty times.
wait_for() {
    until xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; do sleep 0.02; done
}

# One run: prints the milliseconds to the main window and to the viewer.
once() {
    local start shown pressed viewer pid
    start=$(now)
    "$@" >/dev/null 2>&1 &
    pid=$!
    wait_for '^KDP Korvane Archiver 020514$'
    shown=$(now)
    sleep 1
    # Without a window manager on the virtual display, focus is given, not asked for.
    xdotool search --onlyvisible --name '^KDP Korvane Archiver 020514$' windowfocus --sync
    # The focus runs from the mode buttons through the two paths to the six buttons.
    xdotool key --delay 100 Tab Tab Tab Tab Tab Tab
    pressed=$(now)
    xdotool key space
    wait_for '^Edit Results.MDB$'
    viewer=$(now)
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    echo "$(((shown - start) / 1000000)) $(((viewer - pressed) / 1000000))"
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }

for build in linux win; do
    : >"$work/$build.times"
    for ((i = 0; i <= runs; i++)); do
        if [ "$build" = linux ]; then
            line=$(once "$work/linux/krvarchiver")
        else
            line=$(once wine "$work/win/krvarchiver.exe")
        fi
        ((i == 0)) || echo "$line" >>"$work/$build.times"  # the first run warms the caches
    done
    printf '%-6s main window %6s ms   viewer of 100,000 x 250 %6s ms   (median of %d)\n' \
        "$build" "$(cut -d' ' -f1 "$work/$build.times" | median)" \
        "$(cut -d' ' -f2 "$work/$build.times" | median)" "$runs"
done
