#!/usr/bin/env bash
# As an ordinary user created here, with a root process listening on 127.0.0.1:
# kestrel-snapshot next to a kestrel-helper holding its two capabilities shows the
# listener's PID, name and path; the same helper without them, or no helper, shows PID 0 and
# the note that the socket is root's.
# Runs as root (CI does); skipped otherwise.
# Usage: helper_user_test.sh <kestrel-snapshot> <kestrel-helper>
set -u
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: needs root to create a user and set file capabilities"
  exit 77
fi
. "$(dirname "$0")/unprivileged_user.sh"

# Copies in a folder the user may read; the build tree may not be.
cp "$1" "$work/kestrel-snapshot" && cp "$2" "$work/kestrel-helper" || fail "cannot copy the programs"
start_root_listener

setcap cap_dac_read_search,cap_sys_ptrace=ep "$work/kestrel-helper" || fail "setcap failed"
line=$(listener_line "$work/kestrel-snapshot")
[ -n "$line" ] || fail "the root listener is missing"
owned_by_listener "$line" || fail "with the helper's capabilities: $line"
echo "ok: with the helper: $line"

# Without the owner: PID 0, no name or path, and the note naming the socket's user.
hidden_fields=$(printf '0\t\t\t用户 root 的进程，当前权限无法查看。\t')
hidden_owner() {
  [ "$(printf '%s\n' "$1" | cut -f 7-11)" = "$hidden_fields" ]
}

setcap -r "$work/kestrel-helper" || fail "setcap -r failed"
line=$(listener_line "$work/kestrel-snapshot")
hidden_owner "$line" || fail "without capabilities: $line"
echo "ok: helper without capabilities: $line"

rm "$work/kestrel-helper"
line=$(listener_line "$work/kestrel-snapshot")
hidden_owner "$line" || fail "without a helper: $line"
echo "ok: no helper: $line"
