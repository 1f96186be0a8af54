#!/usr/bin/env bash
# Sets up the machine, checks the format, builds with warnings as errors and runs every test
# through CTest; then the same tests under AddressSanitizer and UndefinedBehaviorSanitizer,
# the tests that start threads under ThreadSanitizer, and the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/format.sh
cmake --workflow --preset ci
cmake --workflow --preset asan
cmake --workflow --preset tsan
# The Windows build (mingw-w64) and its tests under Wine, when the set-up found the toolchain.
if command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null; then
  cmake --workflow --preset windows
fi
