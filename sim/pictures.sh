#!/bin/bash
# ./vantrel pictures: the gallery's pictures drawn from a device of their own (a temporary folder,
# stopped afterwards) with a fixed clock and the fresh device's hardware. Each picture is
# `vantrel-view screenshot` of the device as set; beside it the Status JSON it was drawn from
# (its pid zeroed) lands in tests/view/pictures/, where the golden test draws it again. Run
# twice, it changes no byte.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${VANTREL_BUILD_DIR:-$ROOT/build}"
BIN="$BUILD/bin"
FRONT="${VANTREL_FRONT:-./vantrel}"

usage="usage: $FRONT pictures
Rebuilds docs/pictures/ (SVG) and docs/gallery.md from a fresh device of its own with the clock
at 2026-12-08 09:41: the status bar in every clock mode, each of the 26 items alone, Hide All,
the battery low and charging, the lock screen, an alert, Notification Centre with and without
its bar. The Status JSON of each goes to tests/view/pictures/ for the golden test
(ctest -R view.pictures), which the run ends with."
for a in "$@"; do
    case "$a" in
        -h|--help) echo "$usage"; exit 0 ;;
        *) echo "vantrel: 'pictures' takes no '$a'" >&2; echo "$usage" >&2; exit 2 ;;
    esac
done

CLOCK=2026-12-08T09:41:00
PICTURES="$ROOT/docs/pictures"
FIXTURES="$ROOT/tests/view/pictures"
GALLERY="$ROOT/docs/gallery.md"

[ -f "$BUILD/build.ninja" ] || cmake -S "$ROOT" -B "$BUILD" -G Ninja >/dev/null
cmake --build "$BUILD" --target vantrel-fresh vantrel-device vantrel-springboard vantrel-settings vantrel-view Vantrel \
    VantrelPrefs test_pictures >/dev/null || { echo "vantrel: the build failed (./vantrel build shows why)" >&2; exit 1; }

WORK="$(mktemp -d "${TMPDIR:-/tmp}/vantrel-pictures.XXXXXX")"
DEVICE="$WORK/device"
started=0
finish() {
    [ $started -eq 1 ] && "$BIN/vantrel-device" --device "$DEVICE" stop >/dev/null 2>&1
    rm -rf -- "$WORK"
}
trap finish EXIT
mkdir "$WORK/pictures" "$WORK/fixtures"

device() { "$BIN/vantrel-device" --device "$DEVICE" "$@"; }
# Settings changes, one a line, in one session of the Settings app.
settings() { printf '%s\n' "$@" | "$BIN/vantrel-settings" --device "$DEVICE" --session >/dev/null; }

device start --fresh >/dev/null
started=1

manifest=()
gallery=()
# shoot NAME FRAMING CAPTION: the device's picture (FRAMING bar, lock, nc or phone) and its status.
shoot() {
    local name="$1" framing="$2" caption="$3" flag=()
    [ "$framing" = bar ] || flag=("--$framing")
    # The clock is set again for each, so a slow run never crosses a minute.
    device set "clock=$CLOCK" -q
    device status --json | sed 's/"springboardPid":[0-9]*/"springboardPid":0/' >"$WORK/fixtures/$name.json"
    "$BIN/vantrel-view" --device "$DEVICE" screenshot "$WORK/pictures/$name.svg" "${flag[@]}" >/dev/null
    manifest+=("$name $framing")
    gallery+=("| ![$caption](pictures/$name.svg) | $caption |")
}

# The clock modes.
shoot clock-12-hour bar "The time, 12-hour (mode 0)"
settings "set 1224 true"
shoot clock-24-hour bar "The time, 24-hour (mode 0)"
settings "set 1224 false" "set clockformat 1"
shoot clock-wifi-ip bar "The Wi-Fi IP address (mode 1)"
settings "set clockformat 2"
shoot clock-cellular-ip bar "The cellular data IP address (mode 2)"
settings "set ramtime true" "set clockformat 4"
shoot clock-time-and-memory bar "The time and free memory (mode 4, ramtime)"
settings "set ramtime false" "set clockformat 3"
shoot clock-wifi-name bar "The Wi-Fi network name (mode 3)"
settings "set clockformat 4"
shoot clock-free-memory bar "The free memory (mode 4)"
settings "set clockformat 5"
shoot clock-custom-text bar "The custom text (mode 5)"
settings "set nowplaying true"
shoot clock-now-playing bar "The track now playing (mode 5, nowplaying)"
settings "set nowplaying false" "set clockformat 0"

# Each item alone, through the icon tester.
keys=(clock0 dnd1 airplane2 signal3 carrier4 wifi5 unknown6 battery7 batterypercent8 bluetoothbatterypercent9
      bluetoothbattery10 bluetooth11 tty12 alarm13 unknown14 unknown15 location16 portrait17 unknown18 airplay19
      siri20 vpn21 callforwarding22 activity23 unknow24 unknown25)
names=(clock donotdisturb airplane signalbars carrierlogo wifi unknown1 battery batterypercent1 batterypercent2
       smallbattery1 bluetooth tty alarm unknown2 unknown3 location portraitlock unknown4 airplay assistant vpn
       callforwarding activity music unknown5)
previous="icontester set enabletester true"
for i in "${!keys[@]}"; do
    settings "$previous" "icontester set ${keys[$i]} true"
    shoot "$(printf 'item-%02d-%s' "$i" "${names[$i]}")" bar "Item $i (${names[$i]}) alone, through the icon tester"
    previous="icontester set ${keys[$i]} false"
done
settings "$previous" "icontester set enabletester false"

settings "set hideall true"
shoot hide-all bar "Hide All: no items, the wallpaper under the bar"
settings "set hideall false"
device set batteryLevel=20 -q
shoot battery-low bar "The battery at 20 %: red"
device set charging=true -q
shoot battery-charging bar "The battery charging: green"
device set batteryLevel=87 charging=false -q

# The lock screen, then the first unlock's notice.
device lock -q
shoot lock-screen lock "The lock screen: the device's clock and date, 12-hour"
settings "set 1224 true"
shoot lock-screen-24-hour lock "The lock screen, 24-hour"
settings "set 1224 false"
device unlock -q
shoot alert phone "An alert: the first unlock's notice"
id="$(device status --json | sed -n 's/.*"alerts":\[{"id":\([0-9]*\).*/\1/p')"
[ -n "$id" ] || { echo "vantrel: the first unlock showed no alert" >&2; exit 1; }
device alert "$id" OK -q

# Notification Centre with its own bar, then (after a respring) without.
device nc open -q
shoot notification-centre nc "Notification Centre on its Today view, with its own status bar"
device nc close -q
settings "set ncstatus false"  # the switch "Notification Centre Status Bar" off
device restart >/dev/null
device nc open -q
shoot notification-centre-without-bar nc "Notification Centre without its own status bar (ncstatus)"
device nc close -q

# The new set replaces the old: files of a picture no longer made go.
mkdir -p "$PICTURES" "$FIXTURES"
find "$PICTURES" "$FIXTURES" -maxdepth 1 -type f \( -name '*.svg' -o -name '*.png' -o -name '*.json' \) -delete
cp "$WORK/pictures/"*.svg "$PICTURES/"
cp "$WORK/fixtures/"*.json "$FIXTURES/"
printf '%s\n' "${manifest[@]}" >"$FIXTURES/pictures.txt"
{
    echo "# Gallery"
    echo
    echo "The simulated phone as \`vantrel-view screenshot\` draws it, at 2026-12-08 09:41 on a fresh"
    echo "device. \`./vantrel pictures\` makes them all again; the golden test (\`ctest -R view.pictures\`)"
    echo "fails when a drawing changes."
    echo
    echo "| Picture | What it shows |"
    echo "|---|---|"
    printf '%s\n' "${gallery[@]}"
} >"$GALLERY"
echo "vantrel: ${#manifest[@]} pictures in docs/pictures, their statuses in tests/view/pictures, docs/gallery.md"
# Each picture must be what its status draws.
"$BIN/test_pictures" --gtest_brief=1 >/dev/null || { echo "vantrel: the pictures do not match their statuses (test_pictures)" >&2; exit 1; }
