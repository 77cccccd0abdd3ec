#!/usr/bin/env bash
# Installs what building, running and testing KrvArchiver needs on Debian 12 (as root).
set -euo pipefail
packages=(cmake g++ clang libclang-rt-14-dev qt6-base-dev libgl-dev libsqlite3-dev sqlite3
          libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth imagemagick
          # server store, exports (zlib: reading a written workbook back), legacy import,
          # quality-control charts
          postgresql libpq-dev libssl-dev libxlsxwriter-dev zlib1g-dev mdbtools-dev mdbtools pkgconf qt6-charts-dev qt6-svg-dev
          # finding libxlsxwriter, and the export benchmark's peak-memory figures
          time
          # readers the tests check our outputs with, and the fault-injection sweep
          python3 python3-openpyxl strace
          # the Windows build of the unattended jobs, and its tests
          g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest wine64 xdotool fonts-dejavu-core
          # the Debian package and its checks
          dpkg-dev fakeroot file lintian desktop-file-utils appstream man-db xdg-utils
          # Qt for Windows from Debian's source, and the Windows installer
          ninja-build nsis)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}"
fi
