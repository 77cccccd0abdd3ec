#!/usr/bin/env bash
# krvtool export against its yardsticks on 100,000 x 250 tables, dense and sparse:
# csv beside `sqlite3 -csv` on the same file, xlsx beside a bare libxlsxwriter program
# writing the same cells. Runs alternate, best of N each (the machine's other load only
# ever adds time); CPU seconds and peak memory from /usr/bin/time.
# Usage: bench/export_bench.sh [runs, default 3] [kinds, default "dense sparse"]
#        (after building in build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="${KRV_BIN:-$root/build/bin}"
runs=${1:-3}
kinds=${2:-dense sparse}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for tool in /usr/bin/time sqlite3; do
    command -v "$tool" >/dev/null || { echo "export_bench: $tool is missing" >&2; exit 1; }
done

# "seconds peak-KB cpu-seconds" of one run, output to a file in the work folder.
measure() {
    /usr/bin/time -f '%e %M %U %S' -o "$work/time" "$@" >/dev/null
    awk '{ print $1, $2, $3 + $4 }' "$work/time"
}
best() {  # best time, its peak memory and CPU seconds over $runs runs of "$@"
    local bt=999999 bm=0 bc=0 t m c
    for ((i = 0; i < runs; i++)); do
        read -r t m c < <(measure "$@")
        if awk -v t="$t" -v b="$bt" 'BEGIN { exit !(t < b) }'; then bt=$t; bm=$m; bc=$c; fi
    done
    echo "$bt $bm $bc"
}

status=0
for kind in $kinds; do
    db="$work/$kind.db"
    "$bin/export_table_gen" "$db" "$kind"
    # Warm the page cache so neither side pays the first read.
    cat "$db" >/dev/null
    read -r st sm sc < <(best sh -c "sqlite3 -csv -header '$db' 'SELECT * FROM SamData' > '$work/s.csv'")
    read -r kt km kc < <(best "$bin/krvtool" export "$db" --output "$work/k.csv")
    read -r bt bm bc < <(best "$bin/xlsx_bare" "$work/b.xlsx" "$kind")
    read -r xt xm xc < <(best "$bin/krvtool" export "$db" --format xlsx --output "$work/k.xlsx")
    awk -v k="$kind" -v st="$st" -v kt="$kt" -v km="$km" -v bt="$bt" -v xt="$xt" -v xm="$xm" \
        -v sm="$sm" -v bm="$bm" -v sc="$sc" -v kc="$kc" -v bc="$bc" -v xc="$xc" 'BEGIN {
        f = "%-6s %s %6.2f s (cpu %5.2f) %3d MB | krvtool %6.2f s (cpu %5.2f) %3d MB | ratio %.2f (limit %s)\n"
        printf f, k, "csv:  sqlite3 -csv", st, sc, sm / 1024, kt, kc, km / 1024, kt / st, "1.5"
        printf f, k, "xlsx: bare        ", bt, bc, bm / 1024, xt, xc, xm / 1024, xt / bt, "1.2"
        exit !(kt / st <= 1.5 && xt / bt <= 1.2 && km < 65536 && xm < 65536) }' || status=1
    rm -f "$db" "$work"/*.csv "$work"/*.xlsx
done
exit $status
