#!/usr/bin/env bash
# Whole-process time of an unattended `krvarchiver NET`: the Windows build under Wine
# against the Linux build, same report, same kind of database (100 isotope columns).
# Wine's own start-up dominates the Windows figure, so it is given twice: with Wine's
# server already running (as Windows itself is on the counting PC) and with a cold
# start of Wine for every run.
# Usage: bench/windows_unattended.sh [runs, default 20]
#        (after building build/ and build-win/, scripts/windows-build.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="${KRV_BIN:-$root/build/bin}"
winfolder="${KRV_WIN_FOLDER:-$root/build-win/KrvArchiver}"
runs=${1:-20}
for tool in wine wineserver; do
    command -v "$tool" >/dev/null || { echo "windows_unattended: $tool is missing" >&2; exit 1; }
done
work=$(mktemp -d /tmp/krvbench.XXXXXX)
export WINEDEBUG=-all WINEARCH=win64 WINEPREFIX="${KRV_WINEPREFIX:-$root/build-win/wineprefix-bench}"
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT

mkdir "$work/linux"
cp "$bin/krvarchiver" "$work/linux/"
cp -r "$winfolder" "$work/win"
"$bin/minimal_append" write-report "$work/RESULTS.TXT"
printf '%-72s%-72s' "$work/linux/RESULTS.MDB" "$work/RESULTS.TXT" >"$work/linux/ARC&FILE.DAT"
winwork="Z:${work//\//\\}"
printf '%-72s%-72s' "$winwork\\win\\RESULTS.MDB" "$winwork\\RESULTS.TXT" >"$work/win/ARC&FILE.DAT"

mkdir -p "$WINEPREFIX"
wine wineboot -i </dev/null >/dev/null 2>&1
wineserver -w
"$work/linux/krvarchiver" NET  # creates each database and its 100 isotope columns
wine "$work/win/krvarchiver.exe" NET
wineserver -w

timeit() {
    local start end
    start=$(date +%s%N)
    for ((i = 0; i < runs; i++)); do "$@" >/dev/null; done
    end=$(date +%s%N)
    echo $(((end - start) / runs / 1000))
}
cold() {
    wine "$@"
    wineserver -w
}
linux=$(timeit "$work/linux/krvarchiver" NET)
wine_cold=$(timeit cold "$work/win/krvarchiver.exe" NET)
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot -i </dev/null >/dev/null 2>&1
wine_warm=$(timeit wine "$work/win/krvarchiver.exe" NET)
echo "Linux build:                   ${linux} us per run"
echo "Windows build, Wine running:   ${wine_warm} us per run"
echo "Windows build, Wine cold:      ${wine_cold} us per run"
awk -v w="$wine_warm" -v l="$linux" 'BEGIN { printf "ratio (Wine running / Linux): %.1f\n", w / l }'
