#!/usr/bin/env bash
# Sets everything up, builds Punchlet, punches a fresh copy of the bundled
# samples in batch mode (no display needed) and lists what it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DPUNCHLET_WERROR=ON >/dev/null
cmake --build build --target punchlet
demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
cp -R samples/. "$demo/"
rm -f "$demo/SOURCES.md"
echo "Punching the pictures in $demo ..."
build/punchlet "$demo"
echo "Written:"
find "$demo" -name '加工済*' -printf '  %p (%s bytes)\n' | sort
