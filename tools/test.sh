#!/usr/bin/env bash
# Sets up, builds and runs every test: once in the normal build, once under
# AddressSanitizer and UndefinedBehaviorSanitizer (any report fails the run),
# and once each with clang, for 32-bit x86 and for aarch64.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh

# Float arithmetic that rounds where no named value is stored.
tools/float-audit.sh

jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DTEXTURES_SANITIZE=ON
cmake --build build-sanitize -j"$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-sanitize && ctest --output-on-failure -j"$jobs")

# Fuzz every plug-in for a bounded time (FUZZ_SECONDS each, default 60).
tools/fuzz.sh

# Every test again, built with clang, for 32-bit x86 and for aarch64 (under
# qemu-user): the same bits on every compiler and processor.
for target in clang i386 aarch64; do
    tools/cross-check.sh "$target"
done
