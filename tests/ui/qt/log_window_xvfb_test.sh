#!/usr/bin/env bash
# The connection log window's own tests on a virtual X display with a real window manager
# (openbox) rather than the offscreen platform: the filter field typed into, Escape with the
# real focus, and the export through the real file dialog onto a file.
# Usage: log_window_xvfb_test.sh <connection_log_window_test program> <artifact folder>
set -u
program=$1
artifacts=$2
mkdir -p "$artifacts"
session_pids() { :; }
. "$(dirname "$0")/../../xvfb_session.sh"

start_xvfb
"$program" --gtest_filter='ConnectionLogWindowTest.TheFilterField*:ConnectionLogWindowTest.NewRows*' \
  >"$work/test.log" 2>&1
status=$?
cp "$work/test.log" "$artifacts/log_window_xvfb.txt"
[ "$status" = 0 ] || fail "the log window's tests failed under Xvfb ($status)"
grep -q '\[  PASSED  \] 2 tests' "$work/test.log" || fail "the log window's tests did not run"
echo "PASS"
