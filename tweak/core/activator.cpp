#include "tweak/core/activator.h"

#include <cstdint>
#include <limits>
#include <mutex>

#include "platform/activator/activator.h"
#include "platform/foundation/log.h"
#include "platform/uikit/alert.h"
#include "shared/settings.h"
#include "tweak/core/state.h"

namespace vantrel::tweak {

namespace {

Class vantrelTweakClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        platform::registerActivatorClasses();
        Class cls = objc_registerClass("VantrelTweak", objc_registerClass("NSObject", nullptr));
        class_addMethod(object_getClass(classAsObject(cls)), sel_registerName("load"), runtime::imp(&VantrelTweak_load), "v@:");
        class_addMethod(cls, sel_registerName(platform::kLAListenerReceiveEventSelector),
                        runtime::imp(&VantrelTweak_activator_receiveEvent_), "v@:@@");
    });
    return objc_getClass("VantrelTweak");
}

int64_t nextClockMode(int64_t mode) {
    if (mode == static_cast<int64_t>(kLastClockMode)) return static_cast<int64_t>(ClockMode::Time);
    // A mode past the cycle keeps counting up; only the very last integer has nowhere to go.
    if (mode == std::numeric_limits<int64_t>::max()) return 0;
    return mode + 1;
}

}  // namespace

void VantrelTweak_load(id, SEL) {
    auto& activator = platform::LAActivator::sharedInstance();
    // Only on the first run: afterwards the user's own choice of gesture stands.
    if (!activator.hasSeenListenerWithName(kBundleIdentifier))
        activator.assignEvent_toListenerWithName(*platform::LAEvent::eventWithName(kStatusBarSingleTapEvent), kBundleIdentifier);
    // The one instance lives as long as SpringBoard.
    static objc_object* listener = nullptr;
    if (!listener) {
        listener = new objc_object();
        listener->isa = vantrelTweakClass();
    }
    activator.registerListener_forName(listener, kBundleIdentifier);
}

void VantrelTweak_activator_receiveEvent_(id, SEL, id, id) {
    if (isAnimatingText) {
        platform::UIAlertView::create(kAnimationWarningTitle, kAnimationWarningMessage, nullptr, "OK")->show();
        return;
    }
    prefs = readPreferences(PreferenceFile::Main);
    int64_t mode = readKey<MainKey::clockformat>(prefs);
    prefs.reset();

    auto written = updatePreferences(PreferenceFile::Main, [&](Dictionary& update) {
        update[keyName(MainKey::clockformat)] = Value(static_cast<long long>(nextClockMode(mode)));
    });
    if (!written) {
        // A step that is not in the file is not announced: the next tap starts from the file.
        NSLog("Clock mode gesture dropped: %s", written.failure.c_str());
        return;
    }
    postSettingsChanged(ItemCode::ClockMode);
}

void loadVantrelTweak() { msgSend<void>(classAsObject(vantrelTweakClass()), sel_registerName("load")); }

}  // namespace vantrel::tweak
