# Shared by the tests that drive the real window under a virtual X display with a real window
# manager (openbox). Source it after setting `artifacts`, and define `session_pids` to print
# the pids to stop at the end.
# Provides: $work (a private folder, removed at exit), fail, wait_for, process_ended,
# expect_clean_end, start_xvfb, stacked_above, active_window_is.

work=$(mktemp -d)
xvfb_pid=
wm_pid=

cleanup() {
  local pid
  for pid in $(session_pids 2>/dev/null); do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  if [ -n "$wm_pid" ]; then
    kill "$wm_pid" 2>/dev/null
    wait "$wm_pid" 2>/dev/null
  fi
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

# The window manager's stacking order of its client windows, bottom first, as decimal ids.
stacking_order() {
  xprop -root -notype _NET_CLIENT_LIST_STACKING 2>/dev/null |
    sed 's/^[^#]*# *//; s/,/ /g' | tr ' ' '\n' | while read -r id; do
      [ -n "$id" ] && echo $((id))
    done
}

# Whether window $1 is stacked above window $2 by the window manager.
stacked_above() {
  local order above=-1 below=-1 index=0 id
  order=$(stacking_order)
  for id in $order; do
    [ "$id" = "$1" ] && above=$index
    [ "$id" = "$2" ] && below=$index
    index=$((index + 1))
  done
  [ "$above" -ge 0 ] && [ "$below" -ge 0 ] && [ "$above" -gt "$below" ]
}

window_manager_runs() {
  xprop -root -notype _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'
}

# Whether the window manager has given window $1 the focus.
active_window_is() {
  [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]
}

# Waits up to $2 seconds for process $1 (a child of this shell) to end and fails unless it
# ended with status 0; $3 names it in the messages.
expect_clean_end() {
  local status
  wait_for "$2" process_ended "$1" || fail "$3 did not end"
  wait "$1"
  status=$?
  [ "$status" -eq 0 ] || fail "$3 ended with status $status"
}

# Starts Xvfb on a display it picks itself (so parallel runs never clash) with openbox as its
# window manager (none with the argument "bare"), and gives the programs started afterwards a
# private home, settings folder and runtime folder.
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
  unset XDG_SESSION_TYPE XDG_CURRENT_DESKTOP
  [ "${1:-}" = bare ] && return 0
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
  wm_pid=$!
  wait_for 30 window_manager_runs || fail "openbox did not start"
}
