#!/usr/bin/env bash
# The real window under a virtual X display, as a user meets it: it starts with its caption,
# a second start shows its message box and ends while the first runs on, a click on
# "显示文件详细信息" writes Kestrel.ini, and screenshots are kept as artifacts.
# Usage: kestrel_xvfb_test.sh <kestrel program> <artifact folder>
set -u
kestrel=$1
artifacts=$2
mkdir -p "$artifacts"
rm -f "$artifacts"/*.png

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
"$kestrel" >"$work/second.log" 2>&1 &
second_pid=$!
box=$(timeout 60 xdotool search --all --sync --onlyvisible --pid "$second_pid" --name '^Kestrel$' 2>/dev/null | head -n 1)
[ -n "$box" ] || fail "the second instance showed no message box"
[ -z "$(xdotool search --all --onlyvisible --pid "$second_pid" --name 'Kestrel V' 2>/dev/null)" ] ||
  fail "the second instance opened a main window"
import -window root "$artifacts/kestrel-second-instance.png"
# Its text cannot be read from the X server; the QtTest checks it, the screenshot shows it.
# The box takes the keyboard: Escape closes it, and the second instance ends.
xdotool windowfocus --sync "$box" 2>/dev/null || xdotool windowfocus "$box"
xdotool key --clearmodifiers Escape
wait_for 30 process_ended "$second_pid" || fail "the second instance did not end after its message"
wait "$second_pid"
status=$?
second_pid=
[ "$status" -eq 0 ] || fail "the second instance ended with status $status"
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
xdotool mousemove --sync $((X + $4)) $((Y + line_y)) click 1
written() { grep -q '^ShowInfo=1' "$ini" 2>/dev/null; }
wait_for 30 written || fail "Kestrel.ini has no ShowInfo=1 after the click"
grep -q '^\[Set\]' "$ini" || fail "Kestrel.ini has no [Set] section"
echo "ok: the click wrote $(tr '\n' ' ' < "$ini")"

sleep 1
import -window root "$artifacts/kestrel-show-info.png" || fail "no screenshot"
echo "ok: screenshots in $artifacts"
exit 0
