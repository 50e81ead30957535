#!/usr/bin/env bash
# Builds the Debian package of this checkout: build-package/kopierwart_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DKOPIERWART_BUILD_TESTS=OFF \
    -DKOPIERWART_BUILD_BENCH=OFF >/dev/null
cmake --build build-package -j"$(nproc)"
(cd build-package && cpack -G DEB)
