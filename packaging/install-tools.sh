#!/usr/bin/env bash
# ./vantrel install and uninstall: install-tools.sh install|uninstall BUILD PREFIX
# install runs the "tools" component's install() rules into PREFIX and writes down, in
# PREFIX/share/vantrel/installed-files, every file it put there and every folder it created;
# uninstall removes exactly those files, then those folders once they are empty.
set -euo pipefail
umask 022
cmd="$1" build="$2" prefix="$3"
RECORD=share/vantrel/installed-files

die() { echo "vantrel: $*" >&2; exit 1; }

case "$prefix" in /*) ;; *) prefix="$PWD/$prefix" ;; esac
while [ "${#prefix}" -gt 1 ] && [ "${prefix%/}" != "$prefix" ]; do prefix="${prefix%/}"; done
[ "$prefix" != / ] || die "refusing / as the prefix"

# A recorded path is relative, plain and inside the prefix: nothing else is ever removed.
plain() {
    case "/$1/" in
        *//*|*/./*|*/../*) return 1 ;;
    esac
    [ -n "$1" ] && [ "${1#/}" = "$1" ]
}

if [ "$cmd" = install ]; then
    # Staged first: the folders the install needs, so that those it creates are known.
    stage="$(mktemp -d)"
    trap 'rm -rf "$stage"' EXIT
    cmake --install "$build" --component tools --prefix "$stage" >/dev/null
    created=()
    [ -d "$prefix" ] || created+=(.)
    while IFS= read -r dir; do
        dir="${dir#./}"
        [ "$dir" = . ] || [ -d "$prefix/$dir" ] || created+=("$dir")
    done < <(cd "$stage" && find . -type d | LC_ALL=C sort)
    old=()
    [ -f "$prefix/$RECORD" ] && mapfile -t old < "$prefix/$RECORD"
    cmake --install "$build" --component tools --prefix "$prefix" >/dev/null || die "the install into $prefix failed"
    {
        # What an earlier install created stays ours to remove.
        [ ${#old[@]} -eq 0 ] || printf '%s\n' "${old[@]}"
        for d in "${created[@]+"${created[@]}"}"; do printf 'd %s\n' "$d"; done
        (cd "$stage" && find . ! -type d | LC_ALL=C sort) | while IFS= read -r f; do printf 'f %s\n' "${f#./}"; done
        printf 'f %s\n' "$RECORD"
    } | LC_ALL=C sort -u > "$prefix/$RECORD.new"
    mv -f "$prefix/$RECORD.new" "$prefix/$RECORD"
    echo "installed into $prefix (./vantrel uninstall --prefix $prefix removes it)"
    case ":$PATH:" in *":$prefix/bin:"*) ;; *) echo "note: $prefix/bin is not on your PATH" ;; esac
    exit 0
fi

[ -f "$prefix/$RECORD" ] || die "nothing installed in $prefix (no $prefix/$RECORD)"
[ -O "$prefix/$RECORD" ] || die "$prefix/$RECORD is not yours: nothing removed"
mapfile -t entries < "$prefix/$RECORD"
files=() dirs=()
for e in "${entries[@]+"${entries[@]}"}"; do
    [ -n "$e" ] || continue
    kind="${e%% *}" path="${e#* }"
    if [ "$kind" = d ] && [ "$path" = . ]; then dirs+=(.); continue; fi
    plain "$path" || die "$prefix/$RECORD names '$path', which is not a plain path inside $prefix: nothing removed"
    case "$kind" in f) files+=("$path") ;; d) dirs+=("$path") ;; *) die "$prefix/$RECORD is damaged: nothing removed" ;; esac
done
cd "$prefix" || die "cannot enter $prefix"
# Each file as a file (a link as a link), never what a folder holds.
for f in "${files[@]+"${files[@]}"}"; do
    if [ -L "$f" ] || [ -f "$f" ]; then rm -f -- "$f"; fi
done
# Deepest first; a folder something else now lives in stays.
ours=0
while IFS= read -r d; do
    if [ "$d" = . ]; then ours=1; continue; fi
    rmdir -- "$d" 2>/dev/null || true
done < <(printf '%s\n' "${dirs[@]+"${dirs[@]}"}" | awk '{ print gsub("/", "/") "\t" $0 }' | LC_ALL=C sort -rn | cut -f2-)
kept=()
for d in "${dirs[@]+"${dirs[@]}"}"; do [ "$d" != . ] && [ -d "$d" ] && kept+=("$d"); done
cd /
# The prefix itself when install made it.
[ $ours -eq 0 ] || rmdir -- "$prefix" 2>/dev/null || true
echo "uninstalled from $prefix"
[ ${#kept[@]} -eq 0 ] || echo "kept, as they hold files install did not put there: ${kept[*]}"
