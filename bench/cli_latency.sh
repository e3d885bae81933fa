#!/usr/bin/env bash
# Wall time of `./vantrel device status --json` against the program it wraps, on a device of its
# own in a temporary folder. Calls alternate between the two so load drifts hit both alike.
# usage: bench/cli_latency.sh [N]   (N calls of each, default 50)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${VANTREL_BUILD_DIR:-$ROOT/build}"
BIN="$BUILD/bin"
N="${1:-50}"
case "$N" in ''|*[!0-9]*|0) echo "usage: bench/cli_latency.sh [N]" >&2; exit 2 ;; esac

"$ROOT/sim/vantrel-commands.sh" ensure-built
DIR="$(mktemp -d "${TMPDIR:-/tmp}/vantrel-cli-latency.XXXXXX")"
stop_device() {
    "$BIN/vantrel-device" --device "$DIR" stop >/dev/null 2>&1 || true
    rm -rf -- "$DIR"
}
trap stop_device EXIT
"$BIN/vantrel-device" --device "$DIR" start >/dev/null

wrapper=("$ROOT/vantrel" device status --json --device "$DIR")
direct=("$BIN/vantrel-device" --device "$DIR" status --json)
"${wrapper[@]}" >/dev/null  # warm-up: caches, and a build if one is due
"${direct[@]}" >/dev/null

# Microseconds one call takes; bash's own clock, so no process is started to read it.
elapsed_us() {
    local t0 t1
    t0="${EPOCHREALTIME//[.,]/}"
    "$@" >/dev/null
    t1="${EPOCHREALTIME//[.,]/}"
    echo $((t1 - t0))
}

wrapper_us=()
direct_us=()
for ((i = 0; i < N; i++)); do
    wrapper_us+=("$(elapsed_us "${wrapper[@]}")")
    direct_us+=("$(elapsed_us "${direct[@]}")")
done

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
w="$(median "${wrapper_us[@]}")"
d="$(median "${direct_us[@]}")"
awk -v w="$w" -v d="$d" -v n="$N" 'BEGIN {
    printf "calls of each:                        %d\n", n
    printf "./vantrel device status --json:       %.1f ms (median)\n", w / 1000
    printf "vantrel-device status --json:         %.1f ms (median)\n", d / 1000
    printf "ratio:                                %.2f\n", w / d
}'
