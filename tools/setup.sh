#!/usr/bin/env bash
# Installs what the build, the tests and the tools need, from Debian's packages.
# Only missing packages are fetched, so a prepared machine starts at once.
set -euo pipefail

packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libpng-dev libbenchmark-dev
          clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
