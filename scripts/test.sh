#!/usr/bin/env bash
# Sets up the machine, builds with warnings as errors, and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --workflow --preset ci
# The Windows build (mingw-w64) and its tests under Wine, when the set-up found the toolchain.
if command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null; then
  cmake --workflow --preset windows
fi
