#!/usr/bin/env bash
# Installs what Sentrel needs on Debian 12, builds it twice (plain and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs the whole test suite
# in both builds. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

jobs=$(nproc)
echo "== formatting"
git ls-files -- '*.cpp' '*.h' | xargs -r clang-format --dry-run -Werror

echo "== plain build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSENTREL_BUILD_TESTS=ON -DSENTREL_BUILD_BENCH=ON
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

echo "== sanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSENTREL_SANITIZE=ON -DSENTREL_BUILD_BENCH=OFF
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --output-on-failure -j "$jobs")
