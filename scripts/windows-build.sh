#!/usr/bin/env bash
# Cross-builds the Windows program for 64-bit Windows with MinGW-w64: krvarchiver.exe
# (the main window, the viewer and the unattended jobs), krvtool.exe and the tests, against
# Qt built from Debian's source by scripts/qt-windows.sh. SQLite comes from upstream's own
# amalgamation as the registry package sqlite3 ships it; it is fetched once into
# build-win/deps (outside version control) and checked against a pinned SHA-256 on every
# run. libxlsxwriter is built from Debian's source package into the same folder.
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

qt=$("$root/scripts/qt-windows.sh")

# libxlsxwriter from Debian's source, static, with MinGW's zlib. A prefix counts only with
# its stamp, written last, so an interrupted build is made again rather than half used.
xlsx=$deps/xlsxwriter
if [ ! -f "$xlsx/.complete" ]; then
    rm -rf "$xlsx" "$deps/xlsxwriter-src"
    mkdir -p "$deps/xlsxwriter-src"
    (cd "$deps/xlsxwriter-src" && apt-get source -qq libxlsxwriter >/dev/null 2>&1) || {
        echo "windows-build: apt-get source libxlsxwriter failed" >&2
        exit 1
    }
    xsrc=$(find "$deps/xlsxwriter-src" -maxdepth 1 -mindepth 1 -type d -name 'libxlsxwriter-*')
    cmake -S "$xsrc" -B "$deps/xlsxwriter-src/build" \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_SHARED_LIBS=OFF -DCMAKE_INSTALL_PREFIX="$xlsx" >/dev/null
    cmake --build "$deps/xlsxwriter-src/build" -j"${KRV_JOBS:-$(nproc)}" >/dev/null
    cmake --install "$deps/xlsxwriter-src/build" >/dev/null
    rm -rf "$deps/xlsxwriter-src"
    touch "$xlsx/.complete"
fi

PKG_CONFIG_LIBDIR="$xlsx/lib/pkgconfig" \
cmake -S "$root" -B "$out" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DKRV_MINGW_SHARED=ON -DKRV_WINDOWS_PREFIXES="$qt;$xlsx" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRV_BUILD_BENCH=OFF \
    -DKRV_SQLITE_SOURCE_DIR="$sqlite_dir" \
    -DKRV_LINUX_EXE="${KRV_LINUX_EXE:-$root/build/bin/krvarchiver}" >/dev/null
cmake --build "$out" -j"${KRV_JOBS:-$(nproc)}"

# The program folder: copied to the counting PC as it is, and what the installer holds.
# It is laid out beside its place and renamed into it, so a failed run leaves the last
# good folder or none, never a half one.
stage=$out/KrvArchiver
rm -rf "$stage.new"
mkdir -p "$stage.new/platforms"
cp "$out/bin/krvarchiver.exe" "$out/bin/krvtool.exe" "$stage.new/"
cp "$qt/plugins/platforms/qwindows.dll" "$stage.new/platforms/"
# Every DLL that a file of the folder imports and that Qt or MinGW provides, followed
# through the DLLs it brings in; the rest are Windows' own.
dll_dirs=("$qt/bin" /usr/lib/gcc/x86_64-w64-mingw32/*-posix /usr/x86_64-w64-mingw32/lib)
queue=("$stage.new"/*.exe "$stage.new"/platforms/*.dll)
while ((${#queue[@]})); do
    file=${queue[0]}
    queue=("${queue[@]:1}")
    for dll in $(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p'); do
        [ -e "$stage.new/$dll" ] && continue
        for d in "${dll_dirs[@]}"; do
            if [ -f "$d/$dll" ]; then
                cp "$d/$dll" "$stage.new/"
                queue+=("$stage.new/$dll")
                break
            fi
        done
    done
done
x86_64-w64-mingw32-strip --strip-unneeded "$stage.new"/*.exe "$stage.new"/*.dll \
    "$stage.new"/platforms/*.dll
cp "$root/LICENSE" "$stage.new/LICENSE.txt"
cp "$root/dist/windows/THIRD-PARTY-NOTICES.txt" "$stage.new/"
cp /usr/share/common-licenses/LGPL-3 "$stage.new/LGPL-3.0.txt"
cp /usr/share/common-licenses/GPL-3 "$stage.new/GPL-3.0.txt"
rm -rf "$stage"
mv "$stage.new" "$stage"
"$root/scripts/windows-installer.sh" "$stage" "$out/KrvArchiver-setup.exe"
# The test programs run from the build folder and find the same DLLs beside them, with the
# offscreen platform the window tests use.
cp "$stage"/*.dll "$qt/bin/Qt6Test.dll" "$out/bin/"
mkdir -p "$out/bin/platforms"
cp "$qt/plugins/platforms/qwindows.dll" "$qt/plugins/platforms/qoffscreen.dll" "$out/bin/platforms/"

if [ "${1:-}" = --test ]; then
    # The first run makes the prefix; doing it here keeps parallel tests from racing on it.
    WINEDEBUG=-all WINEARCH=win64 WINEPREFIX="$out/wineprefix" wine wineboot -i >/dev/null 2>&1
    ctest --test-dir "$out" --output-on-failure -j"${KRV_JOBS:-$(nproc)}"
fi
