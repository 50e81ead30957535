#!/usr/bin/env bash
# The full crash-point sweep of tests/test_crashpoints.cpp, where CTest takes a sample: the real
# program is killed at every call of every writing system call of four moves in turn (a copy
# across file systems, a group of copies, a rename, copies through two folder pairs), started
# again and checked each time. Prints
# the crash points per call and move and the time taken. Needs root (it mounts a tmpfs), strace
# and a build folder (build/ unless given).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target Kopierwart test_crashpoints >/dev/null
start=$(date +%s)
KW_CRASH_SWEEP=all QT_QPA_PLATFORM=offscreen KW_TEST_BINARY_DIR="$PWD/$build" \
    "$build/tests/test_crashpoints"
echo "Full sweep: $(($(date +%s) - start)) s"
