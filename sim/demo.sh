#!/usr/bin/env bash
# ./vantrel demo: a walk through Vantrel on a fresh simulated device, printing the status bar
# after each step and drawing it (vantrel-view screenshot) into a folder named at the end. The
# device lives in its own folder and is stopped at the end.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${VANTREL_BUILD_DIR:-$ROOT/build}"
DEVICE="${VANTREL_DEMO_DEVICE:-$BUILD/demo-device}"
BIN="$BUILD/bin"
PICTURES="${VANTREL_DEMO_PICTURES:-$BUILD/demo-pictures}"

# Bold headings only on a terminal, and never when NO_COLOR is set.
if [ -t 1 ] && [ -z "${NO_COLOR:-}" ]; then
    bold() { printf '\n\033[1m%s\033[0m\n' "$*"; }
else
    bold() { printf '\n%s\n' "$*"; }
fi
dev() { "$BIN/vantrel-device" --device "$DEVICE" "$@"; }
set_() { "$BIN/vantrel-settings" --device "$DEVICE" "$@" >/dev/null; }
# One picture per step, numbered in the order taken; a picture that cannot be drawn is said,
# and the walk goes on.
shots=0
shot() {
    shots=$((shots + 1))
    local file
    file="$(printf '%s/%02d-%s.png' "$PICTURES" "$shots" "$1")"
    "$BIN/vantrel-view" screenshot "$file" --device "$DEVICE" --width 720 >/dev/null || echo "   (no picture: $file)"
}
bar() { printf '   %s\n' "$(dev status)"; shot "${1:-status-bar}"; }

stop_device() { dev stop >/dev/null 2>&1 || true; }
trap stop_device EXIT

bold "Building and installing"
"$ROOT/vantrel" setup
"$ROOT/sim/vantrel-commands.sh" ensure-built
dev start --fresh
rm -rf "$PICTURES"
mkdir -p "$PICTURES"
echo "   device: $DEVICE (SpringBoard pid $(cat "$DEVICE/run/SpringBoard.pid"))"
bar

bold "Hide single items: alarm and location"
set_ set alarm true
set_ set location true
bar hide-alarm-location
set_ set alarm false
set_ set location false

bold "Hide all"
set_ set hideall true
bar hide-all
set_ set hideall false
bar hide-all-off

bold "Clock modes (the device: Wi-Fi \"Quennick Home\", its own addresses and free memory)"
titles=("Time" "Wi-Fi IP address" "Cellular IP address" "Wi-Fi network name" "Free memory")
for mode in 0 1 2 3 4; do
    set_ set clockformat "$mode"
    printf '   mode %d, %-20s %s\n' "$mode" "${titles[$mode]}:" "$(dev status)"
    shot "clock-mode-$mode"
done
set_ set ramtime true
set_ set clockformat 4
printf '   time and free memory:      %s\n' "$(dev status)"
shot clock-time-and-memory
set_ set ramtime false
set_ press timeText: --text "'Hello, Quennick'" --button Save
set_ set clockformat 5
printf '   mode 5, custom text:       %s\n' "$(dev status)"
shot clock-custom-text

bold "Custom carrier text"
set_ press carrierText: --text "Vantrel Demo" --button Save
set_ set customcarrier true
bar custom-carrier

bold "Faked LTE and tethering (data faker page; Wi-Fi off to see the cellular type)"
dev set -q wifiNetwork=none
set_ datafaker set enablefaker true
set_ datafaker set datatype 6
set_ datafaker set enabletethering true
bar faked-lte-tethering
set_ datafaker set enabletethering false
set_ datafaker set enablefaker false
dev set -q "wifiNetwork=Quennick Home"

bold "Icon tester: only the clock, battery and Bluetooth"
set_ icontester set clock0 true
set_ icontester set battery7 true
set_ icontester set bluetooth11 true
set_ icontester set enabletester true
bar icon-tester
set_ icontester set enabletester false
bar icon-tester-off

bold "Lock screen hide-all"
set_ set hideallls true
dev lock -q
echo "   locked:"; bar lock-screen-hide-all
dev unlock -q
echo "   unlocked (the first unlock thanks the user once):"; bar first-unlock-alert
alert=$(dev status --json | python3 -c 'import json,sys; a=json.load(sys.stdin)["alerts"]; print(a[0]["id"] if a else "")')
if [ -n "$alert" ]; then
    echo "   alert: $(dev status --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["alerts"][0]["title"].replace(chr(10), " "))')"
    dev alert -q "$alert" OK
fi
set_ set hideallls false

bold "One Activator tap on the status bar: the clock mode moves on"
set_ set clockformat 0
bar before-tap
dev tap -q
bar after-tap

bold "Animated custom text: two texts revealed in turn, a frame every 0.2 s"
set_ press reverseString: --text "'Vantrel'" --button Save
set_ set animatedcustomtime true
set_ set clockformat 5
echo "   armed; the first pass starts 10 s later"
last=""
end=$((SECONDS + 19))
frames=0
while [ $SECONDS -lt $end ]; do
    t=$(dev status --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["time"]["text"])')
    if [ "$t" != "$last" ]; then
        printf '   frame: %s\n' "$t"
        last="$t"
        [ $((frames % 8)) -eq 0 ] && shot animation-frame
        frames=$((frames + 1))
    fi
    [ $frames -gt 40 ] && break
    sleep 0.1
done
set_ set animatedcustomtime false
set_ set clockformat 0
bar back-to-time

bold "Done"
stop_device
trap - EXIT
cat <<EOF
   Pictures of each step: $PICTURES
   The device is stopped. Explore by hand:
     ./vantrel device start                start it; then status [--json], tap, lock, unlock, watch,
                                           set carrier=Quennick (device keys lists the keys), log, stop
     ./vantrel settings show               the main page;  ./vantrel settings set hideall true
     ./vantrel settings                    the Settings app at a prompt (help lists its commands)
     ./vantrel device view                 the running device in a browser: open the address it prints
     ./vantrel springboard                 SpringBoard in this terminal (t tap, l lock, n Notification Centre, q quit)
EOF
