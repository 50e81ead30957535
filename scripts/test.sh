#!/usr/bin/env bash
# Builds Kopierwart with its tests and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-tests -DCMAKE_BUILD_TYPE=Debug -DKOPIERWART_BUILD_BENCH=ON >/dev/null
cmake --build build-tests -j"$(nproc)"
cd build-tests
ctest --output-on-failure --timeout 600
