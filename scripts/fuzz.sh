#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer, fuzzes each for SECONDS (default 60) starting from its
# corpus in fuzz/corpus/NAME/, and merges the new interesting inputs into that corpus.
# Inputs that break a target are kept in build-fuzz/findings/NAME/.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
./scripts/deps.sh --fuzz
cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    read -r -a targets <<<"$(sed -n 's/^set(SENTREL_FUZZ_[A-Z]*_TARGETS \(.*\))$/\1/p' fuzz/CMakeLists.txt | tr '\n' ' ')"
fi
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for name in "${targets[@]}"; do
    corpus=fuzz/corpus/$name
    work=build-fuzz/work/$name
    findings=build-fuzz/findings/$name
    rm -rf "$work"
    mkdir -p "$corpus" "$work" "$findings"
    echo "== $name: fuzzing for $seconds s"
    # New inputs go to a scratch directory; the merge below keeps only those that add coverage.
    if ! "build-fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 \
        -max_len=4096 -print_final_stats=1 -artifact_prefix="$findings/" "$work" "$corpus" \
        2>&1 | tee "build-fuzz/$name.log" | grep -E '^(#[0-9]+[[:space:]]+DONE|stat::|==|SUMMARY|.*property does not hold)'; then
        :
    fi
    if grep -qE 'property does not hold|ERROR: (AddressSanitizer|libFuzzer)|runtime error' "build-fuzz/$name.log"; then
        echo "$name: a finding, kept in $findings" >&2
        status=1
    fi
    "build-fuzz/fuzz_$name" -merge=1 "$corpus" "$work" 2>&1 | grep -E 'MERGE-OUTER: [0-9]+ new files' || true
done
exit $status
