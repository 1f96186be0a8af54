#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Idempotent: a machine that has everything is left alone.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

wanted=()
for list in "$here"/packages/*.txt; do
  while read -r pkg _; do
    case "$pkg" in ''|'#'*) continue ;; esac
    wanted+=("$pkg")
  done < "$list"
done

missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "setup: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
