#!/usr/bin/env bash
# The device's commands of ./vantrel: device, settings, springboard, demo and bench.
set -euo pipefail
# ./vantrel sources this file with ROOT already found; run on its own, it finds it.
[ "${BASH_SOURCE[0]}" != "$0" ] && [ -n "${ROOT:-}" ] || ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${VANTREL_BUILD_DIR:-$ROOT/build}"
BIN="$BUILD/bin"

die() { echo "vantrel: $*" >&2; exit 1; }

# Builds what the device needs when it is missing or older than its sources. A stamp from the
# last good build stands in for asking CMake, which costs ~200 ms a call: anything newer under
# the source folders (a changed folder too, so added and removed files count) means rebuild.
STAMP="$BUILD/vantrel-built.stamp"
DEVICE_TARGETS=(vantrel-device vantrel-springboard vantrel-settings Vantrel VantrelPrefs)
ensure_built() {
    local t fresh=1
    [ -f "$STAMP" ] && [ -f "$BUILD/CMakeCache.txt" ] || fresh=0
    for t in vantrel-device vantrel-springboard vantrel-settings; do [ -x "$BIN/$t" ] || fresh=0; done
    if [ $fresh -eq 1 ]; then
        # Bash's own globbing and test, not find: no process to start.
        local f was_globstar=0
        shopt -q globstar && was_globstar=1
        shopt -s globstar
        for f in "$ROOT/CMakeLists.txt" "$BUILD/CMakeCache.txt" "$ROOT"/{platform,shared,tweak,prefs,packaging,sim}/**; do
            [ "$f" -nt "$STAMP" ] && { fresh=0; break; }
        done
        [ $was_globstar -eq 1 ] || shopt -u globstar
        [ $fresh -eq 0 ] || return 0
    fi
    local new=0
    if [ ! -f "$BUILD/build.ninja" ]; then
        new=1
        "$ROOT/vantrel" setup
        cmake -S "$ROOT" -B "$BUILD" -G Ninja >&2
    fi
    [ -x "$BIN/vantrel-device" ] || new=1
    # Stamped with the build's start, so an edit made while it runs still counts as newer.
    local started
    started="$(mktemp "$BUILD/.vantrel-build.XXXXXX")"
    # A first build takes minutes: show its progress (on stderr, stdout stays the command's).
    if [ $new -eq 1 ]; then
        cmake --build "$BUILD" --target "${DEVICE_TARGETS[@]}" -j "$(nproc)" >&2
    else
        cmake --build "$BUILD" --target "${DEVICE_TARGETS[@]}" -j "$(nproc)" >/dev/null
    fi || { rm -f "$started"; die "the build failed (run ./vantrel build to see why)"; }
    mv -f "$started" "$STAMP"
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
        exec "$BIN/vantrel-device" "${device_args[@]+"${device_args[@]}"}" "$@" ;;
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
    ensure-built)
        # The demo builds through the same check.
        ensure_built ;;
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
