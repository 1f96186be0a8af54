# Shared by the tests that drive the real window under a virtual X display. Source it after
# setting `artifacts`, and define `session_pids` to print the pids to stop at the end.
# Provides: $work (a private folder, removed at exit), fail, wait_for, start_xvfb.

work=$(mktemp -d)
xvfb_pid=

cleanup() {
  local pid
  for pid in $(session_pids 2>/dev/null); do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -n "${DISPLAY:-}" ]; then
    import -window root "$artifacts/failure.png" 2>/dev/null
  fi
  for log in "$work"/*.log; do
    [ -s "$log" ] && { echo "--- $log"; cat "$log"; } >&2
  done
  exit 1
}

# Polls `$@` every 0.1 s until it succeeds or `limit` seconds have passed.
wait_for() {
  local limit=$1
  shift
  local tries=$((limit * 10))
  while [ $tries -gt 0 ]; do
    "$@" && return 0
    sleep 0.1
    tries=$((tries - 1))
  done
  return 1
}

# Whether process $1 has ended: gone, or a zombie waiting for `wait`.
process_ended() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null)
  [ -z "$state" ] || [[ $state == Z* ]]
}

# Starts Xvfb on a display it picks itself (so parallel runs never clash) and gives the
# programs started afterwards a private home, settings folder and runtime folder.
start_xvfb() {
  mkdir -p "$work/home" "$work/config" "$work/runtime"
  chmod 700 "$work/runtime"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  wait_for 30 grep -q '^[0-9]' "$work/display" || fail "Xvfb did not start"
  export DISPLAY=":$(head -n 1 "$work/display")"
  export HOME="$work/home"
  export XDG_CONFIG_HOME="$work/config"
  export XDG_RUNTIME_DIR="$work/runtime"
  export QT_QPA_PLATFORM=xcb
  unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER QT_STYLE_OVERRIDE QT_SCALE_FACTOR
}
