#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the test suite in a normal build
# (the engine's and the desktop window's, the latter on Qt's offscreen platform), the Debian
# package with lintian, the same suite under AddressSanitizer + UndefinedBehaviorSanitizer, and
# a bounded run of each fuzz target.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
bash "$top/scripts/install-deps.sh"

echo "== build and test"
bash "$top/scripts/build.sh" "$top/build"
ctest --test-dir "$top/build" --output-on-failure -j "$jobs"

echo "== Debian package (lintian must report no errors)"
bash "$top/scripts/package.sh" "$top/build"

echo "== build and test with AddressSanitizer + UndefinedBehaviorSanitizer"
BUILD_TYPE=Debug bash "$top/scripts/build.sh" "$top/build-asan" -DCORVANE_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$top/build-asan" --output-on-failure -j "$jobs"

echo "== concurrency tests with ThreadSanitizer"
cmake -S "$top" -B "$top/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVANE_TSAN=ON >/dev/null
ninja -C "$top/build-tsan" corvane_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "$top/build-tsan/tests/corvane_tests" \
  --gtest_filter="$(cat "$top/tests/concurrency_tests.txt")"

echo "== fuzz (bounded)"
CC=clang CXX=clang++ BUILD_TYPE=Debug bash "$top/scripts/build.sh" "$top/build-fuzz" \
  -DCORVANE_FUZZ=ON -DCORVANE_TESTS=OFF -DCORVANE_GUI=OFF
bash "$top/scripts/fuzz.sh" "$top/build-fuzz" "${FUZZ_SECONDS:-30}"
