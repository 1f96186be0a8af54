#!/usr/bin/env bash
# The window on a Wayland session (weston, headless) with XWayland: it runs on the X server,
# where its window carries the X "above" state (where the compositor's X window manager offers
# it), and a second start is refused with its message. Without an X server it runs natively on Wayland (when Qt's Wayland platform is
# installed). Exits 77 (skipped) when weston itself cannot run here.
# Usage: kestrel_wayland_test.sh <kestrel program> <artifact folder>
set -u
kestrel=$1
artifacts=$2
mkdir -p "$artifacts"

first_pid=
second_pid=
weston_pid=
session_pids() { echo "$second_pid $first_pid $weston_pid"; }
. "$(dirname "$0")/../xvfb_session.sh"

skip() {
  echo "SKIPPED: $*"
  [ -s "$work/weston.log" ] && tail -n 20 "$work/weston.log"
  exit 77
}

mkdir -p "$work/home" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
export XDG_SESSION_TYPE=wayland
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER
unset QT_STYLE_OVERRIDE QT_SCALE_FACTOR XDG_CURRENT_DESKTOP

weston --backend=headless-backend.so --xwayland --socket=kestrel-wayland --idle-time=0 \
  --width=1280 --height=800 >"$work/weston.log" 2>&1 &
weston_pid=$!
x_display() { grep -o 'xserver listening on display :[0-9]*' "$work/weston.log" | grep -o ':[0-9]*$'; }
wait_for 30 test -S "$XDG_RUNTIME_DIR/kestrel-wayland" || skip "weston (headless) did not start"
wait_for 30 x_display >/dev/null || skip "weston's XWayland did not start"
export WAYLAND_DISPLAY=kestrel-wayland
export DISPLAY=$(x_display)
echo "weston on $WAYLAND_DISPLAY, XWayland on $DISPLAY"

"$kestrel" >"$work/first.log" 2>&1 &
first_pid=$!
window=$(timeout 60 xdotool search --all --sync --onlyvisible --pid "$first_pid" --name 'Kestrel V' 2>/dev/null | head -n 1)
[ -n "$window" ] || fail "the window did not appear on XWayland"
echo "ok: the window runs on XWayland"
# Qt asks for the above state only from a window manager that offers it; weston's own X window
# manager (unlike GNOME's) offers none.
if xprop -root _NET_SUPPORTED 2>/dev/null | grep -q _NET_WM_STATE_ABOVE; then
  above_state() { xprop -id "$window" _NET_WM_STATE 2>/dev/null | grep -q _NET_WM_STATE_ABOVE; }
  wait_for 10 above_state || fail "the window does not carry the X above state: $(xprop -id "$window" _NET_WM_STATE)"
  echo "ok: the window carries the X above state"
else
  echo "not checked: the X above state (this compositor's X window manager does not offer it:" \
    "$(xprop -root _NET_SUPPORTED 2>/dev/null))"
fi
import -window root "$artifacts/kestrel-xwayland.png" 2>/dev/null

"$kestrel" >"$work/second.log" 2>&1 &
second_pid=$!
box=$(timeout 60 xdotool search --all --sync --onlyvisible --pid "$second_pid" --name '^Kestrel$' 2>/dev/null | head -n 1)
[ -n "$box" ] || fail "the second start showed no message"
[ -z "$(xdotool search --all --onlyvisible --pid "$second_pid" --name 'Kestrel V' 2>/dev/null)" ] ||
  fail "the second start opened a window"
# A headless compositor has no seat, so no input device: Escape goes to the box as an event
# sent to its window.
sleep 0.5
xdotool key --window "$box" Escape
expect_clean_end "$second_pid" 30 "the second start, after its message,"
second_pid=
kill -0 "$first_pid" 2>/dev/null || fail "the first instance ended too"
echo "ok: a second start was refused with its message"
kill "$first_pid"
wait "$first_pid" 2>/dev/null
first_pid=

# Without an X server: natively on Wayland, if Qt's Wayland platform is there.
plugins=$(qtpaths6 --plugin-dir 2>/dev/null || qtpaths --plugin-dir 2>/dev/null)
if ! ls "$plugins"/platforms/libqwayland*.so >/dev/null 2>&1; then
  echo "not checked: the native Wayland start (Qt's Wayland platform, Debian's qt6-wayland, is not installed)"
  exit 0
fi
unset DISPLAY
"$kestrel" >"$work/native.log" 2>&1 &
first_pid=$!
sleep 5
kill -0 "$first_pid" 2>/dev/null || fail "without an X server the window did not start natively"
grep -qi 'could not connect\|failed to create' "$work/native.log" && fail "the native start failed"
echo "ok: without an X server the window runs natively on Wayland"
exit 0
