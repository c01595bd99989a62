#!/usr/bin/env bash
# Installs what Sentrel needs on Debian 12, builds it twice (plain and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs the whole test suite
# in both builds. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

jobs=$(nproc)
# Most tests wait on sockets, timers and child processes rather than compute, so more of
# them run at once than there are cores.
test_jobs=$((jobs * 3))
asan_env=(ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)

echo "== formatting"
git ls-files -- '*.cpp' '*.h' | xargs -r clang-format --dry-run -Werror

# The plain build runs the tests and times the benchmarks: optimised, but without debug
# information, which costs more to compile and link than anything else. The sanitizer build
# keeps line tables for its reports. Both are unity builds: a handful of files compiled as
# one parse the Qt headers once, which a from-scratch build gains more from than from
# precompiled headers (those pay off in a developer's incremental builds).
echo "== configuring"
fresh_build=(-G Ninja -DCMAKE_UNITY_BUILD=ON -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON)
cmake -S . -B build "${fresh_build[@]}" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DSENTREL_BUILD_TESTS=ON -DSENTREL_BUILD_BENCH=ON >/dev/null
cmake -S . -B build-asan "${fresh_build[@]}" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g1" \
    -DSENTREL_SANITIZE=ON -DSENTREL_BUILD_BENCH=OFF >/dev/null

echo "== plain build"
cmake --build build -j "$jobs"

# The plain suite runs while the sanitizer build compiles at a lower priority, so the
# tests' own time limits see a responsive machine.
echo "== plain tests, sanitizer build alongside"
nice -n 10 cmake --build build-asan -j "$jobs" >build-asan/build.log 2>&1 &
asan_build=$!
plain=0
(cd build && ctest --output-on-failure -j "$test_jobs") || plain=$?
asan=0
wait "$asan_build" || asan=$?
if [ "$asan" -ne 0 ]; then
    cat build-asan/build.log
    echo "sanitizer build failed" >&2
    exit "$asan"
fi
[ "$plain" -eq 0 ] || exit "$plain"

echo "== sanitizer tests"
(cd build-asan && env "${asan_env[@]}" ctest --output-on-failure -j "$test_jobs")
