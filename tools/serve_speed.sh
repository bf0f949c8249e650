#!/usr/bin/env bash
# Times texhost serve's preview: a 512 x 512 render of the default clouds,
# from request to last byte (curl's time_total), repeated; prints the
# median, the fastest and the slowest, and the render time the server reports.
#   tools/serve_speed.sh [REQUESTS] [QUERY]
set -euo pipefail
cd "$(dirname "$0")/.."
requests=${1:-40}
query=${2:-plugin=harvoske&size=512}
command -v curl >/dev/null || { sudo_cmd=""; [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo";
    $sudo_cmd apt-get install -y -qq curl >/dev/null; }
[ -x build/host/texhost ] || { cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
                               cmake --build build -j"$(nproc)" --target texhost >/dev/null; }

log=$(mktemp)
build/host/texhost serve --port 0 >"$log" &
server=$!
trap 'kill $server 2>/dev/null; rm -f "$log"' EXIT
for _ in $(seq 50); do grep -q http "$log" && break; sleep 0.1; done
url=$(grep -o 'http://[^ ]*' "$log")api/render?$query

curl -s -o /dev/null "$url" # the render process starts with the first request
totals=() renders=()
for _ in $(seq "$requests"); do
    line=$(curl -s -D - -o /dev/null -w 'total %{time_total}\n' "$url" | tr -d '\r')
    totals+=("$(sed -n 's/^total //p' <<<"$line")")
    renders+=("$(sed -n 's/^X-Render-Seconds: //Ip' <<<"$line")")
done
stats() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1 * 1000} END {
    printf "median %.1f ms, fastest %.1f ms, slowest %.1f ms", v[int((NR + 1) / 2)], v[1], v[NR] }'; }
echo "$requests requests of $query on $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "request to last byte: $(stats "${totals[@]}")"
echo "render alone:         $(stats "${renders[@]}")"
