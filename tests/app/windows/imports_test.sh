#!/usr/bin/env bash
# The Windows programs against the Windows version the build targets: every compiled file was
# built for that version, and no program imports a function newer than it (those are looked
# up at run time), nor a DLL that Windows 7 lacks.
# Usage: imports_test.sh <objdump> <compile_commands.json> <version, e.g. 0x0601> <exe>...
set -euo pipefail
objdump=$1 commands=$2 version=$3
shift 3

status=0
# Each source of the Windows build names the one version, and no other.
other=$(grep -o -- '-D_WIN32_WINNT=0x[0-9A-Fa-f]*\|-DWINVER=0x[0-9A-Fa-f]*' "$commands" |
        grep -v -- "=$version\$" | sort -u || true)
if [ -n "$other" ]; then
  echo "sources built for another Windows version: $other"
  status=1
fi
if ! grep -q -- "-D_WIN32_WINNT=$version" "$commands"; then
  echo "no source is built with _WIN32_WINNT=$version"
  status=1
fi

# Functions that Windows 7 does not export, which the window might reach for.
newer='^(GetDpiForWindow|GetDpiForSystem|GetDpiForMonitor|GetSystemMetricsForDpi|AdjustWindowRectExForDpi|SystemParametersInfoForDpi|EnableNonClientDpiScaling|SetThreadDpiAwarenessContext|GetThreadDpiAwarenessContext|SetProcessDpiAwarenessContext|SetProcessDpiAwareness|GetAwarenessFromDpiAwarenessContext|GetWindowDpiAwarenessContext|LoadIconWithScaleDown|SetThreadDescription|GetThreadDescription|CreateFile2|GetSystemTimePreciseAsFileTime|PathCchCombine|WaitOnAddress)$'
for exe in "$@"; do
  imports=$("$objdump" -p "$exe" |
            awk '/DLL Name:/ {dll = $3; next} /^$/ {dll = ""} dll != "" && NF == 3 && $1 ~ /^[0-9a-f]+$/ {print dll, $3}')
  if [ -z "$imports" ]; then
    echo "$exe: no imports read"
    status=1
    continue
  fi
  while read -r dll function; do
    if [[ "$function" =~ $newer ]]; then
      echo "$exe imports $dll!$function, newer than the build's Windows version"
      status=1
    fi
    case "${dll,,}" in
      api-ms-win-*|shcore.dll|ucrtbase.dll|vcruntime*)
        echo "$exe imports from $dll, which Windows 7 lacks"
        status=1 ;;
    esac
  done <<<"$imports"
  echo "$exe: $(wc -l <<<"$imports") imports checked"
done
exit $status
