#!/usr/bin/env bash
# Builds Kopierwart with its tests and runs every test: fuzzes every reader of outside files for a
# bounded time, builds the plain program with its benchmarks and checks its Debian package, then
# runs every test with the address and undefined-behaviour sanitizers, whose summary ends the output.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

scripts/fuzz.sh

# The package holds the plain program, so only its test runs here; the sanitizer build below runs
# every other test, a stricter run of the same code.
cmake -S . -B build-tests -DCMAKE_BUILD_TYPE=Debug -DKOPIERWART_BUILD_BENCH=ON >/dev/null
benchmarks=$(find bench -maxdepth 1 -name 'bench_*.cpp' -printf '%f\n' | sed 's/\.cpp$//')
# shellcheck disable=SC2086 # one word per target
cmake --build build-tests -j"$jobs" --target Kopierwart kw_icon_pngs kw_manpage test_package \
    $benchmarks
ctest --test-dir build-tests --output-on-failure --timeout 600 -R '^test_package$'

cmake -S . -B build-sanitizers -DCMAKE_BUILD_TYPE=Debug -DENABLE_SANITIZERS=ON \
    -DKOPIERWART_BUILD_BENCH=OFF >/dev/null
cmake --build build-sanitizers -j"$jobs"
# Qt's own one-time allocations would drown real reports, so leaks are not checked.
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-sanitizers --output-on-failure --timeout 600
