#!/usr/bin/env bash
# The real window under Xvfb as an ordinary user created here: next to a kestrel-helper that
# holds its capabilities, the window starts it and keeps it while it runs (a helper without
# them is let go at once); a screenshot with root's listener is kept as an artifact.
# Runs as root (CI does); skipped otherwise.
# Usage: helper_window_test.sh <kestrel> <kestrel-helper> <artifact folder>
set -u
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: needs root to create a user and set file capabilities"
  exit 77
fi
artifacts=$3
mkdir -p "$artifacts"
rm -f "$artifacts"/*.png
window_pid=
session_pids() { echo "$window_pid"; }
. "$(dirname "$0")/../xvfb_session.sh"
. "$(dirname "$0")/unprivileged_user.sh"

mkdir "$work/bin"
cp "$1" "$work/bin/kestrel" && cp "$2" "$work/bin/kestrel-helper" || fail "cannot copy the programs"
start_xvfb
chown -R "$test_user" "$work/home" "$work/config" "$work/runtime"
start_root_listener

# The window's kestrel-helper children that are still running.
helpers() { ps --ppid "$window_pid" -o stat=,comm= 2>/dev/null | awk '$1 !~ /^Z/ && $2 == "kestrel-helper"'; }
start_window() {
  setpriv --reuid="$test_user" --regid="$test_user" --clear-groups "$work/bin/kestrel" \
    >"$work/window.log" 2>&1 &
  window_pid=$!
  window=$(timeout 60 xdotool search --all --sync --onlyvisible --pid "$window_pid" --name 'Kestrel V' 2>/dev/null | head -n 1)
  [ -n "$window" ] || fail "the main window did not appear"
}
stop_window() {
  kill "$window_pid" && wait "$window_pid" 2>/dev/null
  window_pid=
}

setcap cap_dac_read_search,cap_sys_ptrace=ep "$work/bin/kestrel-helper" || fail "setcap failed"
start_window
[ -n "$(helpers)" ] || fail "the window runs no kestrel-helper"
sleep 2
[ -n "$(helpers)" ] || fail "the window let its helper go"
import -window root "$artifacts/kestrel-as-user-with-helper.png" || fail "no screenshot"
echo "ok: as $test_user the window keeps its helper: $(helpers | tr '\n' ' ')"

# Root's listener as the window shows it: the list is sorted by "进程", so typing the
# listener's name focuses the first of its program's rows; Down walks them. Each row is read
# back through the report that the keyboard's context menu copies.
menu_open() { xdotool search --onlyvisible --pid "$window_pid" --class . 2>/dev/null | grep -vx "$window" | head -n 1 | grep -q .; }
report_ready() {
  timeout 5 xclip -o -selection clipboard >"$work/report.txt" 2>/dev/null &&
    grep -q "生成:Kestrel" "$work/report.txt"
}
report_field() { sed -n "s/^$1\(.*\)\r\$/\1/p" "$work/report.txt"; }
focused_report() {
  printf '' | xclip -selection clipboard 2>/dev/null
  xdotool key --clearmodifiers Menu
  wait_for 20 menu_open || fail "the Menu key opened no context menu"
  xdotool key --clearmodifiers Down Down Down Return
  wait_for 20 report_ready || fail "the clipboard holds no report"
}
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
xdotool mousemove --window "$window" --sync 60 65 click 1
sleep 0.3
xdotool type --delay 20 "$listener_name"
sleep 0.5
found=
for _ in $(seq 1 30); do
  focused_report
  [ "$(report_field '程序名称:')" = "$listener_name" ] || break
  if [ "$(report_field '本地端口:')" = "$listener_port" ]; then
    found=yes
    break
  fi
  xdotool key --clearmodifiers Down
  sleep 0.2
done
cp "$work/report.txt" "$artifacts/root-listener-report.txt" 2>/dev/null
[ -n "$found" ] || fail "no row of $listener_name with port $listener_port in the window"
[ "$(report_field 'PID:')" = "$listener_pid" ] || fail "root's listener shows PID '$(report_field 'PID:')', expected $listener_pid"
[ "$(report_field '路径:')" = "$listener_path" ] || fail "root's listener shows path '$(report_field '路径:')'"
echo "ok: the window shows root's listener on port $listener_port with PID $listener_pid and $listener_path"
stop_window

setcap -r "$work/bin/kestrel-helper" || fail "setcap -r failed"
start_window
sleep 2
[ -z "$(helpers)" ] || fail "the window kept a helper without capabilities"
import -window root "$artifacts/kestrel-as-user-without-helper.png" || fail "no screenshot"
echo "ok: a helper without capabilities is not kept; screenshots in $artifacts"
stop_window
