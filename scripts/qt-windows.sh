#!/usr/bin/env bash
# Builds Qt 6 for 64-bit Windows from Debian's own source package of qt6-base, with the
# MinGW-w64 cross compiler, and keeps it in a cache outside the checkout. Only the first
# run pays for the build (about 32 CPU-minutes); later runs print the cached prefix.
#
#   scripts/qt-windows.sh          prints the prefix of a complete cached Qt, building it
#                                  first when the cache has none for today's key
#   scripts/qt-windows.sh --check  exits 0 when the cache holds a complete Qt for today's
#                                  key, 1 when it holds none (a damaged one is removed)
#
# The key is the source package's version, the compiler's version, the configure options
# and the patches below, so a change of any of them builds anew. A prefix counts only with
# its stamp, written last, which lists every file's SHA-256: a build that was killed or
# failed leaves no usable prefix, and a prefix whose files do not match its stamp (or that
# has none) is removed and built again, never half used.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${KRV_QT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/krvarchiver}
jobs=${KRV_JOBS:-$(nproc)}
cc=x86_64-w64-mingw32-g++-posix

log() { echo "qt-windows: $*" >&2; }

# apt-get source needs a deb-src entry: the machine's own Debian list with its type changed,
# so the source comes from wherever this machine already gets its packages.
ensure_source_list() {
    local list=/etc/apt/sources.list.d/krvarchiver-debian-src.sources
    apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Version:' && return 0
    local src=/etc/apt/sources.list.d/debian.sources
    [ -f "$src" ] || { log "no $src to copy a deb-src entry from"; exit 1; }
    sed 's/^Types:.*/Types: deb-src/' "$src" >"$list"
    apt-get update -qq
}

ensure_source_list
version=$(apt-cache showsrc qt6-base | sed -n 's/^Version: //p' | sort -V | tail -n 1)
options=(
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
    # What the windows and their tests use: Core, Gui, Widgets, Test and the platform
    # plugins windows (the screen) and offscreen (the tests). OpenGL stays: the windows
    # plugin of 6.4 does not compile without it.
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF
    -DFEATURE_testlib=ON -DFEATURE_widgets=ON
    # Debian's repacked source lacks src/3rdparty/wintab, which tablet events need.
    -DFEATURE_tabletevent=OFF
    # Direct2D is not needed for Widgets; without it, DirectWrite 3's font database does not
    # link in 6.4, so the GDI/DirectWrite 1 database serves.
    -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF
    # The offscreen plugin draws text through FreeType (the copy bundled with Qt).
    -DFEATURE_freetype=ON -DFEATURE_system_freetype=OFF
    -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF
    -DFEATURE_system_doubleconversion=OFF
)
patches=("$root"/scripts/qt-windows-patches/*.patch)
[ -e "${patches[0]}" ] || patches=()
key=$( {
    echo "$version"
    "$cc" --version | head -n 1
    printf '%s\n' "${options[@]}"
    cat "${patches[@]}" /dev/null
} | sha256sum | cut -c1-16)
prefix=$cache/qt6-windows-$key
stamp=$prefix/.complete

complete() {
    [ -f "$stamp" ] && (cd "$prefix" && sha256sum --check --quiet --strict .complete) >/dev/null 2>&1
}
if complete; then
    [ "${1:-}" = --check ] || echo "$prefix"
    exit 0
fi
[ -e "$prefix" ] && { log "removing an incomplete or damaged Qt at $prefix"; rm -rf "$prefix"; }
[ "${1:-}" = --check ] && exit 1

work=$cache/qt6-windows-$key.work
rm -rf "$work"
mkdir -p "$work"
log "building Qt $version for Windows into $prefix (key $key)"
(cd "$work" && apt-get source -qq qt6-base="$version" >/dev/null 2>&1) || {
    log "apt-get source qt6-base=$version failed"
    exit 1
}
src=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'qt6-base-*' | head -n 1)
for p in "${patches[@]}"; do
    patch -d "$src" -p1 --quiet <"$p"
done

cmake -S "$src" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DKRV_MINGW_SHARED=ON \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$prefix" "${options[@]}" >"$work/configure.log" 2>&1 || {
    log "configure failed; see $work/configure.log"
    exit 1
}
cmake --build "$work/build" -j"$jobs" >"$work/build.log" 2>&1 || {
    log "build failed; see $work/build.log"
    exit 1
}
cmake --install "$work/build" >"$work/install.log" 2>&1 || {
    log "install failed; see $work/install.log"
    exit 1
}
(cd "$prefix" && find . -type f -print0 | sort -z | xargs -0 sha256sum) >"$work/complete"
mv "$work/complete" "$stamp"
rm -rf "$work"
echo "$prefix"
