#!/usr/bin/env bash
# The threaded code under ThreadSanitizer: the core's own tests (parallel
# runs, cancellation, failures in workers) and the run driver's thread-count
# tests.
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=build/tsan
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARVOK_SANITIZE_THREAD=ON -DTARVOK_WERROR=ON \
  -DTARVOK_BUILD_TESTS=ON -DTARVOK_BUILD_HOST=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target core_tests shaving_tests engine_tests
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
"$dir/tests/core_tests"
"$dir/tests/shaving_tests"
"$dir/tests/engine_tests" --gtest_filter='RuzoVavav.ThreadCount*:RuzoVavav.PlantedBlock*'
