#!/usr/bin/env bash
# Cross-builds krvarchiver.exe and the core test programs for 64-bit Windows with
# MinGW-w64, statically linked. SQLite comes from upstream's own amalgamation as the
# registry package sqlite3 ships it; it is fetched once into build-win/deps (outside
# version control) and checked against a pinned SHA-256 on every run.
#
#   scripts/windows-build.sh          build into build-win/
#   scripts/windows-build.sh --test   build, then run every test under Wine
#
# KRV_WIN_BUILD names another build folder; KRV_LINUX_EXE the Linux krvarchiver the
# end-to-end test compares with (default build/bin/krvarchiver).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${KRV_WIN_BUILD:-$root/build-win}
deps=$out/deps

sqlite_package=sqlite3@6.0.1
sqlite_tarball=sqlite-autoconf-3520000.tar.gz
sqlite_sha256=f6b50b0c103392af32a8be15b2b9d25959de9a00a70c3979128aafeaa5338b3f
sqlite_dir=$deps/sqlite-autoconf-3520000

mkdir -p "$deps"
if [ ! -f "$deps/package/deps/$sqlite_tarball" ]; then
    (cd "$deps" && npm pack --silent "$sqlite_package" >/dev/null)
    tar -xzf "$deps/sqlite3-6.0.1.tgz" -C "$deps" "package/deps/$sqlite_tarball"
fi
if ! echo "$sqlite_sha256  $deps/package/deps/$sqlite_tarball" | sha256sum -c --quiet -; then
    echo "windows-build: $sqlite_tarball does not match its pinned SHA-256; removed" >&2
    rm -rf "$deps/package" "$sqlite_dir" "$deps/sqlite3-6.0.1.tgz"
    exit 1
fi
if [ ! -f "$sqlite_dir/sqlite3.c" ]; then
    tar -xzf "$deps/package/deps/$sqlite_tarball" -C "$deps" \
        sqlite-autoconf-3520000/sqlite3.c sqlite-autoconf-3520000/sqlite3.h
fi

cmake -S "$root" -B "$out" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRV_CORE_ONLY=ON -DKRV_BUILD_BENCH=OFF \
    -DKRV_SQLITE_SOURCE_DIR="$sqlite_dir" \
    -DKRV_LINUX_EXE="${KRV_LINUX_EXE:-$root/build/bin/krvarchiver}" >/dev/null
cmake --build "$out" -j"${KRV_JOBS:-$(nproc)}"

if [ "${1:-}" = --test ]; then
    # The first run makes the prefix; doing it here keeps parallel tests from racing on it.
    WINEDEBUG=-all WINEARCH=win64 WINEPREFIX="$out/wineprefix" wine wineboot -i >/dev/null 2>&1
    ctest --test-dir "$out" --output-on-failure -j"${KRV_JOBS:-$(nproc)}"
fi
