#!/usr/bin/env bash
# The suite as a new user first runs it: a fresh clone of this repository's HEAD (commit first)
# in a private folder (mktemp -d, 0700) under a path of over 60 characters, built and tested
# there. Nothing in the suite may depend on where the checkout sits. Not part of ./vantrel test:
# it builds everything again.
#   tests/clean_clone.sh [--user NAME] [--ci | -R REGEX]
#     --user: as that user, when run as root; --ci: the whole of .ci/run (the sanitizer half too)
set -euo pipefail
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
user=""
if [ "${1:-}" = --user ]; then
    [ $# -ge 2 ] || { echo "clean_clone.sh: --user needs a name" >&2; exit 2; }
    user="$2"
    shift 2
fi
if [ -n "$user" ] && [ "$user" != "$(id -un)" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "clean_clone.sh: --user needs root" >&2; exit 2; }
    id -u "$user" >/dev/null 2>&1 || { echo "clean_clone.sh: no user $user" >&2; exit 2; }
    # Their own environment (HOME, PATH, TMPDIR unset), as after a login; they read this
    # repository, nothing of its build trees.
    exec setpriv --reuid="$(id -u "$user")" --regid="$(id -g "$user")" --init-groups --reset-env \
        bash "$source_dir/tests/clean_clone.sh" "$@"
fi
private="$(mktemp -d)"
clone="$private/a-fresh-clone-in-a-private-folder-with-a-path-over-sixty-characters"
trap 'rm -rf "$private"' EXIT
[ "$(stat -c %a "$private")" = 700 ] || { echo "clean_clone.sh: $private is not private (mode $(stat -c %a "$private"))" >&2; exit 1; }
# Another user's repository (or worktree) is the one this script stands in: trusted for the clone
# alone, through a global configuration of its own (git ignores safe.directory given with -c).
printf '[safe]\n\tdirectory = *\n' > "$private/gitconfig"
GIT_CONFIG_GLOBAL="$private/gitconfig" git clone -q "$source_dir" "$clone"
echo "clean_clone.sh: testing a clone of $(git -C "$clone" rev-parse --short HEAD) in $clone as $(id -un)"
cd "$clone"
if [ "${1:-}" = --ci ]; then
    exec .ci/run
fi
./vantrel test "$@"
