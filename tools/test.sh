#!/usr/bin/env bash
# Sets everything up, builds Punchlet and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DPUNCHLET_WERROR=ON
cmake --build build
ctest --test-dir build --output-on-failure --timeout 300 -j 2
