# Shared by the tests that look at root's sockets as an ordinary user. Source it as root
# (after tests/xvfb_session.sh, if that is used: its folder and clean-up are then shared).
# Provides: $work (a folder every user may read, removed at exit), $test_user (created here,
# removed at exit), fail, start_root_listener, listener_line, owned_by_listener.

if [ -z "${work:-}" ]; then
  work=$(mktemp -d)
fi
chmod 755 "$work"
test_user=kst$$
listener_pid=

user_cleanup() {
  if [ -n "$listener_pid" ]; then
    kill "$listener_pid" 2>/dev/null
    wait "$listener_pid" 2>/dev/null
  fi
  if declare -F extra_cleanup >/dev/null; then
    extra_cleanup
  fi
  if declare -F cleanup >/dev/null; then
    cleanup # the session's, which also removes $work
  else
    rm -rf "$work"
  fi
  # Processes the user's programs left (a D-Bus daemon that ends with the display) may
  # still be ending.
  local tries=50
  while ! userdel "$test_user" 2>/dev/null && [ $tries -gt 0 ]; do
    sleep 0.2
    tries=$((tries - 1))
  done
}
trap user_cleanup EXIT

if ! declare -F fail >/dev/null; then
  fail() {
    echo "FAIL: $*" >&2
    for log in "$work"/*.log; do
      [ -s "$log" ] && { echo "--- $log"; cat "$log"; } >&2
    done
    exit 1
  }
fi

useradd --system --no-create-home --user-group --shell /usr/sbin/nologin "$test_user" ||
  fail "cannot create the test user"

# A TCP listener on 127.0.0.1 held by a root process: the interpreter started by its real
# path, so that its name and path are known. Sets listener_pid, listener_port,
# listener_name and listener_path.
start_root_listener() {
  listener_path=$(readlink -f /usr/bin/python3) # Debian's, not one on a PATH of this shell
  listener_name=$(basename "$listener_path")
  "$listener_path" -c '
import socket, sys, time
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen()
print(s.getsockname()[1], flush=True)
time.sleep(600)
' >"$work/listener.port" &
  listener_pid=$!
  local tries=50
  while [ $tries -gt 0 ] && ! grep -q '^[0-9]' "$work/listener.port"; do
    sleep 0.1
    tries=$((tries - 1))
  done
  listener_port=$(head -n 1 "$work/listener.port")
  [ -n "$listener_port" ] || fail "the root listener did not start"
}

# The line of kestrel-snapshot ($1, run as the test user) for the root listener.
listener_line() {
  setpriv --reuid="$test_user" --regid="$test_user" --clear-groups "$1" >"$work/snapshot.out" \
    2>"$work/snapshot.log" || fail "$1 failed as $test_user"
  awk -F'\t' -v port="$listener_port" '$1 == "TCP" && $2 == 2 && $3 == "127.0.0.1" && $4 == port' \
    "$work/snapshot.out"
}

# Whether the line $1 names the listener's process; the fields are PID, name and path.
owned_by_listener() {
  local fields
  fields=$(printf '%s\n' "$1" | cut -f 7-9)
  [ "$fields" = "$(printf '%s\t%s\t%s' "$listener_pid" "$listener_name" "$listener_path")" ]
}
