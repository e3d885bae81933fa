#!/usr/bin/env bash
# Many rounds of SpringBoard and the Settings app stopped and killed around writes, on a fresh
# device of its own; ends with "N acknowledged, M lost" and exits 0 only when nothing was lost.
#   tests/e2e_reliability/chaos.sh [ROUNDS] [SEED]     (build first: ./vantrel build)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
bin="$root/build/bin"
rounds="${1:-500}"
seed="${2:-1}"
for program in vantrel-chaos vantrel-device vantrel-settings; do
    [[ -x "$bin/$program" ]] || { echo "chaos.sh: $bin/$program is missing (./vantrel build)" >&2; exit 2; }
done
folder="$(mktemp -d /tmp/vantrel-chaos-XXXXXX)"
cleanup() {
    "$bin/vantrel-device" --device "$folder" stop >/dev/null 2>&1 || true
    rm -rf "$folder"
}
trap cleanup EXIT
"$bin/vantrel-device" --device "$folder" start --fresh >/dev/null
"$bin/vantrel-chaos" --device "$folder" --rounds "$rounds" --seed "$seed"
