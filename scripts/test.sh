#!/usr/bin/env bash
# Builds and runs every test: all of them under AddressSanitizer + UndefinedBehaviorSanitizer,
# and the threaded ones again under ThreadSanitizer. Installs missing packages first.
# Usage: scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/setup.sh

echo "== ASan + UBSan: all tests"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

echo "== TSan: threaded tests"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target threaded_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --preset tsan -j "$jobs"
