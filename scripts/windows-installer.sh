#!/usr/bin/env bash
# Makes the Windows installer from a staged program folder (the folder that can also be
# copied to the counting PC as it is):
#
#   scripts/windows-installer.sh STAGE OUTFILE
#
# The installer puts exactly the staged files into Program Files and its uninstaller takes
# exactly those away again, so it lists them both from the folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -eq 2 ] || { echo "usage: $0 STAGE OUTFILE" >&2; exit 2; }
stage=$(cd "$1" && pwd)
out=$2
command -v makensis >/dev/null || { echo "windows-installer: makensis (nsis) is missing" >&2; exit 1; }
version=$(sed -n 's/^project(KrvArchiver VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")

lists=$(mktemp -d)
trap 'rm -rf "$lists"' EXIT
winpath() { printf '%s' "$1" | sed 's|/|\\|g'; }
{
    echo 'SetOutPath "$INSTDIR"'
    (cd "$stage" && find . -maxdepth 1 -type f | sort) | while read -r f; do
        echo "File \"$stage/${f#./}\""
    done
    (cd "$stage" && find . -mindepth 1 -type d | sort) | while read -r d; do
        d=${d#./}
        echo "SetOutPath \"\$INSTDIR\\$(winpath "$d")\""
        (cd "$stage/$d" && find . -maxdepth 1 -type f | sort) | while read -r f; do
            echo "File \"$stage/$d/${f#./}\""
        done
    done
    echo 'SetOutPath "$INSTDIR"'
} >"$lists/files.nsh"
{
    (cd "$stage" && find . -type f | sort) | while read -r f; do
        echo "Delete \"\$INSTDIR\\$(winpath "${f#./}")\""
    done
    # Deepest folders first; RMDir leaves a folder that still holds a user's files.
    (cd "$stage" && find . -mindepth 1 -type d | sort -r) | while read -r d; do
        echo "RMDir \"\$INSTDIR\\$(winpath "${d#./}")\""
    done
} >"$lists/unfiles.nsh"

makensis -V2 -DSTAGE="$stage" -DFILES="$lists/files.nsh" -DUNFILES="$lists/unfiles.nsh" \
    -DVERSION="$version" -DOUTFILE="$(realpath -m "$out")" "$root/dist/windows/krvarchiver.nsi"
