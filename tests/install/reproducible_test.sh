#!/usr/bin/env bash
# reproducible_test.sh SOURCE BUILD: the tweak's package packed twice, a second apart and from
# stages made afresh, is the same to the byte.
set -euo pipefail
src="$1" build="$2"
tmp="$(mktemp -d /tmp/vantrel-reproducible.XXXXXX)"
trap 'rm -rf "$tmp"' EXIT
pack() {
    mkdir -p "$tmp/$1"
    "$src/packaging/build-deb.sh" cmake "$build" "$build/packages/control" "$src/packaging/postinst" "$tmp/$1/package.deb"
}
pack first
sleep 1
pack second
cmp "$tmp/first/package.deb" "$tmp/second/package.deb" || {
    echo "FAIL: two packs differ" >&2
    diff <(dpkg-deb -c "$tmp/first/package.deb") <(dpkg-deb -c "$tmp/second/package.deb") >&2 || true
    exit 1
}
echo ok
