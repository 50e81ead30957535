#!/usr/bin/env bash
# Builds Kopierwart and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOPIERWART_BUILD_TESTS=OFF \
    -DKOPIERWART_BUILD_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target Kopierwart
exec build/app/Kopierwart
