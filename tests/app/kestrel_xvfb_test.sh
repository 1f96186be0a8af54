#!/usr/bin/env bash
# The real window under a virtual X display and openbox, as an ordinary user meets it: it
# starts with its caption, a second start shows its message box above the window (which stays
# on top of the others) and ends once the box is closed while the first runs on, a click on
# "显示文件详细信息" writes Kestrel.ini, and closing the window asks first, in a box above it.
# Screenshots are kept as artifacts. Run as root, the test creates an ordinary user and runs
# as that user.
# Usage: kestrel_xvfb_test.sh <kestrel program> <artifact folder>
set -u
kestrel=$1
artifacts=$2
mkdir -p "$artifacts"
rm -f "$artifacts"/*.png

if [ "$(id -u)" = 0 ] && [ -z "${KESTREL_TEST_USER:-}" ]; then
  user="kestrel-test-$$"
  useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin \
    --user-group "$user" || { echo "FAIL: cannot create the user $user" >&2; exit 1; }
  trap 'userdel "$user" 2>/dev/null; getent group "$user" >/dev/null && groupdel "$user"' EXIT
  chown "$user" "$artifacts"
  KESTREL_TEST_USER=$user setpriv --reuid="$user" --regid="$user" --init-groups \
    --inh-caps=-all bash "$0" "$@"
  exit $?
fi
echo "running as $(id -un) ($(id -u))"

first_pid=
second_pid=
session_pids() { echo "$second_pid $first_pid"; }
. "$(dirname "$0")/../xvfb_session.sh"

start_xvfb

expected_title='Kestrel V3.0(网络连接查看器)'
ini="$XDG_CONFIG_HOME/kestrel/Kestrel.ini"

"$kestrel" >"$work/first.log" 2>&1 &
first_pid=$!
window=$(timeout 60 xdotool search --all --sync --onlyvisible --pid "$first_pid" --name 'Kestrel V' 2>/dev/null | head -n 1)
[ -n "$window" ] || fail "the main window did not appear"
title=$(xdotool getwindowname "$window")
[ "$title" = "$expected_title" ] || fail "window title is '$title', expected '$expected_title'"
echo "ok: main window '$title'"
[ -e "$ini" ] && fail "a settings file was written at start"

# Let the first fill settle before the picture.
sleep 1
import -window root "$artifacts/kestrel-start.png" || fail "no screenshot"

# A second start: a message box captioned "Kestrel", then the end, without a main window.
above_state() { xprop -id "$window" _NET_WM_STATE 2>/dev/null | grep -q _NET_WM_STATE_ABOVE; }
wait_for 10 above_state || fail "the window does not carry the window manager's above state"

"$kestrel" >"$work/second.log" 2>&1 &
second_pid=$!
box=$(timeout 60 xdotool search --all --sync --onlyvisible --pid "$second_pid" --name '^Kestrel$' 2>/dev/null | head -n 1)
[ -n "$box" ] || fail "the second instance showed no message box"
[ -z "$(xdotool search --all --onlyvisible --pid "$second_pid" --name 'Kestrel V' 2>/dev/null)" ] ||
  fail "the second instance opened a main window"
# Above the first instance's window, which is kept above all others, and given the focus.
wait_for 10 stacked_above "$box" "$window" || fail "the message box opened behind the window ($(stacking_order | tr '\n' ' '))"
wait_for 10 active_window_is "$box" || fail "the message box did not get the focus"
sleep 0.5
import -window root "$artifacts/kestrel-second-instance.png"
# Its text cannot be read from the X server; the QtTest checks it, the screenshot shows it.
# The box has the keyboard: Escape closes it, and the second instance ends.
xdotool key --clearmodifiers Escape
expect_clean_end "$second_pid" 30 "the second instance, after its message,"
second_pid=
kill -0 "$first_pid" 2>/dev/null || fail "the first instance ended too"
echo "ok: second instance showed its message box and ended, first runs on"

# Click "显示文件详细信息": the fourth check box of the bottom panel. Found in a picture of the
# window: in the bottom panel only the check boxes' squares are white (the panel and the
# button faces are tinted), so each run of mostly white columns is one box.
eval "$(xdotool getwindowgeometry --shell "$window")"
line_y=$((HEIGHT - 14))
import -window "$window" "$work/window.png" || fail "no picture of the window"
boxes=$(convert "$work/window.png" -crop "${WIDTH}x13+0+$((line_y - 6))" +repage txt:- | python3 -c '
import re, sys
count = {}
for line in sys.stdin:
    m = re.match(r"(\d+),(\d+): \((\d+),(\d+),(\d+)", line)
    if m:
        x, _, r, g, b = map(int, m.groups())
        if r >= 250 and g >= 250 and b >= 250:
            count[x] = count.get(x, 0) + 1
# A column of a box square is mostly white; the white strokes of a button picture are thin.
white = {x for x, n in count.items() if n >= 6}
runs, start = [], None
for x in range(max(white, default=0) + 2):
    if x in white and start is None:
        start = x
    elif x not in white and start is not None:
        if 6 <= x - start <= 20:
            runs.append((start + x - 1) // 2)
        start = None
print(" ".join(map(str, runs)))
')
set -- $boxes
[ $# -ge 4 ] || fail "found $# check boxes in the bottom panel, expected 4 ($boxes)"
echo "check boxes of the bottom panel at x = $boxes"
xdotool mousemove --window "$window" --sync "$4" "$line_y" click 1
written() { grep -q '^ShowInfo=1' "$ini" 2>/dev/null; }
wait_for 30 written || fail "Kestrel.ini has no ShowInfo=1 after the click"
grep -q '^\[Set\]' "$ini" || fail "Kestrel.ini has no [Set] section"
echo "ok: the click wrote $(tr '\n' ' ' < "$ini")"

sleep 1
import -window root "$artifacts/kestrel-show-info.png" || fail "no screenshot"

# Closing the window (the window manager's Alt+F4) asks first, in a box above the window that
# has the focus: Escape (No) keeps the window, Return (Yes, the default) ends the program.
question=
find_question() {
  question=$(xdotool search --all --onlyvisible --pid "$first_pid" --name '^Kestrel$' 2>/dev/null | head -n 1)
  [ -n "$question" ]
}
no_question() { ! find_question; }
ask_to_close() {
  xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
  xdotool key --clearmodifiers alt+F4
  wait_for 30 find_question || fail "closing the window asked nothing"
  wait_for 10 stacked_above "$question" "$window" || fail "the close question opened behind the window"
  wait_for 10 active_window_is "$question" || fail "the close question did not get the focus"
}
ask_to_close
sleep 0.5
import -window root "$artifacts/kestrel-close-question.png"
xdotool key --clearmodifiers Escape
wait_for 20 no_question || fail "Escape did not close the question"
sleep 0.5
kill -0 "$first_pid" 2>/dev/null || fail "declining the question ended the program"
ask_to_close
xdotool key --clearmodifiers Return
expect_clean_end "$first_pid" 30 "the program, after Yes to the question,"
first_pid=
echo "ok: the close question opened above the window; No kept it, Yes ended the program"
echo "ok: screenshots in $artifacts"
exit 0
