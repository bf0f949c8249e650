#!/usr/bin/env bash
# Builds and runs the benchmarks (Release), with the peer noise libraries
# from Debian's libstb-dev and libnoise-dev installed if they are missing,
# then prints the table of the performance targets (tools/bench_table.py):
# the processor, the noise path in use, and per row the time, its ratio to
# stb_perlin_noise3 and the target. Extra arguments go to the benchmark
# binary (e.g. --benchmark_filter=turb).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
missing=()
for p in libstb-dev libnoise-dev; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    # The peers are optional: without them the benchmark has no peer rows.
    { $sudo_cmd apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
        $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null; } ||
        echo "peer libraries not installed; benchmarking without them" >&2
fi
build=${BUILD_DIR:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTEXTURES_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target bench
# Every benchmark BENCH_REPETITIONS times (default 5); the table below the
# benchmark's own output takes the minimum and the median of each.
results="$build/bench_results.json"
load() { cut -d' ' -f1 /proc/loadavg; }
before=$(load)
"$build/bench/bench" --benchmark_repetitions="${BENCH_REPETITIONS:-5}" \
    --benchmark_out="$results" --benchmark_out_format=json "$@"
/usr/bin/python3 tools/bench_table.py "$results" "$before" "$(load)"
