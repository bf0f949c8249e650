#!/usr/bin/env bash
# Instructions per shading sample of every plug-in, counted by callgrind:
# repeatable on a noisy machine, so changes can be compared. Each figure is
# (count for LONG samples - count for SHORT samples) / (LONG - SHORT), which
# removes the cost of loading and setting up.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v valgrind >/dev/null || { tools/setup.sh; apt-get install -y -qq valgrind >/dev/null; }
build=${BUILD_DIR:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTEXTURES_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target sample_driver >/dev/null

SHORT=200
LONG=1200
count() { # plugin samples footprint
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$build/bench/sample_driver" \
        "$build/plugins/$1.so" "$2" "$3" 0 2>&1 >/dev/null |
        sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
printf '%-18s %14s %14s\n' plug-in "with footprint" "no footprint"
for plugin in harvoske quelmi pellosca delmorasquintava vamorela; do
    row=()
    for footprint in 1 0; do
        a=$(count "$plugin" $SHORT $footprint)
        b=$(count "$plugin" $LONG $footprint)
        row+=($(( (b - a) / (LONG - SHORT) )))
    done
    printf '%-18s %14s %14s\n' "$plugin" "${row[0]}" "${row[1]}"
done
