#!/usr/bin/env bash
# krvtool export against its yardsticks on 100,000 x 250 tables, dense and sparse:
# csv beside `sqlite3 -csv` on the same file, xlsx beside a bare libxlsxwriter program
# writing the same cells. Runs alternate, best of N each; peak memory from /usr/bin/time.
# Usage: bench/export_bench.sh [runs, default 3]   (after building in build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="${KRV_BIN:-$root/build/bin}"
runs=${1:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for tool in /usr/bin/time sqlite3; do
    command -v "$tool" >/dev/null || { echo "export_bench: $tool is missing" >&2; exit 1; }
done

# "seconds peak-KB" of one run, output to a file in the work folder.
measure() {
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null
    cat "$work/time"
}
best() {  # best time and its peak memory over $runs runs of "$@"
    local bt=999999 bm=0 t m
    for ((i = 0; i < runs; i++)); do
        read -r t m < <(measure "$@")
        if awk -v t="$t" -v b="$bt" 'BEGIN { exit !(t < b) }'; then bt=$t; bm=$m; fi
    done
    echo "$bt $bm"
}

status=0
for kind in dense sparse; do
    db="$work/$kind.db"
    "$bin/export_table_gen" "$db" "$kind"
    # Warm the page cache so neither side pays the first read.
    cat "$db" >/dev/null
    read -r st sm < <(best sh -c "sqlite3 -csv -header '$db' 'SELECT * FROM SamData' > '$work/s.csv'")
    read -r kt km < <(best "$bin/krvtool" export "$db" --output "$work/k.csv")
    read -r bt bm < <(best "$bin/xlsx_bare" "$work/b.xlsx" "$kind")
    read -r xt xm < <(best "$bin/krvtool" export "$db" --format xlsx --output "$work/k.xlsx")
    awk -v k="$kind" -v st="$st" -v kt="$kt" -v km="$km" -v bt="$bt" -v xt="$xt" -v xm="$xm" \
        -v sm="$sm" -v bm="$bm" 'BEGIN {
        printf "%-6s csv:  sqlite3 -csv %6.2f s %4d MB | krvtool %6.2f s %4d MB | ratio %.2f (limit 1.5)\n",
               k, st, sm / 1024, kt, km / 1024, kt / st
        printf "%-6s xlsx: bare         %6.2f s %4d MB | krvtool %6.2f s %4d MB | ratio %.2f (limit 1.2)\n",
               k, bt, bm / 1024, xt, xm / 1024, xt / bt
        exit !(kt / st <= 1.5 && xt / bt <= 1.2 && km < 65536 && xm < 65536) }' || status=1
    rm -f "$db" "$work"/*.csv "$work"/*.xlsx
done
exit $status
