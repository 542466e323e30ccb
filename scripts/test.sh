#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
for preset in native win32 win64; do
    cmake --preset "$preset"
    cmake --build --preset "$preset" -j "$jobs"
done

ctest --preset native
# Windows tests may show message boxes, which need an X server.
xvfb-run -a ctest --preset win32
xvfb-run -a ctest --preset win64
