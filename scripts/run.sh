#!/usr/bin/env bash
# Sets up the machine, builds Kestrel and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target kestrel kestrel-snapshot kestrel-helper

# kestrel-helper shows the owners of other users' sockets, and closes the user's own
# connections, once it holds its three capabilities; a rebuild of it drops them, so they are
# granted again when missing.
helper=build/default/src/app/kestrel-helper
caps=cap_dac_read_search,cap_net_admin,cap_sys_ptrace=ep
export PATH="$PATH:/usr/sbin:/sbin"
has_caps() { getcap "$helper" 2>/dev/null | grep -q cap_net_admin; }
if ! has_caps; then
  if [ "$(id -u)" -eq 0 ]; then
    setcap "$caps" "$helper" || true
  elif command -v sudo >/dev/null; then
    echo "run: granting kestrel-helper its capabilities (sudo may ask for your password)"
    sudo setcap "$caps" "$helper" || true
  fi
  if has_caps; then
    echo "run: kestrel-helper may now see every process's sockets"
  else
    echo "run: kestrel-helper has no capabilities, so other users' sockets show without their" \
      "owners; to grant them: sudo setcap $caps $helper" >&2
  fi
fi
exec build/default/src/app/kestrel
