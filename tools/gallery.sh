#!/usr/bin/env bash
# The main job: sets up, builds everything and renders the gallery of every
# plug-in and sub-type into ./gallery (PNG swatches, a contact sheet, index.html).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
build/host/texhost gallery "${1:-gallery}"
