#!/usr/bin/env bash
# Whole-process time of an unattended `krvarchiver NET` (a station's job after a count)
# appending into a SQLite file and into a local PostgreSQL 15 server over its Unix
# socket, side by side. The server is a throwaway one in a temporary folder, fsync on.
# Usage (as root, after building in build/): bench/server_job_run.sh [runs, default 50]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="${KRV_BIN:-$root/build/bin}"
pg=/usr/lib/postgresql/15/bin
runs=${1:-50}
work=$(mktemp -d)
server=$(mktemp -d)
chown postgres: "$server"
stop() {
    runuser -u postgres -- "$pg/pg_ctl" -D "$server/data" -m fast -w stop >/dev/null 2>&1 || true
    rm -rf "$work" "$server"
}
trap stop EXIT
runuser -u postgres -- "$pg/initdb" -D "$server/data" -U postgres -A trust --no-sync -E UTF8 \
    --locale=C.UTF-8 >/dev/null
runuser -u postgres -- "$pg/pg_ctl" -D "$server/data" -l "$server/log" -w \
    -o "-k $server -c listen_addresses=''" start >/dev/null
export PGHOST="$server" PGUSER=postgres

mkdir "$work/file" "$work/server"
for place in file server; do
    cp "$bin/krvarchiver" "$work/$place/"
    "$bin/minimal_append" write-report "$work/$place/RESULTS.TXT"
done
printf '%-72s%-72s' "$work/file/RESULTS.MDB" "$work/file/RESULTS.TXT" >"$work/file/ARC&FILE.DAT"
printf '%-72s%-72s' "postgresql:///postgres" "$work/server/RESULTS.TXT" >"$work/server/ARC&FILE.DAT"
unset DISPLAY WAYLAND_DISPLAY
"$work/file/krvarchiver" NET  # creates the archives and their 100 isotope columns
"$work/server/krvarchiver" NET

timeit() {
    local start end
    start=$(date +%s%N)
    for ((i = 0; i < runs; i++)); do "$@" >/dev/null; done
    end=$(date +%s%N)
    echo $(((end - start) / runs / 1000))
}
into_file=$(timeit "$work/file/krvarchiver" NET)
into_server=$(timeit "$work/server/krvarchiver" NET)
echo "krvarchiver NET into a file:    ${into_file} us per run"
echo "krvarchiver NET into a server:  ${into_server} us per run"
awk -v s="$into_server" -v f="$into_file" 'BEGIN { printf "ratio:                          %.2f\n", s / f }'
