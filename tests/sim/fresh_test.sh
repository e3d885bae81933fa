#!/usr/bin/env bash
# fresh_test.sh PROGRAM: vantrel-fresh's answer for each way a build's list and stamp can stand.
set -euo pipefail
fresh="$(realpath "$1")"
tmp="$(mktemp -d "${TMPDIR:-/tmp}/vantrel-fresh.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT
failed=0

# expect WANT NAME SETUP: a checkout whose sources are older than the stamp, changed by SETUP,
# then checked.
expect() {
    local want="$1" name="$2" setup="$3" got=0
    rm -rf "$tmp/c" && mkdir -p "$tmp/c/src" && cd "$tmp/c"
    echo a > src/a.cpp
    echo b > src/b.h
    touch -d '2026-01-01 00:00:00.100' src/a.cpp src/b.h src
    touch -d '2026-01-01 00:00:00.200' stamp
    printf '%s\n' "$tmp/c" "$tmp/c/src" "$tmp/c/src/a.cpp" "$tmp/c/src/b.h" > list
    eval "$setup"
    "$fresh" "$tmp/c" list stamp 2>/dev/null || got=$?
    if [ "$got" != "$want" ]; then
        echo "FAIL: $name: exit $got, not $want" >&2
        failed=1
    fi
}

expect 0 "nothing newer" ":"
expect 1 "a file edited after the build started" "touch -d '2026-01-01 00:00:01' src/b.h"
expect 1 "an edit within the same second" "touch -d '2026-01-01 00:00:00.300' src/a.cpp"
expect 1 "a file added (its folder moved)" "touch -d '2026-01-01 00:00:05' src"
expect 0 "a file gone whose folder did not move" "rm src/a.cpp; touch -d '2026-01-01 00:00:00.100' src"
expect 1 "a list written for another checkout" "sed -i '1s|.*|/elsewhere|' list"
expect 1 "an empty list" ": > list"
expect 2 "no stamp" "rm stamp"
expect 2 "no list" "rm list"
[ $failed -eq 0 ] && echo ok
exit $failed
