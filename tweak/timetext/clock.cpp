#include <cstdio>

#include "platform/foundation/dateformatter.h"
#include "platform/uikit/alert.h"
#include "shared/settings.h"
#include "tweak/core/hooks.h"
#include "tweak/core/services.h"
#include "tweak/core/startup.h"
#include "tweak/core/state.h"
#include "tweak/timetext/pattern.h"
#include "tweak/timetext/timetext.h"

namespace vantrel::tweak {

namespace {

// The settings one step needs, taken from `prefs` at once: the step calls on through
// SpringBoard, and nothing it reaches may change what this step decided from.
struct ClockSettings {
    int64_t mode = 0;
    bool use24Hour = false;
    bool ramTime = false;
    bool animated = false;
    bool nowPlaying = false;
    std::string timeText;
    std::string reverseText;
};

ClockSettings readClockSettings() {
    prefs = readPreferences(PreferenceFile::Main);
    ClockSettings s;
    s.mode = readKey<MainKey::clockformat>(prefs);
    s.use24Hour = readKey<MainKey::clock1224>(prefs) != 0;
    s.ramTime = readKey<MainKey::ramtime>(prefs);
    s.animated = readKey<MainKey::animatedcustomtime>(prefs);
    s.nowPlaying = readKey<MainKey::nowplaying>(prefs);
    s.timeText = readKey<MainKey::timeText>(prefs);
    s.reverseText = readKey<MainKey::reverseString>(prefs);
    prefs.reset();
    return s;
}

void send(id self, const char* selector) { msgSend<void>(self, sel(selector)); }

void endTimer(std::shared_ptr<platform::Timer>& timer) {
    if (!timer) return;
    timer->invalidate();
    timer.reset();  // only ever cleared after the timer is invalidated
}

// A refresh timer is only made while none exists: one already running keeps its interval.
void keepRefreshTimer(id self, double interval) {
    if (clockRefreshTimer) return;
    clockRefreshTimer = platform::Timer::scheduled(interval, platform::Timer::Repeats::Yes,
                                                   [self](platform::Timer&) { send(self, "refreshTimer"); });
}

void armAnimation(id self) {
    isAnimatingText = true;
    platform::Dictionary armed{{kAnimationFlagKey, 1}};
    msgSend<void>(self, sel("notifySettings:"), static_cast<const platform::Dictionary*>(&armed));
    const char* action = isReverse ? "animateText" : "reverseAnimateText";
    platform::Timer::scheduled(10.0, platform::Timer::Repeats::No, [self, action](platform::Timer&) { send(self, action); });
}

std::string memoryPattern(const ClockSettings& s) {
    char megabytes[32];
    (void)std::snprintf(megabytes, sizeof megabytes, "'%d MB RAM'", static_cast<int>(getAvailableMemory()));
    if (!s.ramTime) return megabytes;
    return std::string(s.use24Hour ? "HH:mm - " : "hh:mm a - ") + megabytes;
}

void customTextStep(id self, ClockEntry entry, const ClockSettings& s) {
    endTimer(clockRefreshTimer);
    if (s.animated) {
        timeText = s.timeText;
        reverseText = s.reverseText;
        if (!isAnimatingText) armAnimation(self);
        // The pattern in force stays until the first frame.
        send(self, "_updateTimeItems");
        return;
    }
    if (isAnimatingText) {
        if (entry != ClockEntry::Forced) send(self, "carrierChangeAlert");
        send(self, "_updateTimeItems");
        return;
    }
    timeText = s.timeText;
    id media = objc_getClass("SBMediaController")
                   ? msgSend<id>(classAsObject(objc_getClass("SBMediaController")), sel("sharedInstance"))
                   : nullptr;
    bool playing = msgSend<bool>(media, sel("isPlaying"));
    if (s.nowPlaying) {
        if (!nowPlayingTimer)
            nowPlayingTimer = platform::Timer::scheduled(6.0, platform::Timer::Repeats::Yes,
                                                         [self](platform::Timer&) { send(self, "toggleNowPlayingString"); });
        std::string track = msgSend<std::string>(self, sel("nowPlayingString"));
        timeText = playing ? "'\u266B " + doubledQuotes(track) + "'" : "'\u266B Stopped!'";
    } else {
        endTimer(nowPlayingTimer);
    }
    customTime = platform::utf8ToUtf16(timeText);
    setTimeItemPattern(self, customTime);
    keepRefreshTimer(self, 1.0);
    send(self, "_updateTimeItems");
}

}  // namespace

void clockModeStep(id self, ClockEntry entry) {
    const ClockSettings s = readClockSettings();
    if (s.mode < 0 || s.mode > static_cast<int64_t>(kLastClockMode)) return;
    const auto mode = static_cast<ClockMode>(s.mode);
    if (mode == ClockMode::CustomText) return customTextStep(self, entry, s);

    // Modes 0-4 wait for a running animation; its end applies the stored mode.
    if (isAnimatingText) {
        send(self, "carrierChangeAlert");
        return;
    }
    switch (mode) {
    case ClockMode::Time:
        endTimer(clockRefreshTimer);
        setTimeItemPattern(self, std::string(s.use24Hour ? "HH:mm" : "hh:mm a"));
        send(self, "_updateTimeItems");
        send(self, "_restartTimeItemTimer");
        break;
    case ClockMode::WifiAddress:
    case ClockMode::NetworkName: {
        if (entry != ClockEntry::Forced) endTimer(clockRefreshTimer);
        std::string fact =
            mode == ClockMode::WifiAddress ? msgSend<std::string>(self, sel("getIPAddress:"), true) : currentWifiSSID();
        setTimeItemPattern(self, quotedLiteral(fact));
        send(self, "_updateTimeItems");
        if (entry == ClockEntry::Forced) keepRefreshTimer(self, 10.0);
        break;
    }
    case ClockMode::DataAddress:
        setTimeItemPattern(self, quotedLiteral(msgSend<std::string>(self, sel("getDataIPAddress:"), true)));
        send(self, "_updateTimeItems");
        if (entry != ClockEntry::Refresh) keepRefreshTimer(self, 10.0);
        break;
    case ClockMode::FreeMemory:
        setTimeItemPattern(self, memoryPattern(s));
        send(self, "_updateTimeItems");
        if (entry != ClockEntry::Refresh) keepRefreshTimer(self, 2.0);
        break;
    case ClockMode::CustomText: break;  // above
    }
}

void SBStatusBarStateAggregator__updateTimeItems(id self, SEL _cmd) {
    callPrevious<&SBStatusBarStateAggregator__updateTimeItems>(self, _cmd);
}

void SBStatusBarStateAggregator__restartTimeItemTimer(id self, SEL _cmd) {
    prefs = readPreferences(PreferenceFile::Main);
    int64_t mode = readKey<MainKey::clockformat>(prefs);
    prefs.reset();
    // Only the clock keeps SpringBoard's minute timer; every other mode has its own refresh.
    if (mode != static_cast<int64_t>(ClockMode::Time)) return;
    endTimer(clockRefreshTimer);
    callPrevious<&SBStatusBarStateAggregator__restartTimeItemTimer>(self, _cmd);
}

void SBStatusBarStateAggregator__resetTimeItemFormatter(id self, SEL _cmd) {
    callPrevious<&SBStatusBarStateAggregator__resetTimeItemFormatter>(self, _cmd);
    clockModeStep(self, ClockEntry::Reset);
}

void refreshTimer(id self, SEL) { clockModeStep(self, ClockEntry::Refresh); }

void carrierChangeAlert(id, SEL) {
    platform::UIAlertView::create("Time Text",
                                  "Currently, the animation loop is running.\n\nYour selection will become active as "
                                  "soon the current animation loop has finished.",
                                  nullptr, "OK")
        ->show();
}

void notifySettings_(id, SEL, const platform::Dictionary* userInfo) {
    postNotification(kAnimationChangedNotification, userInfo ? *userInfo : platform::Dictionary{});
}

// ---- What start-up installs (the added methods of the whole subsystem)

const HookTable& timeTextHooks() {
    static const HookTable table{
        {
            adding<&notifySettings_>("notifySettings:"),
            adding<&carrierChangeAlert>("carrierChangeAlert"),
            adding<&forceUpdate_>("forceUpdate:"),
            adding<&refreshTimer>("refreshTimer"),
            adding<&randomChar_>("randomChar:"),
            adding<&animateText>("animateText"),
            adding<&reverseAnimateText>("reverseAnimateText"),
            adding<&shuffle_array_>("shuffle:array:"),
            adding<&reShuffle_>("reShuffle:"),
        },
        {
            Hook<&SBStatusBarStateAggregator__updateTimeItems>::replacing("SBStatusBarStateAggregator", "_updateTimeItems"),
            Hook<&SBStatusBarStateAggregator__restartTimeItemTimer>::replacing("SBStatusBarStateAggregator",
                                                                               "_restartTimeItemTimer"),
            Hook<&SBStatusBarStateAggregator__resetTimeItemFormatter>::replacing("SBStatusBarStateAggregator",
                                                                                 "_resetTimeItemFormatter"),
        },
    };
    return table;
}

}  // namespace vantrel::tweak
