#!/usr/bin/env bash
# Whole-process time of an unattended `krvarchiver NET` against the minimal program that
# reads the same report, opens the same database, inserts one row and commits.
# Usage: bench/unattended_run.sh [runs, default 50]   (after building in build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="${KRV_BIN:-$root/build/bin}"
runs=${1:-50}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$bin/krvarchiver" "$work/"
"$bin/minimal_append" write-report "$work/RESULTS.TXT"
printf '%-72s%-72s' "$work/RESULTS.MDB" "$work/RESULTS.TXT" >"$work/ARC&FILE.DAT"
unset DISPLAY WAYLAND_DISPLAY
"$work/krvarchiver" NET  # creates the database and its 100 isotope columns

timeit() {
    local start end
    start=$(date +%s%N)
    for ((i = 0; i < runs; i++)); do "$@" >/dev/null; done
    end=$(date +%s%N)
    echo $(((end - start) / runs / 1000))
}
minimal=$(timeit "$bin/minimal_append" run "$work/RESULTS.TXT" "$work/RESULTS.MDB")
archiver=$(timeit "$work/krvarchiver" NET)
echo "minimal program:     ${minimal} us per run"
echo "krvarchiver NET:     ${archiver} us per run"
awk -v a="$archiver" -v m="$minimal" 'BEGIN { printf "ratio:               %.2f\n", a / m }'
