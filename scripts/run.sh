#!/usr/bin/env bash
# Sets up the machine, builds Kestrel and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
if [ -x build/default/src/app/kestrel ]; then
  exec build/default/src/app/kestrel
fi
exec build/default/src/app/kestrel-snapshot
