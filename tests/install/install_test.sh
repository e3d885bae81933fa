#!/usr/bin/env bash
# install_test.sh SOURCE BUILD VERSION
set -euo pipefail
src="$1" build="$2" version="$3"
fail() { echo "FAIL: $*" >&2; exit 1; }
tmp="$(mktemp -d /tmp/vantrel-install-test.XXXXXX)"
prefix="$tmp/prefix" home="$tmp/home"
mkdir -m 700 "$home"
stop_device() { env -i HOME="$home" "$prefix/bin/vantrel-device" stop >/dev/null 2>&1 || true; }
trap 'stop_device; rm -rf "$tmp"' EXIT

VANTREL_BUILD_DIR="$build" "$src/vantrel" install --prefix "$prefix" >/dev/null

# The checkout and the build tree hidden under empty folders where a mount namespace is to be
# had; the programs then cannot reach them even by a compiled-in path.
hide=()
if unshare -m true 2>/dev/null; then hide=(unshare -m); elif unshare -rm true 2>/dev/null; then hide=(unshare -rm); fi
[ ${#hide[@]} -gt 0 ] || echo "note: no mount namespace here; the checkout stays visible" >&2
out="$("${hide[@]}" env -i HOME="$home" PATH="$prefix/bin:/usr/bin:/bin" SRC="$src" BUILD="$build" HIDE="${#hide[@]}" bash -c '
    set -e
    if [ "$HIDE" != 0 ]; then mount -t tmpfs none "$SRC"; mount -t tmpfs none "$BUILD" 2>/dev/null || true; fi
    cd /
    vantrel-device --version
    vantrel-device keys | grep -c "^batteryLevel" | sed "s/^/keys:/"
    vantrel-device start --fresh >/dev/null
    VANTREL_DEVICE="$HOME/.local/state/vantrel/device" vantrel-device status --json >/dev/null && echo status:ok
    vantrel-device stop >/dev/null
    # Completion as bash asks for it, from the tables of the installed program.
    source "$(dirname "$(command -v vantrel-device)")/../share/bash-completion/completions/vantrel-device"
    for line in "vantrel-device st" "vantrel-device --device /tm" "vantrel-device set batteryL" "vantrel-device status --j"; do
        COMP_LINE="$line" COMP_POINT=${#line}
        _vantrel_programs
        echo "complete:$line:${COMPREPLY[*]}"
    done')" || fail "the installed programs did not run: $out"
# The same through zsh's completion function, its builtins standing in to say what they were given.
zsh_out="$(env -i HOME="$home" PATH="$prefix/bin:/usr/bin:/bin" zsh -fc '
    compadd() { print -r -- "compadd $*"; }
    _files() { print -r -- "_files $*"; }
    for line in "vantrel-device st" "vantrel-device set batteryL" "vantrel-device --device /tm" "vantrel-settings main set hideallls"; do
        words=(${=line}) CURRENT=${#${=line}}
        print -r -- "complete:$line:$(source '"$prefix"'/share/zsh/site-functions/_vantrel | tr "\n" "|")"
    done')" || fail "zsh's completion did not run: $zsh_out"
for expected in "vantrel-device st:compadd -S  --|compadd -- start stop status|" \
    "vantrel-device set batteryL:compadd -S  -- batteryLevel=|compadd --|" "vantrel-device --device /tm:_files -/|" \
    "vantrel-settings main set hideallls:compadd -S  --|compadd -- hideallls|"; do
    grep -qxF "complete:$expected" <<<"$zsh_out" || fail "zsh completing '${expected%%:*}': $zsh_out"
done
grep -qx "vantrel-device $version" <<<"$out" || fail "--version said: $out"
grep -qx "keys:1" <<<"$out" || fail "keys said: $out"
grep -qx "status:ok" <<<"$out" || fail "the device did not run: $out"
for expected in "st:start stop status" "--device /tm:/tmp" "set batteryL:batteryLevel=" "status --j:--json"; do
    grep -qxF "complete:vantrel-device ${expected%%:*}:${expected#*:}" <<<"$out" || fail "completing '${expected%%:*}': $out"
done
for page in vantrel-device vantrel-settings vantrel-view; do
    grep -q '^\.SH COMMANDS' "$prefix/share/man/man1/$page.1" || fail "no man page of $page"
done
[ -f "$home/.local/state/vantrel/device/Library/MobileSubstrate/DynamicLibraries/Vantrel.dylib" ] ||
    fail "the default device is not under \$XDG_STATE_HOME's default"

VANTREL_BUILD_DIR="$build" "$src/vantrel" uninstall --prefix "$prefix" >/dev/null
[ ! -e "$prefix" ] || fail "uninstall left: $(find "$prefix")"
echo ok
