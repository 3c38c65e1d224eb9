#!/usr/bin/env bash
# Installs what is missing, then builds everything (tests and benchmarks
# included) and runs every test twice: the normal build, and a build with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

scripts/build.sh build/release -DCMAKE_BUILD_TYPE=Release -DQ4_BUILD_TESTS=ON -DQ4_BUILD_BENCHMARKS=ON
ctest --test-dir build/release -j "$jobs" --output-on-failure

scripts/build.sh build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQ4_SANITIZE=ON -DQ4_BUILD_TESTS=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions="$PWD/scripts/lsan.supp" ctest --test-dir build/sanitize -j "$jobs" --output-on-failure
