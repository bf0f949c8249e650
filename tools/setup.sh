#!/usr/bin/env bash
# Installs what the build, the tests and the tools need, from Debian's packages.
# Only missing packages are fetched, so a prepared machine starts at once.
#
#   tools/setup.sh                         the project's packages
#   tools/setup.sh [--arch ARCH] PACKAGE...  the given ones instead, for the
#                                          machine's own architecture or,
#                                          through multiarch, for ARCH
set -euo pipefail

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
arch=$(dpkg --print-architecture)
suffix="" # :ARCH on the names of packages for a foreign architecture
update=0
if [ "${1:-}" = "--arch" ]; then
    if [ "$2" != "$arch" ]; then
        arch=$2
        suffix=":$arch"
        if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
            echo "adding the $arch architecture to dpkg"
            $sudo_cmd dpkg --add-architecture "$arch"
            update=1
        fi
    fi
    shift 2
fi

packages=(
    # the build, the unit tests and the fuzzers
    cmake g++ make pkg-config libgtest-dev libgmock-dev libpng-dev libbenchmark-dev
    clang libclang-rt-14-dev
    # the float-arithmetic audit (clang-query)
    clang-tools
    # float images for exact bakes
    libopenexr-dev
    # the preview server, and a real browser to test its page
    libcpp-httplib-dev nlohmann-json3-dev chromium chromium-driver python3-selenium
    # the Python module, against Debian's interpreter and NumPy
    python3-dev pybind11-dev python3-numpy python3-pytest
)
[ $# -eq 0 ] || packages=("$@")

# Asked for by architecture: once a package is also installed for another
# architecture (multiarch), its bare name is ambiguous to dpkg.
missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p:$arch" >/dev/null 2>&1 || dpkg -s "$p:all" >/dev/null 2>&1 ||
        missing+=("$p$suffix")
done
if [ ${#missing[@]} -gt 0 ] || [ $update -eq 1 ]; then
    $sudo_cmd apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
