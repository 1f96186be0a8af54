#!/usr/bin/env bash
# The Debian package: built with cpack, lintian finds no error in it and its AppStream file
# validates; its install script never fails where setcap is refused. Installed with apt-get, it
# gives kestrel-helper its capabilities and an ordinary user's kestrel-snapshot shows a root
# listener's owner; purged, nothing of it is left.
# Runs as root on a machine without kestrel installed; skipped otherwise.
# Usage: kestrel_package_test.sh <cpack> <build folder> <source folder>
set -u
cpack=$1
build=$2
source=$3
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: needs root to install a package and create a user"
  exit 77
fi
if dpkg-query -W -f='${Status}' kestrel 2>/dev/null | grep -q 'installed'; then
  echo "skipped: a kestrel package is installed on this machine; it is left alone"
  exit 77
fi
. "$source/tests/helper/unprivileged_user.sh"
installed=
extra_cleanup() {
  [ -n "$installed" ] && apt-get -o DPkg::Lock::Timeout=120 purge -y -qq kestrel >/dev/null 2>&1
}

# postinst where setcap is refused: it says so and succeeds.
mkdir "$work/fakebin"
printf '#!/bin/sh\nexit 1\n' >"$work/fakebin/setcap"
chmod 755 "$work/fakebin/setcap"
PATH="$work/fakebin:$PATH" sh "$source/packaging/debian/postinst" configure 2>"$work/postinst.err" ||
  fail "postinst failed where setcap is refused"
grep -q 'could not give' "$work/postinst.err" || fail "postinst did not say that setcap failed"
echo "ok: postinst succeeds where setcap is refused"

(cd "$build" && "$cpack" -G DEB -B "$work/package") >"$work/cpack.log" 2>&1 || fail "cpack failed"
version=$(sed -n 's/^kestrel (\([^)]*\)).*/\1/p' "$source/packaging/debian/changelog" | head -n 1)
deb="$work/package/kestrel_${version}_amd64.deb"
[ -f "$deb" ] || fail "no $deb: $(ls "$work/package")"

lintian --allow-root --fail-on error "$deb" >"$work/lintian.log" 2>&1 || fail "lintian reports errors"
echo "ok: lintian: $(grep -c '^W:' "$work/lintian.log") warnings, no errors"
dpkg-deb -x "$deb" "$work/contents"
for file in usr/bin/kestrel usr/bin/kestrel-snapshot usr/libexec/kestrel/kestrel-helper \
  usr/share/applications/kestrel.desktop usr/share/icons/hicolor/scalable/apps/kestrel.svg \
  usr/share/kestrel/KestrelHelp.html usr/share/man/man1/kestrel.1.gz \
  usr/share/man/man1/kestrel-snapshot.1.gz usr/share/metainfo/org.example.kestrel.metainfo.xml; do
  [ -f "$work/contents/$file" ] || fail "the package lacks /$file"
done
appstreamcli validate --no-net "$work/contents/usr/share/metainfo/org.example.kestrel.metainfo.xml" \
  >"$work/appstream.log" 2>&1 || fail "the AppStream file does not validate"
echo "ok: package contents; AppStream file valid"

installed=yes
apt-get -o DPkg::Lock::Timeout=120 install -y -qq "$deb" >"$work/apt-install.log" 2>&1 ||
  fail "apt-get install failed"
getcap /usr/libexec/kestrel/kestrel-helper | grep -q 'cap_dac_read_search,cap_net_admin,cap_sys_ptrace=ep' ||
  fail "postinst did not set the capabilities: $(getcap /usr/libexec/kestrel/kestrel-helper)"
start_root_listener
line=$(listener_line /usr/bin/kestrel-snapshot)
owned_by_listener "$line" || fail "the installed kestrel-snapshot as $test_user: $line"
echo "ok: installed; as $test_user: $line"

dpkg -L kestrel >"$work/files"
apt-get -o DPkg::Lock::Timeout=120 purge -y -qq kestrel >"$work/apt-purge.log" 2>&1 ||
  fail "apt-get purge failed"
installed=
! dpkg-query -W -f='${Status}' kestrel 2>/dev/null | grep -q 'installed' || fail "still installed"
while read -r path; do
  case "$path" in
  /usr/libexec/kestrel | /usr/share/kestrel | /usr/share/doc/kestrel | /usr/*/kestrel*)
    [ ! -e "$path" ] || fail "left after purge: $path" ;;
  esac
  [ -d "$path" ] || [ ! -e "$path" ] || fail "left after purge: $path"
done <"$work/files"
echo "ok: purged; nothing of it is left"
