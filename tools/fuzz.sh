#!/usr/bin/env bash
# Builds the libFuzzer target of every plug-in with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for a bounded time, seeded
# with fuzz/corpus/<plugin>. An input that crashes, trips a sanitizer, hangs
# or gives an answer the harness rejects is copied into
# fuzz/regressions/<plugin>/ (where the regression tests replay it from then
# on), printed in hex, and the script fails once every fuzzer has run.
#
# Environment: FUZZ_SECONDS (per fuzzer, default 60), FUZZ_BUILD_DIR
# (default build-fuzz), FUZZ_PLUGINS (space-separated subset, default all
# that the build has), FUZZ_JOBS (build parallelism, default 2).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD_DIR:-build-fuzz}
jobs=${FUZZ_JOBS:-2}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTEXTURES_FUZZ=ON -DTEXTURES_SANITIZE=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target fuzzers

plugins=${FUZZ_PLUGINS:-$(cat "$build/fuzz/fuzzers.txt")}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
for plugin in $plugins; do
    seeds=fuzz/corpus/$plugin
    mkdir -p "$work/$plugin/corpus" "$work/$plugin/artifacts"
    echo "== fuzzing $plugin for ${seconds}s"
    # New inputs go to the scratch corpus; the committed seeds are only read.
    set +e
    "$build/fuzz/fuzz_$plugin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/$plugin/artifacts/" \
        "$work/$plugin/corpus" "$seeds" >"$work/$plugin/log" 2>&1
    status=$?
    set -e
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb)' \
        "$work/$plugin/log" || true
    artifacts=("$work/$plugin/artifacts"/*)
    if [ "$status" -ne 0 ] || [ -e "${artifacts[0]}" ]; then
        echo "!! $plugin: fuzzer failed (exit $status)"
        tail -n 60 "$work/$plugin/log"
        mkdir -p "fuzz/regressions/$plugin"
        for a in "${artifacts[@]}"; do
            [ -e "$a" ] || continue
            cp "$a" "fuzz/regressions/$plugin/"
            echo "kept fuzz/regressions/$plugin/$(basename "$a"):"
            od -An -tx1 -v "$a"
        done
        failed+=("$plugin")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzzing failed for: ${failed[*]}"
    exit 1
fi
echo "fuzzing passed for:" $plugins
