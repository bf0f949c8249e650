#!/usr/bin/env bash
# Builds everything for another processor or with another compiler and runs
# the whole test suite there, the pinned expected samples (both entries)
# included, so that every target is seen to give the same bits:
#
#   aarch64  64-bit Arm: Debian's cross compiler and the arm64 multiarch
#            libraries, tests run under qemu-user            -> build-aarch64/
#   i386     32-bit x86: the build machine's g++ in -m32 mode with SSE2
#            arithmetic and the i386 multiarch libraries      -> build-i386/
#   clang    the build machine's clang++                     -> build-clang/
#   aarch64-clang  64-bit Arm with clang++ as the cross compiler
#                                                   -> build-aarch64-clang/
#
# The plug-ins land in <build>/plugins/. Whatever is missing is installed
# from Debian's packages first, through tools/setup.sh (needs root or sudo).
#
# Usage: tools/cross-check.sh TARGET [ctest arguments...]
#   tools/cross-check.sh aarch64                      every test
#   tools/cross-check.sh aarch64 -R ExpectedSamples   only the pinned samples
# Environment: CROSS_CHECK_JOBS (build and test parallelism, default nproc).
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { echo "usage: $0 aarch64|i386|clang|aarch64-clang [ctest arguments...]" >&2; exit 2; }
[ $# -ge 1 ] || usage
target=$1
shift
jobs=${CROSS_CHECK_JOBS:-$(nproc)}

build=build-$target
configure=()
skip=()

# The libraries the tests and the host link, for a multiarch target.
target_libraries=(libstdc++6 libgtest-dev libgmock-dev libpng-dev libimath-dev libopenexr-3-1-30
    libcpp-httplib-dev pkgconf)
# Development packages that dpkg cannot install beside the build machine's
# own (their files clash): they are unpacked into <build>/sysroot instead,
# where CMake finds them, with the run-time library their CMake files name
# (installed above as well, where the loader finds it).
unpacked_libraries=(libopenexr-dev libopenexr-3-1-30)

# unpack_into_sysroot ARCH: the unpacked_libraries of ARCH, as Debian has them now.
unpack_into_sysroot() {
    rm -rf "$build/debs" "$build/sysroot"
    mkdir -p "$build/debs" "$build/sysroot"
    (cd "$build/debs" && apt-get download -qq "${unpacked_libraries[@]/%/:$1}" 2>/dev/null)
    for deb in "$build"/debs/*.deb; do
        dpkg-deb -x "$deb" "$build/sysroot"
    done
    configure+=(-DCMAKE_PREFIX_PATH="$PWD/$build/sysroot/usr")
}

case $target in
aarch64 | aarch64-clang)
    tools/setup.sh cmake make clang nlohmann-json3-dev g++-aarch64-linux-gnu qemu-user
    tools/setup.sh --arch arm64 "${target_libraries[@]}"
    unpack_into_sysroot arm64
    toolchain=cmake/aarch64-linux-gnu.cmake
    [ "$target" = aarch64 ] || toolchain=cmake/aarch64-linux-gnu-clang.cmake
    configure+=(-DCMAKE_TOOLCHAIN_FILE=$toolchain)
    # An emulated program cannot start another program of the target itself
    # (the build machine's kernel cannot run it without binfmt_misc), and the
    # preview server runs every render in a process of its own executable:
    # its tests are left to the native builds.
    skip=(-E '^(Serve[.]|serve_page$)')
    ;;
i386)
    tools/setup.sh cmake make g++ nlohmann-json3-dev libc6-dev-i386 lib32gcc-12-dev lib32stdc++-12-dev
    tools/setup.sh --arch i386 "${target_libraries[@]}" libc6-dev
    unpack_into_sysroot i386
    configure+=(-DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux-gnu.cmake)
    ;;
clang)
    tools/setup.sh
    configure+=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
    ;;
*)
    usage
    ;;
esac

start=$SECONDS
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${configure[@]}" >/dev/null
cmake --build "$build" -j"$jobs"
built=$SECONDS
(cd "$build" && ctest --output-on-failure -j"$jobs" "${skip[@]}" "$@")
echo "cross-check $target passed: build $((built - start)) s, tests $((SECONDS - built)) s"
