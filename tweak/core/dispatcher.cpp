#include "tweak/core/dispatcher.h"

#include "platform/uikit/alert.h"
#include "shared/settings.h"
#include "tweak/core/hooks.h"
#include "tweak/core/startup.h"

namespace vantrel::tweak {

void SpringBoard_applicationDidFinishLaunching_(id self, SEL _cmd, id application) {
    callPrevious<&SpringBoard_applicationDidFinishLaunching_>(self, _cmd, application);
    static bool subscribed = false;  // once per SpringBoard process, never removed
    if (subscribed) return;
    subscribed = true;
    subscribe(kSettingsChangedNotification, settingsChanged);
}

namespace {

void showToggleError() {
    platform::UIAlertView::create("Toggle Error", "Sorry, but there has been a problem with this toggle!", nullptr, "OK")->show();
}

id aggregator() {
    static Class cls = nullptr;  // looked up on the first notification that needs it
    if (!cls) cls = objc_getClass("SBStatusBarStateAggregator");
    if (!cls) return nullptr;
    return msgSend<id>(classAsObject(cls), sel("sharedInstance"));
}

bool testerEnabled() { return readKey<IconTesterKey::enabletester>(readPreferences(PreferenceFile::IconTester)); }

}  // namespace

void settingsChanged(CFNotificationCenterRef, void*, const std::string&, const void*, const platform::Dictionary* userInfo) {
    std::optional<int32_t> code = userInfo ? platform::readInt32(platform::lookup(*userInfo, kItemToggledKey)) : std::nullopt;
    if (!code) return showToggleError();

    id self = aggregator();
    switch (*code) {
    case ItemCode::DataFaker: msgSend<void>(self, sel("forceUpdate:"), 5); break;
    case ItemCode::TetheringFaker: msgSend<void>(self, sel("forceUpdate:"), ItemCode::Tethering); break;
    case ItemCode::AllItems: msgSend<void>(self, sel("iconTesterInit")); break;
    case ItemCode::IconTesterItem:
        if (testerEnabled()) msgSend<void>(self, sel("iconTesterSetIcon"));
        break;
    case ItemCode::SyncIndicator:
        if (testerEnabled()) msgSend<void>(self, sel("syncStatus"));
        break;
    default: msgSend<void>(self, sel("forceUpdate:"), static_cast<int>(*code)); break;
    }
}

// ---- What start-up installs

const HookTable& launchHooks() {
    static const HookTable table{
        {},
        {Hook<&SpringBoard_applicationDidFinishLaunching_>::replacing("SpringBoard", "applicationDidFinishLaunching:")},
    };
    return table;
}

}  // namespace vantrel::tweak
