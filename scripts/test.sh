#!/usr/bin/env bash
# Builds and runs every test: the whole suite, the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, and short fuzzing runs. KRV_FAST=1 runs only the fast suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
jobs=$(nproc)

cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j"$jobs"
# The Windows build of the unattended jobs, its tests under Wine and its jobs compared
# with the Linux build just made: a failure here fails the whole test command.
KRV_JOBS=$jobs KRV_LINUX_EXE="$root/build/bin/krvarchiver" "$root/scripts/windows-build.sh" --test
if [ "${KRV_FAST:-0}" = 1 ]; then
    ctest --test-dir "$root/build" --output-on-failure -j"$jobs" -LE slow
    exit 0
fi
ctest --test-dir "$root/build" --output-on-failure -j"$jobs"
# The Debian package: contents, lintian, install, unattended runs as a user, removal.
"$root/scripts/package-check.sh" "$root/build"

"$root/scripts/fuzz.sh" "${KRV_FUZZ_SECONDS:-30}"

cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DKRV_SANITIZE=ON \
    -DKRV_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-asan" -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions="$root/tests/lsan.supp" \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$root/build-asan" --output-on-failure -j"$jobs"
