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
# gzip -1: xz takes over 10 s for the debug-info libraries here, and this runs on every build
# that changes them.
dpkg-deb --root-owner-group -Zgzip -z1 --build "$stage" "$out.tmp" >/dev/null
mv -f "$out.tmp" "$out"
