#!/usr/bin/env bash
# Sets up the machine, builds with warnings as errors, and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --workflow --preset ci
