#!/usr/bin/env bash
# Sets everything up, builds Punchlet and punches a copy of the bundled samples.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build --target punchlet
