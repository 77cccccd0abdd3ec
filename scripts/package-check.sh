#!/usr/bin/env bash
# Builds the Debian package from a configured build folder and checks it the way a lab's
# IT uses it: its contents, lintian, installing it with apt-get, unattended runs of the
# installed programs as an ordinary user with a fresh home, and removing it again.
# Usage: scripts/package-check.sh [BUILD_FOLDER]   (as root; default: build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
app_id=org.krvarchiver.KrvArchiver

fail() {
    echo "package-check: FAILED: $*" >&2
    exit 1
}
step() { echo "package-check: $*"; }

[ "$(id -u)" = 0 ] || fail "run as root: it installs and removes the package"
for tool in cpack dpkg-deb lintian desktop-file-validate appstreamcli man apt-get runuser sqlite3; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done

step "building the package"
rm -f "$build"/krvarchiver_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/krvarchiver_*.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single krvarchiver package"
deb=${debs[0]}

step "contents of $(basename "$deb")"
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in usr/bin/krvarchiver usr/bin/krvtool usr/libexec/krvarchiver/krv-jet-reader \
    usr/share/applications/$app_id.desktop \
    usr/share/icons/hicolor/scalable/apps/$app_id.svg \
    usr/share/metainfo/$app_id.metainfo.xml \
    usr/share/man/man1/krvarchiver.1.gz usr/share/man/man1/krvtool.1.gz \
    usr/share/krvarchiver/installed usr/share/doc/krvarchiver/copyright \
    usr/share/doc/krvarchiver/changelog.gz usr/share/doc/krvarchiver/examples/RESULTS.TXT; do
    grep -qxF "./$f" <<<"$contents" || fail "$f is not in the package"
done
outside=$(grep -v -e '^\./usr/' -e '^\./$' <<<"$contents" || true)
[ -z "$outside" ] || fail "files outside /usr: $outside"
[ "$(dpkg-deb -f "$deb" Section)" = science ] || fail "section is not science"
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "no dependencies read off the binaries"

tmp=$(mktemp -d)
chmod 755 "$tmp"
cleanup() {
    if dpkg-query -W -f='${Status}' krvarchiver 2>/dev/null | grep -q "ok installed"; then
        apt-get remove -y -qq krvarchiver >/dev/null 2>&1 || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT

step "data files and manual pages"
dpkg-deb -x "$deb" "$tmp/unpacked"
desktop-file-validate "$tmp/unpacked/usr/share/applications/$app_id.desktop"
appstreamcli validate --no-net --explain "$tmp/unpacked/usr/share/metainfo/$app_id.metainfo.xml" \
    >"$tmp/appstream.log" || { cat "$tmp/appstream.log"; fail "AppStream data not valid"; }
for page in krvarchiver krvtool; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l \
        "$tmp/unpacked/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "manual page $page: $warnings"
done

step "lintian"
# lintian says it prefers not to run as root; that is all it says on stderr here.
lintian --fail-on error --display-level '>=warning' "$deb" 2>/dev/null ||
    fail "lintian reports errors (see above)"

step "installing with apt-get"
if dpkg-query -W -f='${Status}' krvarchiver 2>/dev/null | grep -q "ok installed"; then
    apt-get remove -y -qq krvarchiver >/dev/null
fi
apt-get install -y -qq "$deb" >/dev/null
[ -x /usr/bin/krvarchiver ] && [ -x /usr/bin/krvtool ] || fail "programs not in /usr/bin"
man -w krvarchiver >/dev/null || fail "man krvarchiver finds no page"

# An ordinary user with a fresh home and nothing else from this shell's environment.
home=$tmp/home
mkdir "$home"
chown nobody:nogroup "$home"
as_user() {
    local h=$1
    shift
    runuser -u nobody -- env -i HOME="$h" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"
}
expect_status() {  # expect_status STATUS NAME command...: output in $tmp/NAME.out, .err
    local want=$1 name=$2 got=0
    shift 2
    "$@" >"$tmp/$name.out" 2>"$tmp/$name.err" || got=$?
    [ "$got" = "$want" ] || { cat "$tmp/$name.err"; fail "$* ended with $got, not $want"; }
}
config=$home/.config/krvarchiver
db=$home/results.mdb

step "first start of the installed program: the settings folder appears in the home"
expect_status 1 first as_user "$home" /usr/bin/krvarchiver RESET
for f in "ARC&FILE.DAT" "ArcSiz&FILE.DAT"; do
    [ -f "$config/$f" ] && [ ! -s "$config/$f" ] || fail "$config/$f not created empty"
    [ "$(stat -c %U "$config/$f")" = nobody ] || fail "$config/$f does not belong to the user"
done

step "krvarchiver RESET and NET, krvtool export as the user"
cp /usr/share/doc/krvarchiver/examples/RESULTS.TXT "$home/RESULTS.TXT"
printf '%-72s%-72s' "$db" "$home/RESULTS.TXT" >"$config/ARC&FILE.DAT"
chown nobody:nogroup "$home/RESULTS.TXT" "$config/ARC&FILE.DAT"
expect_status 0 reset as_user "$home" /usr/bin/krvarchiver RESET
[ "$(stat -c %U "$db")" = nobody ] || fail "the reset made no database of the user's"
expect_status 0 net as_user "$home" /usr/bin/krvarchiver NET
[ "$(sqlite3 "$db" "SELECT count(*) || ' ' || sum(trim(\"ID Text\") LIKE 'SOIL CORE B-17 %') \
    || ' ' || sum(\"CS-137@NET1\" = '11902') FROM SamData")" = "1 1 1" ] ||
    fail "NET did not append the sample report"
expect_status 0 export as_user "$home" /usr/bin/krvtool export "$db" --format csv
grep -q 'SOIL CORE B-17' "$tmp/export.out" || fail "krvtool export did not write the record"
cp "$root/jet/tests/fixtures/testV1997.mdb" "$home/old.mdb"
chown nobody "$home/old.mdb"
expect_status 0 import-legacy as_user "$home" /usr/bin/krvtool import-legacy "$home/old.mdb" \
    "$home/imported.db" --table Table1
[ "$(sqlite3 "$home/imported.db" "SELECT count(*) > 0 FROM SamData")" = 1 ] ||
    fail "krvtool import-legacy brought no records"

step "bad settings folders: said on stderr, nothing written"
# nobody's own home does not exist and cannot be made: a read-only home.
expect_status 1 readonly as_user /nonexistent /usr/bin/krvarchiver RESET
grep -q "cannot be used" "$tmp/readonly.err" || fail "no message for a home that cannot be written"
[ ! -e /nonexistent ] || fail "/nonexistent was created"
# root started with the user's HOME (su without -, sudo -E) must leave that home alone.
other=$tmp/other
mkdir "$other"
chown nobody:nogroup "$other"
expect_status 1 root env -i HOME="$other" PATH=/usr/bin:/bin /usr/bin/krvarchiver RESET
grep -q "belongs to another user" "$tmp/root.err" || fail "no message for root in a user's home"
[ -z "$(ls -A "$other")" ] || fail "root wrote into the user's home"
stray=$(find /usr/bin /usr/share/krvarchiver -name '*&FILE.DAT')
[ -z "$stray" ] || fail "settings written into a system folder: $stray"

step "removing with apt-get"
apt-get remove -y -qq krvarchiver >/dev/null
[ ! -e /usr/bin/krvarchiver ] && [ ! -e /usr/bin/krvtool ] || fail "programs left after removal"
[ -s "$db" ] || fail "removing the package touched the user's database"
step "all checks passed"
