#!/usr/bin/env bash
# The cached Qt for Windows is used only whole: a copy of the cache passes the check, a
# copy with one file damaged or without its stamp fails it and is removed, so the next
# build starts afresh rather than linking against half a Qt.
#   qt_cache_check.sh QT_PREFIX
set -euo pipefail
script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/qt-windows.sh
prefix=$1
name=$(basename "$prefix")
work=$(mktemp -d /tmp/krvqt.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "qt_cache_check: $*" >&2; exit 1; }

for damage in none file stamp; do
    rm -rf "${work:?}/$name"
    cp -a "$prefix" "$work/$name"
    case $damage in
        file) printf 'x' >>"$work/$name/bin/Qt6Widgets.dll" ;;
        stamp) rm "$work/$name/.complete" ;;
    esac
    if KRV_QT_CACHE=$work "$script" --check 2>/dev/null; then
        [ $damage = none ] || fail "a cache with a damaged $damage passed the check"
    else
        [ $damage != none ] || fail "a whole cache failed the check"
        [ ! -e "$work/$name" ] || fail "a cache with a damaged $damage was left in place"
    fi
done
echo "qt_cache_check: whole cache used, damaged ones removed"
