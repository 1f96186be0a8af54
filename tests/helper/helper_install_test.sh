#!/usr/bin/env bash
# `cmake --install` as root gives kestrel-helper its capabilities, and the installed
# kestrel-snapshot finds it (also under another prefix) and shows a root listener's owner to an
# ordinary user. The install step's rules on their own: with a group, mode 0750 and that
# group; as another user, no capabilities and the one command that grants them.
# Runs as root (CI does); skipped otherwise.
# Usage: helper_install_test.sh <build folder> <source folder>
set -u
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: needs root to create a user and set file capabilities"
  exit 77
fi
build=$1
rights="$2/src/helper/InstallHelperRights.cmake"
. "$(dirname "$0")/unprivileged_user.sh"
caps='cap_dac_read_search,cap_net_admin,cap_sys_ptrace=ep'

cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 || fail "install failed"
helper="$work/prefix/libexec/kestrel/kestrel-helper"
getcap "$helper" | grep -q "$caps" || fail "the installed helper has no capabilities: $(getcap "$helper")"
start_root_listener
line=$(listener_line "$work/prefix/bin/kestrel-snapshot")
owned_by_listener "$line" || fail "the installed kestrel-snapshot: $line"
echo "ok: installed under another prefix, as $test_user: $line"

# The rules of the install step, on copies.
cp "$helper" "$work/grouped"
setcap -r "$work/grouped"
cmake -Dkestrel_helper_file="$work/grouped" -Dkestrel_helper_caps=ON \
  -Dkestrel_helper_group="$test_user" -Dkestrel_setcap="$(command -v setcap)" -P "$rights" \
  >"$work/grouped.log" 2>&1 || fail "the install step failed with a group"
[ "$(stat -c '%a %G' "$work/grouped")" = "750 $test_user" ] ||
  fail "with a group: $(stat -c '%a %G' "$work/grouped")"
getcap "$work/grouped" | grep -q "$caps" || fail "with a group: no capabilities"
echo "ok: with a group: $(stat -c '%a %G' "$work/grouped"), $(getcap "$work/grouped")"

mkdir "$work/user" && cp "$helper" "$work/user/kestrel-helper" && setcap -r "$work/user/kestrel-helper"
chown -R "$test_user" "$work/user"
setpriv --reuid="$test_user" --regid="$test_user" --clear-groups \
  cmake -Dkestrel_helper_file="$work/user/kestrel-helper" -Dkestrel_helper_caps=ON \
  -Dkestrel_helper_group= -Dkestrel_setcap="$(command -v setcap)" -P "$rights" \
  >"$work/user.log" 2>&1 || fail "the install step failed as $test_user"
[ -z "$(getcap "$work/user/kestrel-helper")" ] || fail "capabilities given without root"
command=$(grep -A1 'To grant them, run:' "$work/user.log" | tail -n 1 | sed 's/^ *sudo //')
[ -n "$command" ] || fail "no command printed"
sh -c "$command" || fail "the printed command failed: $command"
getcap "$work/user/kestrel-helper" | grep -q "$caps" || fail "the printed command grants nothing"
echo "ok: as $test_user: no capabilities; the printed command grants them: $command"
