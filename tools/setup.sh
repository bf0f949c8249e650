#!/usr/bin/env bash
# Installs what the build, the tests and the tools need, from Debian's packages.
# Only missing packages are fetched, so a prepared machine starts at once.
set -euo pipefail

packages=(
    # the build, the unit tests and the fuzzers
    cmake g++ make pkg-config libgtest-dev libgmock-dev libpng-dev libbenchmark-dev
    clang libclang-rt-14-dev
    # float images for exact bakes
    libopenexr-dev
    # the preview server, and a real browser to test its page
    libcpp-httplib-dev nlohmann-json3-dev chromium chromium-driver python3-selenium
    # the Python module, against Debian's interpreter and NumPy
    python3-dev pybind11-dev python3-numpy python3-pytest
)
# Asked for by architecture: once a package is also installed for another
# architecture (multiarch), its bare name is ambiguous to dpkg.
native=$(dpkg --print-architecture)
missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p:$native" >/dev/null 2>&1 || dpkg -s "$p:all" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
