#!/bin/sh
# Stages the device-root tree with cmake --install and packs it: build-deb.sh CMAKE BUILD CONTROL POSTINST OUT
set -eu
umask 022
cmake="$1" build="$2" control="$3" postinst="$4" out="$5"
stage="$(dirname "$out")/root"
rm -rf "$stage"
"$cmake" --install "$build" --component device --prefix "$stage" >/dev/null
mkdir -p "$stage/DEBIAN"
cp "$control" "$stage/DEBIAN/control"
cp "$postinst" "$stage/DEBIAN/postinst"
chmod 0644 "$stage/DEBIAN/control"
chmod 0755 "$stage/DEBIAN/postinst"
# Reproducible, as Debian's builds are: the same sources give the same bytes. Every time is the
# last commit's (SOURCE_DATE_EPOCH, which dpkg-deb also gives the ar members), owners are root's and
# dpkg-deb sorts the members by name.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    src="$(cd "$(dirname "$0")/.." && pwd)"
    SOURCE_DATE_EPOCH="$(git -C "$src" log -1 --format=%ct 2>/dev/null || true)"
    # Outside a git checkout: the packaging's own time.
    [ -n "$SOURCE_DATE_EPOCH" ] || SOURCE_DATE_EPOCH="$(stat -c %Y "$src/packaging/control.in")"
fi
export SOURCE_DATE_EPOCH
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
# gzip -1: xz takes over 10 s for the debug-info libraries here, and this runs on every build
# that changes them.
dpkg-deb --root-owner-group -Zgzip -z1 --build "$stage" "$out.tmp" >/dev/null
mv -f "$out.tmp" "$out"
