#!/usr/bin/env bash
# Sets up the machine, builds Kestrel and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target kestrel kestrel-snapshot
exec build/default/src/app/kestrel
