#!/usr/bin/env bash
# The commands in the real window under a virtual X display, as a user uses them: a program
# holding a socket shows up as the first row (its name sorts last, the list is sorted
# descending by a click on "进程"), a right click and "拷贝到剪贴板" put its report on the
# clipboard, and a double click opens "进程详细信息". Two more such programs sort right after it:
# Down and Up move the focused row one row per press (the report of the keyboard's context
# menu says which). "定位文件" without a session bus opens the folder with the desktop's
# handler and starts no bus of its own. Screenshots are kept as artifacts.
# Usage: commands_xvfb_test.sh <kestrel program> <socket holder program> <artifact folder>
set -u
kestrel=$1
holder=$2
artifacts=$3
mkdir -p "$artifacts"
rm -f "$artifacts"/*.png "$artifacts"/*.txt

kestrel_pid=
holder_pid=
neighbour_pids=
session_pids() { echo "$kestrel_pid $holder_pid $neighbour_pids"; }
. "$(dirname "$0")/../../xvfb_session.sh"

mkdir -p "$work/bin"

# "~" sorts after every ASCII letter and digit, so the probe is first in a descending list.
probe_name='~kestrel-probe'
cp "$holder" "$work/bin/$probe_name" || fail "cannot copy the socket holder"
"$work/bin/$probe_name" >"$work/port" 2>"$work/holder.log" &
holder_pid=$!
wait_for 30 grep -q '^[0-9]' "$work/port" || fail "the socket holder did not start"
port=$(head -n 1 "$work/port")
# In descending order of the process column these come right after the probe.
neighbours=('~kestrel-proba' '~kestrel-prob')
for name in "${neighbours[@]}"; do
  cp "$holder" "$work/bin/$name" || fail "cannot copy the socket holder"
  "$work/bin/$name" >"$work/$name.port" 2>/dev/null &
  neighbour_pids="$neighbour_pids $!"
  wait_for 30 grep -q '^[0-9]' "$work/$name.port" || fail "the socket holder $name did not start"
done

# The desktop's default handler: records what it was asked to open.
mkdir -p "$work/tools"
printf '#!/bin/sh\necho "$*" >>"%s/xdg-open.log"\n' "$work" >"$work/tools/xdg-open"
chmod +x "$work/tools/xdg-open"
export PATH="$work/tools:$PATH"

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

# The focused row's report through the keyboard's context menu (the Menu key, then
# "拷贝到剪贴板"): its program name.
focused_name() {
  printf '' | xclip -selection clipboard 2>/dev/null
  xdotool key --clearmodifiers Menu
  wait_for 20 menu_open || fail "the Menu key opened no context menu"
  xdotool key --clearmodifiers Down Down Down Return
  wait_for 20 report_ready || fail "the clipboard holds no report"
  sed -n 's/^程序名称:\(.*\)\r$/\1/p' "$work/report.txt"
}
xdotool mousemove --window "$window" --sync "$column_x" "$first_row_y" click 1
sleep 0.3
[ "$(focused_name)" = "$probe_name" ] || fail "the clicked first row is not the probe's"
expected=("${neighbours[0]}" "${neighbours[1]}" "${neighbours[0]}")
keys=(Down Down Up)
for step in 0 1 2; do
  xdotool key --clearmodifiers "${keys[$step]}"
  sleep 0.3
  name=$(focused_name)
  [ "$name" = "${expected[$step]}" ] ||
    fail "after ${keys[*]:0:$((step + 1))} the focused row is '$name', expected '${expected[$step]}'"
done
echo "ok: Down, Down, Up moved the focused row one row per press"

# "定位文件", the fifth enabled item ("断开连接" is disabled for a listener), without a session
# bus: the folder goes to the default handler, and no bus is started (dbus-launch would leave
# a dbus-daemon and files under ~/.dbus).
xdotool key --clearmodifiers Menu
wait_for 20 menu_open || fail "the Menu key opened no context menu"
xdotool key --clearmodifiers Down Down Down Down Down Return
opened_folder() { grep -q "$work/bin" "$work/xdg-open.log" 2>/dev/null; }
wait_for 30 opened_folder || fail "the folder was not opened without a file manager"
sleep 1
started=
for environ in /proc/[0-9]*/environ; do
  pid=${environ#/proc/}
  pid=${pid%/environ}
  case "$(cat "/proc/$pid/comm" 2>/dev/null)" in
    dbus-daemon | dbus-launch)
      tr '\0' '\n' <"$environ" 2>/dev/null | grep -qx "HOME=$HOME" && started="$started $pid"
      ;;
  esac
done
if [ -n "$started" ]; then
  kill $started 2>/dev/null
  fail "a session bus was started (processes$started)"
fi
[ ! -e "$HOME/.dbus" ] || fail "a session bus was started: $HOME/.dbus exists"
echo "ok: without a session bus the folder went to the default handler, and no bus started"

kill -0 "$holder_pid" 2>/dev/null || fail "the probe ended"
echo "ok: screenshots in $artifacts"
exit 0
