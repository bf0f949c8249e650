#!/usr/bin/env bash
# Time and peak resident memory of big bakes of the default clouds, measured
# with /usr/bin/time -v; prints one table row per bake. The images go to a
# scratch folder that is removed afterwards (a 16K OpenEXR with its bump
# channels takes about 3.5 GB while it exists).
#
#   tools/bake-measure.sh [SIZE] [BAKE...]
#
# SIZE defaults to 16384; BAKE is any of png, png16, exr, tileable (all by
# default):
#   png       8-bit intensity PNG and normal map
#   png16     16-bit intensity PNG and normal map
#   exr       OpenEXR (intensity and bump vector) and the packed PNG
#   tileable  the same as exr, seamless
set -euo pipefail
cd "$(dirname "$0")/.."

size=${1:-16384}
shift || true
bakes=("$@")
[ ${#bakes[@]} -gt 0 ] || bakes=(png png16 exr tileable)

tools/setup.sh
if ! dpkg -s time >/dev/null 2>&1; then
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq time >/dev/null
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target texhost harvoske >/dev/null

scratch=$(mktemp -d "${TMPDIR:-/tmp}/bake-measure.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

echo "| bake (${size} x ${size}, default clouds) | wall time | CPU time | peak RSS | files |"
echo "|---|---|---|---|---|"
for bake in "${bakes[@]}"; do
    case $bake in
        png) label="8-bit PNG + normal map"
             args=(-o "$scratch/c.png" --normal-map "$scratch/c_n.png") ;;
        png16) label="16-bit PNG + normal map"
               args=(-o "$scratch/c.png" --bits 16 --normal-map "$scratch/c_n.png") ;;
        exr) label="OpenEXR (Y + bump) + packed PNG"
             args=(-o "$scratch/c.exr" --pack "$scratch/c_p.png") ;;
        tileable) label="OpenEXR + packed PNG, tileable"
                  args=(-o "$scratch/c.exr" --pack "$scratch/c_p.png" --tileable) ;;
        *) echo "unknown bake \"$bake\"" >&2; exit 2 ;;
    esac
    /usr/bin/time -v build/host/texhost render harvoske --size "$size" --quiet "${args[@]}" \
        2> "$scratch/time"
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$scratch/time")
    user=$(sed -n 's/.*User time (seconds): //p' "$scratch/time")
    sys=$(sed -n 's/.*System time (seconds): //p' "$scratch/time")
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$scratch/time")
    files=$(cd "$scratch" && ls c* | while read -r f; do
        printf '%s %s MB, ' "$f" $(( $(stat -c %s "$f") / 1000000 )); done)
    printf '| %s | %s | %s s | %d MiB | %s |\n' "$label" "$wall" \
        "$(awk "BEGIN { printf \"%.0f\", $user + $sys }")" $(( rss / 1024 )) "${files%, }"
    rm -f "$scratch"/c*
done
