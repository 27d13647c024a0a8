#!/usr/bin/env bash
# The full crash harness: a writer appending to copies of Outlook-made stores is killed at
# MAILFOLD_CRASH_POINTS (default 200) random moments; each time the store must open, pass the
# checker and hold every message committed before the kill. Also runs the I/O fault sweep.
# Usage: scripts/crashtest.sh [BUILD-DIR]   (a Debug build: ASan and UBSan watch the writer too)
set -euo pipefail
build="${1:-build}"
cmake --build "$build" --target test_pst_safety mailfold-crash-writer -j "${JOBS:-2}"
export MAILFOLD_CRASH_POINTS="${MAILFOLD_CRASH_POINTS:-200}"
exec "$build/bin/test_pst_safety" --gtest_filter='CrashHarness.*:IoFaults.*:MapRebuild.*'
