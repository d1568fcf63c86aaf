#!/usr/bin/env bash
# The threaded code under ThreadSanitizer: the job runner, the batch and the
# memory budget, with a runner destroyed while its workers run. Only the test
# program that holds them is built. Any report fails the step.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-tsan}

launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
timeout 120 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DPUNCHLET_BENCH=OFF -DPUNCHLET_WERROR=ON >/dev/null
timeout 720 cmake --build "$build" --target test_threads

# Qt's libraries are not instrumented: what they do inside is unseen, and the
# suppressions file says why each of its lines is needed.
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 suppressions=$PWD/tools/tsan.supp"
# Newer kernels randomise the address space more than TSan's fixed layout allows.
run=(timeout 120)
if command -v setarch >/dev/null && setarch "$(uname -m)" -R true 2>/dev/null; then
  run+=(setarch "$(uname -m)" -R)
fi
cd "$build"
"${run[@]}" ./tests/test_threads --gtest_filter='JobRunner.*:BatchTest.*:MemoryBudget.*:Picture.Decoded*'
# The stress test once more, many times over.
"${run[@]}" ./tests/test_threads --gtest_filter='JobRunner.DestroyedWhileItsWorkersRun' --gtest_repeat=20
