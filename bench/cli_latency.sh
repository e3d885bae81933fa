#!/usr/bin/env bash
# Wall time of `./vantrel device status --json`, of the program it wraps (or the installed one,
# --installed PREFIX), and of busctl calling Status on the same device, on a device of its own in
# a temporary folder. Calls alternate between the three so load drifts hit all alike.
# usage: bench/cli_latency.sh [--installed PREFIX] [N]   (N calls of each, default 50)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${VANTREL_BUILD_DIR:-$ROOT/build}"
BIN="$BUILD/bin"
PROGRAM="$BIN/vantrel-device"
if [ "${1:-}" = --installed ]; then
    [ $# -ge 2 ] && [ -x "$2/bin/vantrel-device" ] || { echo "cli_latency.sh: no PREFIX/bin/vantrel-device" >&2; exit 2; }
    PROGRAM="$2/bin/vantrel-device"
    shift 2
fi
N="${1:-50}"
case "$N" in ''|*[!0-9]*|0) echo "usage: bench/cli_latency.sh [--installed PREFIX] [N]" >&2; exit 2 ;; esac

"$ROOT/sim/vantrel-commands.sh" ensure-built
DIR="$(mktemp -d "${TMPDIR:-/tmp}/vantrel-cli-latency.XXXXXX")"
stop_device() {
    "$BIN/vantrel-device" --device "$DIR" stop >/dev/null 2>&1 || true
    rm -rf -- "$DIR"
}
trap stop_device EXIT
"$BIN/vantrel-device" --device "$DIR" start >/dev/null

wrapper=("$ROOT/vantrel" device status --json --device "$DIR")
direct=("$PROGRAM" --device "$DIR" status --json)
busctl=(busctl --address="$(cat "$DIR/run/bus.address")" call com.apple.springboard /com/apple/springboard
        com.quennick.vantrel.Device Status)
"${wrapper[@]}" >/dev/null  # warm-up: caches, and a build if one is due
"${direct[@]}" >/dev/null
"${busctl[@]}" >/dev/null

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
busctl_us=()
for ((i = 0; i < N; i++)); do
    wrapper_us+=("$(elapsed_us "${wrapper[@]}")")
    direct_us+=("$(elapsed_us "${direct[@]}")")
    busctl_us+=("$(elapsed_us "${busctl[@]}")")
done

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
w="$(median "${wrapper_us[@]}")"
d="$(median "${direct_us[@]}")"
b="$(median "${busctl_us[@]}")"
awk -v w="$w" -v d="$d" -v b="$b" -v n="$N" -v p="$PROGRAM" 'BEGIN {
    printf "calls of each:                        %d\n", n
    printf "./vantrel device status --json:       %.1f ms (median)\n", w / 1000
    printf "%s status --json: %.1f ms (median)\n", p, d / 1000
    printf "busctl call ... Status:               %.1f ms (median)\n", b / 1000
    printf "the program against busctl:           %.2fx (target 1.2x)\n", d / b
    printf "the wrapper beyond the program:       %.1f ms (target 5 ms)\n", (w - d) / 1000
}'
