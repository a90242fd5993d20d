#!/usr/bin/env bash
# Builds and runs every test, with warnings treated as errors: a normal build, a build under
# AddressSanitizer and UndefinedBehaviorSanitizer, and an optimised Release build (optimisation changes
# what undefined behaviour does, and the compiler warns of other things at -O3).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
start=$SECONDS

scripts/build.sh build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELKOR_WERROR=ON
ctest --test-dir build/release --output-on-failure -j"$jobs"

scripts/build.sh build/asan -DCMAKE_BUILD_TYPE=Debug -DZELKOR_SANITIZE=ON -DZELKOR_WERROR=ON
ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build/asan --output-on-failure -j"$jobs"

scripts/build.sh build/optimised -DCMAKE_BUILD_TYPE=Release -DZELKOR_WERROR=ON
ctest --test-dir build/optimised --output-on-failure -j"$jobs"

echo "All three builds passed in $((SECONDS - start)) s."
