#!/usr/bin/env bash
# The real kestrel.exe under Wine on a virtual X display, as a user meets it: the window with
# its caption, a second start that shows "The program already start" and ends while the first
# runs on, a click on "显示文件详细信息" that writes Kestrel.ini next to the program, the context
# menu copying a row's report to the clipboard, the process details dialog, and screenshots
# kept as artifacts (Chinese text must be readable in them).
# Usage: kestrel_wine_test.sh <kestrel.exe> <probe.exe> <template prefix> <prefix> <artifacts>
#   <template prefix>: the tests' Wine prefix, copied once into <prefix>, which draws through
#   X11 and links a CJK font to the faces Windows programs ask for.
set -u
kestrel=$1
probe=$2
template=$3
prefix=$(realpath -m "$4")
artifacts=$5
mkdir -p "$artifacts"
rm -f "$artifacts"/*.png

first_pid=
second_pid=
session_pids() { echo "$second_pid $first_pid"; }
. "$(dirname "$0")/../../xvfb_session.sh"

wine=$(command -v wine64 || command -v wine) || fail "wine is not installed"
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine turns the command line's bytes into wide text through the locale.
export LANG=C.UTF-8 LC_ALL=C.UTF-8

# Wine's processes of this prefix are all the test's own; end them before the display goes.
end_wine() {
  timeout 20 "$wineserver" -k 2>/dev/null
  cleanup
}
trap end_wine EXIT

# The prefix, made once and kept in the build tree: a copy of the tests' prefix with the X11
# driver and WenQuanYi Micro Hei (fonts-wqy-microhei) behind the Chinese and the dialog faces.
make_prefix() {
  [ -f "$template/.kestrel-ready" ] || fail "the tests' Wine prefix $template is not ready"
  rm -rf "$prefix"
  cp -a "$template" "$prefix" || fail "cannot copy the Wine prefix"
  rm -f "$prefix/.kestrel-ready"
  python3 - "$work/fonts.reg" <<'EOF' || fail "cannot write the registry file"
import sys
cjk = "WenQuanYi Micro Hei"
link = "wqy-microhei.ttc," + cjk
substitutes = ["Microsoft YaHei", "Microsoft YaHei UI", "微软雅黑", "SimSun", "宋体",
               "NSimSun", "新宋体", "SimHei", "黑体"]
linked = ["Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "Arial", "Segoe UI",
          "Microsoft Sans Serif", "Times New Roman", "Courier New"]
def multi_sz(text):
    data = (text + "\0\0").encode("utf-16-le")
    return "hex(7):" + ",".join("%02x" % b for b in data)
lines = ["Windows Registry Editor Version 5.00", "",
         "[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]", '"Graphics"="x11"', "",
         "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]"]
lines += ['"%s"="%s"' % (face, cjk) for face in substitutes]
lines += ["", "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]"]
lines += ['"%s"=%s' % (face, multi_sz(link)) for face in linked]
with open(sys.argv[1], "wb") as out:
    out.write(("\r\n".join(lines) + "\r\n").encode("utf-16"))
EOF
  timeout 120 env -u DISPLAY "$wine" regedit /S "$(winepath_of "$work/fonts.reg")" >/dev/null 2>&1 ||
    fail "regedit could not set up the prefix"
  timeout 60 "$wineserver" -w
  touch "$prefix/.kestrel-x11-ready"
}
winepath_of() { echo "Z:${1//\//\\}"; }

(
  flock 9
  [ -f "$prefix/.kestrel-x11-ready" ] || make_prefix
) 9>"$prefix.lock" || exit 1
[ -f "$prefix/.kestrel-x11-ready" ] || fail "the Wine prefix $prefix was not made"
echo "ok ($SECONDS s): Wine prefix $prefix"

start_xvfb bare

probe() { timeout 60 "$wine" "$probe" "$@" 2>/dev/null | tr -d '\r'; }

# The program in a folder of its own, so that its Kestrel.ini starts absent.
app="$work/app"
mkdir -p "$app"
cp "$kestrel" "$app/kestrel.exe" || fail "no $kestrel"
for help in "$(dirname "$kestrel")"/KestrelHelp.*; do
  [ -f "$help" ] && cp "$help" "$app/"
done
ini="$app/Kestrel.ini"

expected_title='Kestrel V3.0(网络连接查看器)'
# The first instance gets a network namespace of its own where the system allows one (root):
# its first fill then lists a few endpoints of a helper instead of whatever the machine holds
# meanwhile (Wine looks up each socket's owner slowly: 18,000 sockets cost over a minute).
cat >"$work/holder.py" <<'EOF'
import os, socket, sys, time
parent = os.getppid()
held = []
try:
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen()
    client = socket.create_connection(listener.getsockname())
    server, _ = listener.accept()
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.bind(("127.0.0.1", 0))
    held = [listener, client, server, udp]
except OSError as error:
    print("holder:", error, file=sys.stderr)
deadline = time.monotonic() + 600
while os.getppid() == parent and time.monotonic() < deadline:
    time.sleep(0.2)
EOF
if command -v unshare >/dev/null && unshare -n true 2>/dev/null; then
  unshare -n bash -c 'ip link set lo up 2>/dev/null; python3 "$1" & exec "$2" "$3"' \
    _ "$work/holder.py" "$wine" "$app/kestrel.exe" >"$work/first.log" 2>&1 &
else
  "$wine" "$app/kestrel.exe" >"$work/first.log" 2>&1 &
fi
first_pid=$!
window=$(timeout 120 xdotool search --all --sync --onlyvisible --name '^Kestrel V' 2>/dev/null | head -n 1)
[ -n "$window" ] || fail "the main window did not appear"
title=$(xdotool getwindowname "$window")
[ "$title" = "$expected_title" ] || fail "window title is '$title', expected '$expected_title'"
echo "ok ($SECONDS s): main window '$title'"
[ -e "$ini" ] && fail "a settings file was written at start"

# The controls are there once the probe reads the check box's caption.
has_controls() { probe texts "$expected_title" | grep -q '^显示文件详细信息$'; }
wait_for 60 has_controls || fail "the main window has no check box 显示文件详细信息"
probe texts "$expected_title" >"$work/main-texts.txt"
sleep 1
import -window root "$artifacts/kestrel-wine-start.png" || fail "no screenshot"

# A second start: a message box captioned "Kestrel" with the text, then the end.
"$wine" "$app/kestrel.exe" >"$work/second.log" 2>&1 &
second_pid=$!
box_shown() { probe texts Kestrel | grep -q 'The program already start'; }
wait_for 90 box_shown || fail "the second instance showed no box 'The program already start'"
box=$(timeout 30 xdotool search --all --sync --onlyvisible --name '^Kestrel$' 2>/dev/null | head -n 1)
[ -n "$box" ] || fail "the message box has no X window captioned Kestrel"
[ "$(xdotool search --all --onlyvisible --name '^Kestrel V' 2>/dev/null | wc -l)" -eq 1 ] ||
  fail "the second instance opened a main window"
import -window root "$artifacts/kestrel-wine-second-instance.png"
xdotool windowfocus --sync "$box" 2>/dev/null || xdotool windowfocus "$box"
xdotool key --clearmodifiers Return
expect_clean_end "$second_pid" 60 "the second instance, after its message,"
second_pid=
kill -0 "$first_pid" 2>/dev/null || fail "the first instance ended too"
echo "ok ($SECONDS s): second instance showed 'The program already start' and ended, first runs on"

# A real click on the check box's square.
point=$(probe point "$expected_title" '显示文件详细信息')
[ -n "$point" ] || fail "the probe found no check box 显示文件详细信息"
set -- $point
[ "$(probe checked "$expected_title" '显示文件详细信息')" = 0 ] || fail "显示文件详细信息 ticked at start"
xdotool mousemove --sync "$1" "$2" click 1
written() { grep -q '^ShowInfo=1' "$ini" 2>/dev/null; }
wait_for 30 written || fail "Kestrel.ini has no ShowInfo=1 after the click at $point"
grep -q '^\[Set\]' "$ini" || fail "Kestrel.ini has no [Set] section"
[ "$(probe checked "$expected_title" '显示文件详细信息')" = 1 ] || fail "the check box is not ticked"
echo "ok ($SECONDS s): the click wrote $(tr -d '\r' <"$ini" | tr '\n' ' ')"

sleep 1
import -window root "$artifacts/kestrel-wine-show-info.png" || fail "no screenshot"

# The context menu of the first row (a right click), "拷贝到剪贴板" chosen with the keyboard
# (the first items: 进程信息, 结束进程(&E), 断开连接, 拷贝到剪贴板): the row's report on the clipboard.
row=$(probe row "$expected_title")
[ -n "$row" ] || fail "the probe found no list in the main window"
set -- $row
xdotool mousemove --sync "$1" "$2" click 3
menu_open() { probe menu; }
wait_for 30 menu_open || fail "a right click on the first row at $row opened no menu"
import -window root "$artifacts/kestrel-wine-menu.png"
xdotool key --clearmodifiers Down Down Down Down Return
report_copied() { probe clipboard >"$work/clipboard.txt" && grep -q '^生成:Kestrel$' "$work/clipboard.txt"; }
wait_for 30 report_copied || fail "拷贝到剪贴板 put no report on the clipboard"
for line in '―――――――――――――――――――――――' '本机地址:127.0.0.1' '网络协议:(TCP|UDP)' 'PID:[0-9]+'; do
  grep -qxE "$line" "$work/clipboard.txt" || fail "the report has no line '$line'"
done
[ "$(wc -l <"$work/clipboard.txt")" -ge 14 ] || fail "the report is not 14 lines"
echo "ok ($SECONDS s): the context menu copied the first row's report"

# The process details dialog (the rows' owners are unknown under Wine, so the program itself
# cannot open it): shown by the probe for a sample row, closed with Esc.
"$wine" "$probe" details >"$work/details.log" 2>&1 &
details_pid=$!
dialog=$(timeout 60 xdotool search --all --sync --onlyvisible --name '^进程详细信息$' 2>/dev/null | head -n 1)
[ -n "$dialog" ] || fail "the process details dialog did not appear"
probe texts '进程详细信息' >"$work/details-texts.txt"
for text in '文件路径: ' '定位文件' '确定' 'PID:1234' '网络连接查看器  '; do
  grep -qxF "$text" "$work/details-texts.txt" || fail "the details dialog has no '$text'"
done
import -window root "$artifacts/kestrel-wine-details.png" || fail "no screenshot"
xdotool windowfocus --sync "$dialog" 2>/dev/null || xdotool windowfocus "$dialog"
xdotool key --clearmodifiers Escape
details_done() { ! kill -0 "$details_pid" 2>/dev/null || [[ $(ps -o stat= -p "$details_pid") == Z* ]]; }
wait_for 30 details_done || fail "Esc did not close the details dialog"
wait "$details_pid" || fail "the details dialog ended badly"
echo "ok ($SECONDS s): the details dialog showed its texts and closed with Esc"
echo "ok ($SECONDS s): screenshots in $artifacts"
exit 0
