#!/usr/bin/env bash
# Builds and runs every test: once as a normal build, once more under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

scripts/build.sh build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build/release --output-on-failure -j"$jobs"

scripts/build.sh build/asan -DCMAKE_BUILD_TYPE=Debug -DZELKOR_SANITIZE=ON
ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build/asan --output-on-failure -j"$jobs"
