#!/usr/bin/env bash
# The device's commands of ./vantrel: device, settings, springboard, demo and bench.
set -euo pipefail
# ./vantrel sources this file with ROOT already found; run on its own, it finds it.
[ "${BASH_SOURCE[0]}" != "$0" ] && [ -n "${ROOT:-}" ] || ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${VANTREL_BUILD_DIR:-$ROOT/build}"
BIN="$BUILD/bin"

source "$ROOT/sim/build-state.sh"

# The common case before the rest of this file is even read: a tree built from its sources as they
# are, and a command that goes straight to its program. Anything else takes the long way below.
if built_fresh; then
    case "${1:-}" in
        settings) shift; exec "$BIN/vantrel-settings" "$@" ;;
        springboard) shift; exec "$BIN/vantrel-device" springboard "$@" ;;
        device)
            case " ${*:2} " in
                "  " | *" view "* | *" screenshot "* | *" -h "* | *" --help "*) ;;
                *) shift; exec "$BIN/vantrel-device" "$@" ;;
            esac ;;
    esac
    built=1
fi

die() { echo "vantrel: $*" >&2; exit 1; }

# Builds what the device needs when it is missing or older than its sources. The stamp and list
# of the last good build stand in for asking CMake, which costs ~200 ms a call.
DEVICE_TARGETS=(vantrel-fresh vantrel-device vantrel-springboard vantrel-settings vantrel-view Vantrel VantrelPrefs)
ensure_built() {
    [ "${built:-0}" -eq 1 ] && return 0
    built_fresh && return 0
    local new=0
    if [ ! -f "$BUILD/build.ninja" ]; then
        new=1
        "$ROOT/vantrel" setup
        cmake -S "$ROOT" -B "$BUILD" -G Ninja >&2
    fi
    [ -x "$BIN/vantrel-device" ] || new=1
    begin_build
    # A first build takes minutes: show its progress (on stderr, stdout stays the command's).
    local status=0
    if [ $new -eq 1 ]; then
        cmake --build "$BUILD" --target "${DEVICE_TARGETS[@]}" -j "$(nproc)" >&2 || status=$?
    else
        cmake --build "$BUILD" --target "${DEVICE_TARGETS[@]}" -j "$(nproc)" >/dev/null || status=$?
    fi
    end_build $status
    [ $status -eq 0 ] || die "the build failed (run ./vantrel build to see why)"
}

demo_usage="usage: ./vantrel demo
Starts a fresh simulated device in build/demo-device, walks it through every feature printing the
status bar after each step, and stops it."
bench_usage="usage: ./vantrel bench [NAME...]
Builds the benchmarks in build-bench/ (Release) and runs them all, or those NAMEd.
Figures and targets: bench/README.md"

# The word after the device's options, in $device_word: which program a device command belongs
# to. A variable, not an echo: a command substitution would fork.
device_command() {
    device_word=
    while [ $# -gt 0 ]; do
        case "$1" in
            --device) shift 2 || return 0 ;;
            --device=*) shift ;;
            *) device_word="$1"; return 0 ;;
        esac
    done
}

# The commands of vantrel-device, from its own help (only when a word went astray).
device_verbs() {
    "$BIN/vantrel-device" --help 2>/dev/null | sed -n '/^Subcommands:/,/^$/s/^  \([a-z]\+\) .*/\1/p'
}

cmd="${1:-}"
shift || true

case "$cmd" in
    device)
        # The programs parse their own words (and --device); this only picks the program.
        ensure_built
        device_command "$@"
        case "$device_word" in
            view)
                # vantrel-view is the view itself: its words without "view".
                words=()
                dropped=0
                while [ $# -gt 0 ]; do
                    case "$1" in
                        --device) words+=("$1" "${2-}"); shift 2 || shift ;;
                        view) [ $dropped -eq 1 ] && words+=("$1") || dropped=1; shift ;;
                        *) words+=("$1"); shift ;;
                    esac
                done
                exec "$BIN/vantrel-view" "${words[@]+"${words[@]}"}" ;;
            screenshot) exec "$BIN/vantrel-view" "$@" ;;
            ""|-h|--help)
                # The device's help, and the two commands vantrel-view answers for it.
                "$BIN/vantrel-device" "$@" || exit $?
                case " $* " in
                    *" -h "*|*" --help "*) printf '%s\n' "The view (vantrel-view; ./vantrel device COMMAND --help for each):" \
                        "  view                        The device in a browser: a page on 127.0.0.1 with a token" \
                        "  screenshot                  Write the status bar as FILE.svg or FILE.png" ;;
                esac
                exit 0 ;;
        esac
        exec "$BIN/vantrel-device" "$@" ;;
    settings)
        ensure_built
        exec "$BIN/vantrel-settings" "$@" ;;
    springboard)
        ensure_built
        # The terminal takes the device over: SpringBoard draws here and quits with q.
        exec "$BIN/vantrel-device" springboard "$@" ;;
    ensure-built)
        # The demo builds through the same check.
        ensure_built ;;
    demo)
        for a in "$@"; do
            case "$a" in
                -h|--help) echo "$demo_usage"; exit 0 ;;
                *) echo "vantrel: 'demo' takes no '$a'" >&2; echo "$demo_usage" >&2; exit 2 ;;
            esac
        done
        exec "$ROOT/sim/demo.sh" ;;
    bench)
        bench_dir="$ROOT/build-bench"
        for a in "$@"; do
            case "$a" in
                -h|--help) echo "$bench_usage"; exit 0 ;;
                -*) echo "vantrel: 'bench' takes no '$a'" >&2; echo "$bench_usage" >&2; exit 2 ;;
            esac
        done
        # A Release tree of its own; every benchmark program, or those named.
        "$ROOT/vantrel" setup
        [ -f "$bench_dir/build.ninja" ] || cmake -S "$ROOT" -B "$bench_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTREL_BENCH=ON >/dev/null
        cmake --build "$bench_dir" -j "$(nproc)" >/dev/null || die "the benchmark build failed"
        for name in "$@"; do
            [ -x "$bench_dir/bin/$name" ] || { echo "vantrel: no benchmark '$name' (they are: $(cd "$bench_dir/bin" && echo *_bench))" >&2; exit 2; }
        done
        for b in "$bench_dir"/bin/*_bench; do
            name="$(basename "$b")"
            if [ $# -eq 0 ] || printf '%s\n' "$@" | grep -qx "$name"; then "$b"; fi
        done ;;
    *)
        # ./vantrel's own, with "did you mean"; run on its own, this file just says no.
        # A device command typed at the top level (or a near miss of one, when no command of
        # ./vantrel's own is nearer) is shown as the device's.
        if declare -F distance >/dev/null && [ -x "$BIN/vantrel-device" ] && [ -n "$cmd" ] && [ "${cmd#-}" = "$cmd" ]; then
            own=0
            for known in "${COMMANDS[@]}"; do [ "$(distance "$cmd" "$known")" -le 2 ] && own=1; done
            far=1; [ ${#cmd} -ge 5 ] && far=2
            best=
            best_d=999
            for verb in $(device_verbs) view screenshot; do
                [ $own -eq 0 ] || break
                d="$(distance "$cmd" "$verb")"
                [ "$d" -le $far ] || continue
                # A tie goes to the word of the same length: "stauts" is status swapped, not start.
                d=$((d * 2 + (${#verb} != ${#cmd})))
                [ "$d" -lt "$best_d" ] && { best="$verb"; best_d="$d"; }
            done
            if [ -n "$best" ]; then
                echo "vantrel: unknown command '$cmd'" >&2
                echo "did you mean './vantrel device $best'?" >&2
                exit 2
            fi
        fi
        if declare -F usage_error >/dev/null; then usage_error "unknown command '$cmd'" "$cmd" "" "${COMMANDS[@]}"; fi
        echo "vantrel: unknown command '$cmd'" >&2
        exit 2 ;;
esac
