#!/usr/bin/env bash
# The device's commands of ./vantrel: device, settings, springboard, demo and bench.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${VANTREL_BUILD_DIR:-$ROOT/build}"
BIN="$BUILD/bin"

die() { echo "vantrel: $*" >&2; exit 1; }

# Builds what the device needs when it is missing or older than its sources.
ensure_built() {
    if [ ! -f "$BUILD/build.ninja" ]; then
        "$ROOT/vantrel" setup
        cmake -S "$ROOT" -B "$BUILD" -G Ninja >/dev/null
    fi
    cmake --build "$BUILD" --target vantrel-device vantrel-springboard vantrel-settings Vantrel VantrelPrefs \
        -j "$(nproc)" >/dev/null || die "the build failed (run ./vantrel build to see why)"
}

# --device DIR may come anywhere; the programs take it the same way.
device_args=()
rest=()
while [ $# -gt 0 ]; do
    case "$1" in
        --device) [ $# -ge 2 ] || die "--device needs a folder"; device_args=(--device "$2"); shift 2 ;;
        --device=*) device_args=(--device "${1#--device=}"); shift ;;
        *) rest+=("$1"); shift ;;
    esac
done
set -- "${rest[@]+"${rest[@]}"}"

cmd="${1:-}"
shift || true

dev() { "$BIN/vantrel-device" "${device_args[@]+"${device_args[@]}"}" "$@"; }
settings() { "$BIN/vantrel-settings" "${device_args[@]+"${device_args[@]}"}" "$@"; }

case "$cmd" in
    device)
        ensure_built
        sub="${1:-}"
        [ -n "$sub" ] || die "usage: ./vantrel device start|stop|restart|install|log|status [--json]|tap|lock|unlock|nc open|nc close|alert ID BUTTON|set KEY=VALUE... [--device DIR] [--fresh]"
        dev "$@" ;;
    settings)
        ensure_built
        dev start >/dev/null  # its errors still reach the terminal
        if [ $# -eq 0 ]; then
            settings
        else
            settings "$@"
        fi ;;
    springboard)
        ensure_built
        # The terminal takes the device over: SpringBoard draws here and quits with q.
        dev start --interactive "$@" ;;
    demo)
        exec "$ROOT/sim/demo.sh" "$@" ;;
    bench)
        # A Release tree of its own; every benchmark program, or those named.
        bench_dir="$ROOT/build-bench"
        "$ROOT/vantrel" setup
        [ -f "$bench_dir/build.ninja" ] || cmake -S "$ROOT" -B "$bench_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTREL_BENCH=ON >/dev/null
        cmake --build "$bench_dir" -j "$(nproc)" >/dev/null || die "the benchmark build failed"
        for b in "$bench_dir"/bin/*_bench; do
            name="$(basename "$b")"
            if [ $# -eq 0 ] || printf '%s\n' "$@" | grep -qx "$name"; then "$b"; fi
        done ;;
    *)
        die "unknown command '$cmd' (commands: setup build test fuzz device settings springboard demo bench)" ;;
esac
