#!/usr/bin/env bash
# Runs a Windows program under Wine in a prefix of the build's own:
#   wine-run.sh <prefix folder> <program.exe> [arguments...]
# The first call creates the prefix (wineboot, bounded in time); concurrent first calls wait
# for it under a lock instead of booting twice.
set -euo pipefail
prefix=$(realpath -m "$1") # Wine wants an absolute path
shift
export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

wine=$(command -v wine64 || command -v wine || true)
if [ -z "$wine" ]; then
  echo "wine-run: wine is not installed (scripts/setup.sh installs it)" >&2
  exit 127
fi

mkdir -p "$(dirname "$prefix")"
if [ ! -f "$prefix/.kestrel-ready" ]; then
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/.kestrel-ready" ]; then
    rm -rf "$prefix"
    if ! timeout 300 "$wine" wineboot -i >/dev/null 2>&1; then
      echo "wine-run: creating the Wine prefix $prefix failed or took over 300 s" >&2
      exit 1
    fi
    timeout 120 "$(command -v wineserver || echo /usr/lib/wine/wineserver)" -w || true
    # Windows made by the tests need no screen: Wine's null display driver serves them. A
    # test that shows a real window under X makes a prefix of its own.
    timeout 120 "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
      >/dev/null 2>&1 || true
    timeout 120 "$(command -v wineserver || echo /usr/lib/wine/wineserver)" -w || true
    touch "$prefix/.kestrel-ready"
  fi
  exec 9>&-
fi
# A wineserver that outlives each program saves Wine's start-up (about 2 s) on every test;
# it ends by itself 30 s after the last program. When this call started it, Wine's own
# services are started too, detached: started by the test they would inherit its output and
# keep CTest waiting until the server ends.
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
if "$wineserver" -p30 </dev/null >/dev/null 2>&1; then
  timeout 120 "$wine" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 || true
fi

# Windows programs end their lines with CR LF; the tools reading the output (GoogleTest's test
# discovery among them) expect LF.
set +e
output=$(mktemp)
trap 'rm -f "$output"' EXIT
for attempt in 1 2; do
  "$wine" "$@" | tr -d '\r' | tee "$output"
  status=${PIPESTATUS[0]}
  # Now and then Wine fails to start a program at all (its server changing hands, say) and
  # it ends at once without a word; a test program that ran has always printed something.
  # Such a start is tried once more.
  if [ "$status" -eq 0 ] || [ -s "$output" ] || [ "$attempt" -eq 2 ]; then
    exit "$status"
  fi
  echo "wine-run: $1 ended with status $status before printing anything; starting it again" >&2
  sleep 1
done
