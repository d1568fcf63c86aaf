#!/usr/bin/env bash
# Builds the widget and imaging tests without the SSE2 loops and runs them, so
# the portable loops that ARM64 builds run are tested on every pixel, not only
# on the last few of a row.
set -euo pipefail
cd "$(dirname "$0")/.."
timeout 120 cmake -S . -B build-nosimd -G Ninja -DCMAKE_BUILD_TYPE=Release -DPUNCHLET_SIMD=OFF \
  -DPUNCHLET_BENCH=OFF -DPUNCHLET_WERROR=ON >/dev/null
timeout 600 cmake --build build-nosimd --target test_imaging test_widgets
for suite in imaging widgets; do
  QT_QPA_PLATFORM=offscreen timeout 300 "build-nosimd/tests/test_$suite" --gtest_brief=1
done
