#!/usr/bin/env bash
# Fuzzes the report reader, the settings-file restore and the quality-control readers
# (values, dates, record filters, half-life files) with libFuzzer (clang).
# Usage: scripts/fuzz.sh [seconds per target, default 30]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKRV_FUZZ=ON -DKRV_BUILD_TESTS=OFF -DKRV_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-fuzz" --target report_fuzz settings_fuzz qc_fuzz -j"$(nproc)"
for target in report settings qc; do
    # New inputs go to a scratch corpus; the seeds under version control stay as they are.
    work="$root/build-fuzz/corpus-$target"
    mkdir -p "$work"
    echo "fuzzing $target for ${seconds}s"
    "$root/build-fuzz/bin/${target}_fuzz" -max_total_time="$seconds" -max_len=1048576 \
        -rss_limit_mb=2048 -print_final_stats=1 "$work" "$root/fuzz/corpus/$target" \
        2>"$root/build-fuzz/$target.log" || { tail -50 "$root/build-fuzz/$target.log"; exit 1; }
    grep -E 'stat::number_of_executed_units|Done' "$root/build-fuzz/$target.log" | tail -2
done
echo "fuzzing finished without a crash"
