// VantrelListController: the root page, the shared page on the main file with more on top. It
// remembers "ncstatus" as it was at creation and asks for a respring after a change or a
// suspension that leaves it different, follows the tweak's animation state, prepares the
// thank-you music and has the dialogs, links and restart of dialogs.cpp.
#include "prefs/page_class.h"

namespace vantrel::prefs {

bool isAnimationRunning = false;

namespace {

constexpr char kMusicPath[] = "/Library/PreferenceBundles/Vantrel.bundle/chiptune.m4a";

// The truth of the stored "ncstatus" against its value when the page was created.
bool ncstatusChanged(const VantrelListController* page) {
    int32_t now = boolValue(platform::lookup(page->_settings, keyName(MainKey::ncstatus))) ? 1 : 0;
    return now != page->timeinNC;
}

void promptIfNcstatusChanged(id self) {
    if (ncstatusChanged(mainPage(self))) msgSend<void>(self, S("respringPrompt"));
}

struct MainPage : PageHooks {
    static constexpr PageInfo info{PreferenceFile::Main, "Vantrel", mainPageCode};

    static void loaded(id self) {
        auto* page = mainPage(self);
        page->timeinNC = static_cast<int32_t>(integerValue(platform::lookup(page->_settings, keyName(MainKey::ncstatus))));
    }

    static void created(id self) {
        // Each page subscribes again; harmless, the callback only sets one flag.
        subscribe(kAnimationChangedNotification, animationChangedCallback);
        msgSend<void>(self, S("loadMusic"));
    }

    static void stored(id self, const std::string& key) {
        if (key == keyName(MainKey::ncstatus)) promptIfNcstatusChanged(self);
    }

    static void suspended(id self) { promptIfNcstatusChanged(self); }
};

PSValue enabled(id self, SEL) {
    const Value* v = platform::lookup(mainPage(self)->_settings, keyName(MainKey::enabled));
    return v ? PSValue(*v) : std::nullopt;
}

void setEnabled_(id self, SEL, PSValue value) {
    auto* page = mainPage(self);
    setPageValue(page, keyName(MainKey::enabled), std::move(value));
    msgSend<bool>(self, S("sendSettings"));
}

void respringPrompt(id self, SEL) {
    auto* page = mainPage(self);
    if (!page->respringAlertView)
        page->respringAlertView = platform::UIAlertView::create(
            "Restart SpringBoard?", "SpringBoard needs to be restarted in order to apply your change.", &page->alertDelegate,
            "Respring Later", {"Respring Now"});
    page->respringAlertView->setTag(RespringTag);
    page->respringAlertView->show();
}

void loadMusic(id self, SEL) {
    auto* page = mainPage(self);
    std::string error;
    page->audioPlayer = platform::AVAudioPlayer::initWithContentsOfURL(std::string("file://") + kMusicPath, &error);
    if (!page->audioPlayer) return;  // the thank-you dialog then plays nothing
    page->audioPlayer->prepareToPlay();
    page->audioPlayer->setNumberOfLoops(-1);
    page->audioPlayer->prepareToPlay();
}

void viewDidAppear_(id, SEL, bool) {}

using AlertField = std::shared_ptr<platform::UIAlertView> VantrelListController::*;
template <AlertField F>
std::shared_ptr<platform::UIAlertView> alertGetter(id self, SEL) {
    return mainPage(self)->*F;
}
template <AlertField F>
void alertSetter(id self, SEL, std::shared_ptr<platform::UIAlertView> alert) {
    mainPage(self)->*F = std::move(alert);
}

id carrierTextButton(id self, SEL) { return mainPage(self)->_carrierTextButton; }
void setCarrierTextButton_(id self, SEL, id button) { mainPage(self)->_carrierTextButton = button; }

}  // namespace

VantrelListController* mainPage(id self) {
    return static_cast<VantrelListController*>(static_cast<platform::PSListController*>(self));
}

void animationChangedCallback(CFNotificationCenterRef, void*, const std::string&, const void*, const Dictionary* userInfo) {
    if (!userInfo) return;
    auto flag = platform::readInt32(platform::lookup(*userInfo, kAnimationFlagKey));
    if (flag == 1)
        isAnimationRunning = true;
    else if (flag == 0)
        isAnimationRunning = false;
}

void registerMainPage(Class cls) {
    using runtime::imp;
    using Alert = std::shared_ptr<platform::UIAlertView>;
    registerPage<MainPage>(cls);
    registerMainPageDialogs(cls);
    class_addMethod(cls, S("enabled"), imp<PSValue>(enabled), "@@:");
    class_addMethod(cls, S("setEnabled:"), imp<void, PSValue>(setEnabled_), "v@:@");
    class_addMethod(cls, S("respringPrompt"), imp<void>(respringPrompt), "v@:");
    class_addMethod(cls, S("loadMusic"), imp<void>(loadMusic), "v@:");
    class_addMethod(cls, S("viewDidAppear:"), imp<void, bool>(viewDidAppear_), "v@:c");
    class_addMethod(cls, S("carrierAlertView"), imp<Alert>(alertGetter<&VantrelListController::carrierAlertView>), "@@:");
    class_addMethod(cls, S("setCarrierAlertView:"), imp<void, Alert>(alertSetter<&VantrelListController::carrierAlertView>),
                    "v@:@");
    class_addMethod(cls, S("timeAlertView"), imp<Alert>(alertGetter<&VantrelListController::timeAlertView>), "@@:");
    class_addMethod(cls, S("setTimeAlertView:"), imp<void, Alert>(alertSetter<&VantrelListController::timeAlertView>), "v@:@");
    class_addMethod(cls, S("reverseStringView"), imp<Alert>(alertGetter<&VantrelListController::reverseStringView>), "@@:");
    class_addMethod(cls, S("setReverseStringView:"), imp<void, Alert>(alertSetter<&VantrelListController::reverseStringView>),
                    "v@:@");
    class_addMethod(cls, S("respringAlertView"), imp<Alert>(alertGetter<&VantrelListController::respringAlertView>), "@@:");
    class_addMethod(cls, S("setRespringAlertView:"), imp<void, Alert>(alertSetter<&VantrelListController::respringAlertView>),
                    "v@:@");
    class_addMethod(cls, S("carrierTextButton"), imp<id>(carrierTextButton), "@@:");
    class_addMethod(cls, S("setCarrierTextButton:"), imp<void, id>(setCarrierTextButton_), "v@:@");
}

}  // namespace vantrel::prefs
