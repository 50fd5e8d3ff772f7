#!/usr/bin/env bash
# Builds and runs every test: the format check, all tests under AddressSanitizer +
# UndefinedBehaviorSanitizer, the threaded ones again under ThreadSanitizer, clang's thread-safety
# analysis of the annotated locks, and a short run of every fuzz target. Installs missing packages
# first. The Debian package is built once, beside the test runs (they leave the processors idle
# much of the time), and the package test checks that build.
# Usage: scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/setup.sh

echo "== Format: every C++ source as clang-format writes it; includes down the floors only"
git ls-files -z '*.cc' '*.h' | xargs -0 clang-format --dry-run --Werror
scripts/check-layers.sh

echo "== ASan + UBSan: all tests"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
rm -rf build/package
mkdir -p build/package
scripts/package.sh build/package >build/package/log 2>&1 &
package=$!
trap 'kill "$package" 2>/dev/null || true' EXIT
ctest --preset asan -j "$jobs" -E deb_package_test

echo "== TSan: threaded tests"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target threaded_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --preset tsan -j "$jobs"

echo "== Thread-safety analysis (clang)"
scripts/check-threads.sh

echo "== Fuzzing: every reader of outside input, a fixed number of runs"
fuzz/run.sh

echo "== The Debian package"
if ! wait "$package"; then
  cat build/package/log
  exit 1
fi
QUILLOP_DEB=$(ls "$PWD"/build/package/movarix-share_*.deb) ctest --preset asan -R deb_package_test
