#!/usr/bin/env bash
# The commands in the real window under a virtual X display, as a user uses them: a program
# holding a socket shows up as the first row (its name sorts last, the list is sorted
# descending by a click on "进程"), a right click and "拷贝到剪贴板" put its report on the
# clipboard, and a double click opens "进程详细信息". Screenshots are kept as artifacts.
# Usage: commands_xvfb_test.sh <kestrel program> <socket holder program> <artifact folder>
set -u
kestrel=$1
holder=$2
artifacts=$3
mkdir -p "$artifacts"
rm -f "$artifacts"/*.png "$artifacts"/*.txt

kestrel_pid=
holder_pid=
session_pids() { echo "$kestrel_pid $holder_pid"; }
. "$(dirname "$0")/../../xvfb_session.sh"

mkdir -p "$work/bin"

# "~" sorts after every ASCII letter and digit, so the probe is first in a descending list.
probe_name='~kestrel-probe'
cp "$holder" "$work/bin/$probe_name" || fail "cannot copy the socket holder"
"$work/bin/$probe_name" >"$work/port" 2>"$work/holder.log" &
holder_pid=$!
wait_for 30 grep -q '^[0-9]' "$work/port" || fail "the socket holder did not start"
port=$(head -n 1 "$work/port")

start_xvfb

"$kestrel" >"$work/kestrel.log" 2>&1 &
kestrel_pid=$!
window=$(timeout 60 xdotool search --sync --onlyvisible --pid "$kestrel_pid" --name 'Kestrel V' 2>/dev/null | head -n 1)
[ -n "$window" ] || fail "the main window did not appear"
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus "$window"

# Layout of the window (client coordinates): the top panel is 34 pixels high, the list's
# header 20 and each row 22, and the process column starts at the left edge.
header_y=44
first_row_y=65
column_x=60

# Sort by "进程" descending: one click on its header reverses the initial ascending order.
xdotool mousemove --window "$window" --sync "$column_x" "$header_y" click 1
sleep 0.5

# Right click the first row and choose "拷贝到剪贴板", the third item.
xdotool mousemove --window "$window" --sync "$column_x" "$first_row_y" click 3
menu_open() { xdotool search --onlyvisible --pid "$kestrel_pid" --class . 2>/dev/null | grep -vx "$window" | head -n 1 | grep -q .; }
wait_for 20 menu_open || fail "no context menu after the right click"
xdotool key --clearmodifiers Down Down Down
sleep 0.3
import -window root "$artifacts/commands-context-menu.png" || fail "no screenshot"
xdotool key --clearmodifiers Return

report_ready() {
  timeout 5 xclip -o -selection clipboard >"$work/report.txt" 2>/dev/null &&
    grep -q "生成:Kestrel" "$work/report.txt"
}
wait_for 20 report_ready || fail "the clipboard holds no report"
cp "$work/report.txt" "$artifacts/clipboard-report.txt"
python3 - "$work/report.txt" "$probe_name" "$port" <<'PY' || fail "the report is not the probe's"
import sys
data = open(sys.argv[1], "rb").read().decode("utf-8")
name, port = sys.argv[2], sys.argv[3]
lines = data.split("\r\n")
assert lines[-1] == "", "the report ends with CR LF"
lines = lines[:-1]
assert len(lines) == 14, f"{len(lines)} lines"
assert "\n" not in "".join(lines), "a bare LF"
bar = "\u2015" * 23
assert lines[0] == bar and lines[13] == bar, "separators"
assert lines[1] == "程序名称:" + name, lines[1]
assert lines[3].startswith("路径:/") and lines[3].endswith("/" + name), lines[3]
assert lines[5] == "网络协议:TCP", lines[5]
assert lines[6] == "本机地址:127.0.0.1", lines[6]
assert lines[7] == "本地端口:" + port, lines[7]
assert lines[10] == "状态:监听", lines[10]
assert lines[11] == "生成:Kestrel", lines[11]
assert lines[12].startswith("主页:"), lines[12]
PY
echo "ok: the clipboard holds the probe's report"

# A double click on the first row opens the details dialog with the focus on "确定".
xdotool mousemove --window "$window" --sync "$column_x" "$first_row_y" click --repeat 2 --delay 80 1
# xdotool's name patterns do not match Chinese reliably: compare the names of the program's
# visible windows instead.
dialog=
find_dialog() {
  local id
  for id in $(xdotool search --onlyvisible --pid "$kestrel_pid" --class . 2>/dev/null); do
    if [ "$id" != "$window" ] && [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "进程详细信息" ]; then
      dialog=$id
      return 0
    fi
  done
  return 1
}
wait_for 30 find_dialog || fail "the details dialog did not open"
eval "$(xdotool getwindowgeometry --shell "$dialog")"
[ "$WIDTH" = 425 ] && [ "$HEIGHT" = 237 ] || fail "the dialog is ${WIDTH}x${HEIGHT}, expected 425x237"
sleep 0.5
import -window root "$artifacts/commands-details-dialog.png" || fail "no screenshot"
xdotool key --clearmodifiers Return
dialog_closed() { ! find_dialog; }
wait_for 20 dialog_closed || fail "Return did not close the dialog"
echo "ok: the details dialog opened at 425x237 and closed on Return"
kill -0 "$holder_pid" 2>/dev/null || fail "the probe ended"
echo "ok: screenshots in $artifacts"
exit 0
